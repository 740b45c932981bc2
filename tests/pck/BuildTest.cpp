// The package writer's sequential building: the records, names and entries that a new
// package gets, laid out as the format fixes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/Workers.h"
#include "pck/PckCodecs.h"
#include "pck/PckCompact.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

std::vector<PckRecord> RecordsOnDisk(const std::string& base) { return RecordsOf(ReadFile(PckIndexName(base))); }

}  // namespace


class SequentialBuilding : public PackageDirTest {
 protected:
  std::string base = Path("pkg");
};

TEST_F(SequentialBuilding, CVerAndShopItemExampleLaysOutRecordForRecord) {
  const std::string cver = PseudoRandom(37, 1, true), shop = PseudoRandom(500, 2, true);
  PckWriter w;
  ASSERT_EQ(w.Create(base), 0);
  TextSource a(cver), b(shop);
  ASSERT_EQ(w.BeginDir(""), 0);
  ASSERT_EQ(w.AppendFile("CVer.txt", a, 1), 0);
  ASSERT_EQ(w.BeginDir("mb"), 0);
  ASSERT_EQ(w.AppendFile("ShopItem.txt", b, 1), 0);
  ASSERT_EQ(w.EndDir(), 0);
  ASSERT_EQ(w.EndDir(), 0);
  ASSERT_EQ(w.Close(), 0);
  ASSERT_FALSE(w.CommitFailed());

  const PackageBytes bytes = LoadPackageBytes(base);
  EXPECT_EQ(bytes.idx.size(), 64u + 6 * 33);
  EXPECT_EQ(bytes.nam, std::string("\x01\0" "\x09" "CVer.txt\0" "\x03" "mb\0" "\x0d" "ShopItem.txt\0", 30));

  const PckHeader h = PckHeader::Decode(reinterpret_cast<const uint8_t*>(bytes.idx.data()));
  EXPECT_STREQ(h.magic, kPckMagic);
  EXPECT_EQ(h.version, 2u);
  EXPECT_EQ(h.blockSize, 65536u);
  EXPECT_EQ(h.deadBytes, 0u);

  const std::vector<PckRecord> rec = RecordsOf(bytes.idx);
  ASSERT_EQ(rec.size(), 6u);
  EXPECT_EQ(rec[0].type, kPckFolder);
  EXPECT_EQ(rec[0].nameOffset, 0u);
  EXPECT_EQ(rec[0].ChildCount(), 2u);
  EXPECT_EQ(rec[0].Span(), 4u);
  EXPECT_EQ(rec[1].type, kPckFile);
  EXPECT_EQ(rec[1].nameOffset, 2u);
  EXPECT_EQ(rec[1].dataOffset, 0u);
  EXPECT_EQ(rec[1].size, 37u);
  EXPECT_EQ(rec[2].type, kPckFolder);
  EXPECT_EQ(rec[2].nameOffset, 12u);
  EXPECT_EQ(rec[2].ChildCount(), 1u);
  EXPECT_EQ(rec[2].Span(), 1u);
  EXPECT_EQ(rec[3].type, kPckFile);
  EXPECT_EQ(rec[3].nameOffset, 16u);
  EXPECT_EQ(rec[3].size, 500u);
  // End records carry nothing but their type.
  for (size_t i : {4u, 5u}) {
    const std::string raw = bytes.idx.substr(64 + 33 * i, 33);
    EXPECT_EQ(raw, std::string("\x03", 1) + std::string(32, '\0')) << i;
  }

  // CVer's entry: header [0, count 1, zeros], one table slot of 0, one block.
  const std::string& dat = bytes.dat;
  EXPECT_EQ(dat.substr(0, 16), std::string("\0\x01\0\0\0", 5) + std::string(11, '\0'));
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(dat.data() + 16)), 0u);
  const uint32_t payload = GetLE32(reinterpret_cast<const uint8_t*>(dat.data() + 21));
  EXPECT_EQ(rec[3].dataOffset, 16 + 4 + 5 + payload);
  EXPECT_EQ(dat.size(), rec[3].dataOffset + EntryLengthAt(dat, rec[3].dataOffset));

  // Digests are of the plain content.
  uint8_t d[16];
  Md5(cver.data(), cver.size(), d);
  EXPECT_EQ(Md5Hex(rec[1].digest), Md5Hex(d));
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"CVer.txt", cver}, {"mb/ShopItem.txt", shop}}));
}

TEST_F(SequentialBuilding, RootOnlyPackageHoldsTwoRecordsAndTwoNameBytes) {
  PckWriter w;
  ASSERT_EQ(w.Create(base), 0);
  ASSERT_EQ(w.BeginDir(""), 0);
  ASSERT_EQ(w.EndDir(), 0);
  w.Close();
  const PackageBytes bytes = LoadPackageBytes(base);
  EXPECT_EQ(bytes.idx.size(), 64u + 2 * 33);
  EXPECT_EQ(bytes.nam, std::string("\x01\0", 2));
  EXPECT_EQ(bytes.dat, "");
  const std::vector<PckRecord> rec = RecordsOf(bytes.idx);
  ASSERT_EQ(rec.size(), 2u);
  EXPECT_EQ(rec[0].Span(), 0u);
  EXPECT_EQ(rec[0].ChildCount(), 0u);
  EXPECT_EQ(rec[1].type, kPckFolderEnd);
  PckReader r;
  ASSERT_EQ(r.Open(base), 0);
  EXPECT_EQ(r.Find(""), 0);
  EXPECT_EQ(r.OpenDir("")->Next(), nullptr);
}

TEST_F(SequentialBuilding, PackageClosedBeforeItsRootHoldsNoRecords) {
  PckWriter w;
  ASSERT_EQ(w.Create(base), 0);
  w.Close();
  EXPECT_FALSE(w.CommitFailed());
  EXPECT_EQ(ReadFile(PckIndexName(base)).size(), kPckHeaderSize);
  PckReader r;
  ASSERT_EQ(r.Open(base), 0);
  EXPECT_EQ(r.Find(""), -1);
  // Editing needs a root to add to.
  PckWriter edit;
  EXPECT_EQ(edit.OpenForEdit(base), -1);
}

TEST_F(SequentialBuilding, CallsOutOfOrderFailAndLeaveTheRestIntact) {
  PckWriter w;
  TextSource src("data");
  EXPECT_EQ(w.BeginDir(""), -1);  // nothing is open yet
  ASSERT_EQ(w.Create(base), 0);
  EXPECT_EQ(w.AppendFile("early.txt", src, 0), -1);  // no folder is open
  EXPECT_EQ(w.BeginDir("notroot"), -1);              // the first folder is the root
  ASSERT_EQ(w.BeginDir(""), 0);
  EXPECT_EQ(w.BeginDir(""), -1);
  ASSERT_EQ(w.AppendFile("Same.txt", src, 0), 0);
  TextSource again("other");
  EXPECT_EQ(w.AppendFile("SAME.TXT", again, 0), -1);
  EXPECT_EQ(w.BeginDir("same.txt"), -1);
  EXPECT_EQ(w.AppendFile("a/b", again, 0), -1);  // a name, not a path
  ASSERT_EQ(w.BeginDir("sub"), 0);
  TextSource inSub("in sub");
  ASSERT_EQ(w.AppendFile("same.txt", inSub, 0), 0);  // another folder
  // Edits that restructure the tree wait until the open folders are closed.
  TextSource edit("edit");
  EXPECT_EQ(w.AddFile("added.txt", edit, 0), -1);
  EXPECT_EQ(w.MakeDir("made"), -1);
  EXPECT_EQ(w.Delete("Same.txt"), -1);
  ASSERT_EQ(w.EndDir(), 0);
  ASSERT_EQ(w.EndDir(), 0);
  EXPECT_EQ(w.EndDir(), 0);  // nothing left to close
  EXPECT_EQ(w.AppendFile("late.txt", src, 0), -1);
  EXPECT_EQ(w.BeginDir("late"), -1);
  // Once the root is closed the tree is whole and may be edited.
  TextSource after("after");
  EXPECT_EQ(w.AddFile("sub/added.txt", after, 1), 0);
  w.Close();
  EXPECT_EQ(ImageOf(base).files,
            (FileMap{{"Same.txt", "data"}, {"sub/same.txt", "in sub"}, {"sub/added.txt", "after"}}));
}

TEST_F(SequentialBuilding, CloseEndsFoldersLeftOpen) {
  PckWriter w;
  ASSERT_EQ(w.Create(base, 16), 0);
  TextSource src(PseudoRandom(40, 3));
  ASSERT_EQ(w.BeginDir(""), 0);
  ASSERT_EQ(w.BeginDir("a"), 0);
  ASSERT_EQ(w.BeginDir("b"), 0);
  ASSERT_EQ(w.AppendFile("f", src, 2), 0);
  w.Close();
  ASSERT_FALSE(w.CommitFailed());
  const std::vector<PckRecord> rec = RecordsOnDisk(base);
  ASSERT_EQ(rec.size(), 7u);
  EXPECT_EQ(rec[0].Span(), 5u);
  EXPECT_EQ(rec[1].Span(), 3u);
  EXPECT_EQ(rec[2].Span(), 1u);
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"a/b/f", PseudoRandom(40, 3)}}));
}

TEST_F(SequentialBuilding, CreateStartsOverAndChecksTheBlockSize) {
  ASSERT_EQ(BuildPackage(base, {{"old/a.txt", "old"}, {"old/b.txt", PseudoRandom(5000, 4)}}), "");
  PckWriter w;
  EXPECT_EQ(w.Create(base, 0), -1);
  EXPECT_EQ(w.Create(base, kPckMaxBlockSize + 1), -1);
  ASSERT_EQ(w.Create(base, 100), 0);
  TextSource src("new");
  ASSERT_EQ(w.BeginDir(""), 0);
  ASSERT_EQ(w.AppendFile("new.txt", src, 1), 0);
  w.Close();
  PckReader r;
  ASSERT_EQ(r.Open(base), 0);
  EXPECT_EQ(r.Header().blockSize, 100u);
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"new.txt", "new"}}));
  EXPECT_EQ(ReadFile(PckNameTableName(base)), std::string("\x01\0\x08new.txt\0", 11));
}

// ---------------------------------------------------------------- editing

// The block workers and the DES implementations change how fast packages are made,
// never their bytes: under every setting a package is built, edited, copied entry by
// entry into another (stored blocks taken as they are where the codec fits, re-encoded
// where it does not) and compacted, and all of it matches one thread with libgcrypt
// byte for byte, and verifies.
class BuildSettings : public PackageDirTest {
 protected:
  static constexpr uint32_t kBlock = 4096;

  ~BuildSettings() override {
    CWorkers::SetThreads(SIZE_MAX);
    PckSetDesBackend(DesBackend::Fastest);
  }

  // Sizes around the limit of a whole-file job (8 blocks) and past it, in every codec.
  static FileMap Files() {
    FileMap files;
    const size_t sizes[] = {0, 1, kBlock - 1, kBlock, 8 * kBlock, 8 * kBlock + 1, 37 * kBlock + 5};
    uint32_t seed = 1;
    for (size_t size : sizes)
      for (int codec = 0; codec < 3; ++codec, ++seed)
        files["d" + std::to_string(codec) + "/f" + std::to_string(size)] = PseudoRandom(size, seed, seed % 3 != 0);
    return files;
  }

  std::vector<PackageBytes> Make(const std::string& dir) {
    MakeDirs(dir);
    PackageOptions options;
    options.blockSize = kBlock;
    for (const auto& [path, content] : Files()) options.codecs[path] = path[1] - '0';
    EXPECT_EQ(BuildPackage(dir + "/a", Files(), options), "");
    {
      PckWriter w;
      EXPECT_EQ(w.OpenForEdit(dir + "/a"), 0);
      TextSource replaced(PseudoRandom(9 * kBlock, 90, true)), added(PseudoRandom(3 * kBlock, 91, false));
      EXPECT_EQ(w.ReplaceFile("d1/f4096", replaced, 2), 0);
      EXPECT_EQ(w.AddFile("d2/new/g", added, 1), 0);
      EXPECT_EQ(w.Delete("d0/f1"), 0);
      w.Close();
      EXPECT_FALSE(w.CommitFailed());
    }
    {
      PckReader r;
      EXPECT_EQ(r.Open(dir + "/a"), 0);
      PckWriter w;
      EXPECT_EQ(w.Create(dir + "/b", kBlock), 0);
      EXPECT_EQ(w.BeginDir(""), 0);
      int n = 0;
      for (size_t i = 0; i < r.Records().size(); ++i) {
        if (r.Records()[i].type != kPckFile) continue;
        std::unique_ptr<PckEntryStream> entry = r.OpenEntry(int(i));
        EXPECT_EQ(w.AppendFile("e" + std::to_string(n), *entry, 1 + n % 2), 0);
        ++n;
      }
      EXPECT_EQ(w.EndDir(), 0);
      w.Close();
      EXPECT_FALSE(w.CommitFailed());
    }
    EXPECT_EQ(CompactPackage(dir + "/a", dir + "/c", nullptr), 0);
    std::vector<PackageBytes> out;
    for (const char* name : {"a", "b", "c"}) {
      out.push_back(LoadPackageBytes(dir + "/" + name));
      PckReader r;
      EXPECT_EQ(r.Open(dir + "/" + name), 0);
      std::vector<int> files;
      for (size_t i = 0; i < r.Records().size(); ++i)
        if (r.Records()[i].type == kPckFile) files.push_back(int(i));
      int bad = 0;
      r.VerifyEntries(files, nullptr, [&](size_t, int result, uint32_t) { bad += result != 0; });
      EXPECT_EQ(bad, 0) << name;
    }
    return out;
  }
};

TEST_F(BuildSettings, EveryThreadCountAndDesGivesTheBytesOfOneThreadWithLibgcrypt) {
  CWorkers::SetThreads(0);
  ASSERT_TRUE(PckSetDesBackend(DesBackend::Libgcrypt));
  const std::vector<PackageBytes> reference = Make(Path("reference"));
  const struct {
    size_t threads;
    DesBackend des;
  } settings[] = {{0, DesBackend::Fastest},    {1, DesBackend::Libgcrypt}, {2, DesBackend::Libgcrypt},
                  {2, DesBackend::Bitslice64}, {3, DesBackend::BitsliceAvx2}, {8, DesBackend::Fastest}};
  int n = 0;
  for (const auto& s : settings) {
    if (!PckSetDesBackend(s.des)) continue;  // no AVX2 on this CPU
    CWorkers::SetThreads(s.threads);
    const std::vector<PackageBytes> made = Make(Path("setting" + std::to_string(n++)));
    for (size_t k = 0; k < made.size(); ++k)
      EXPECT_TRUE(made[k] == reference[k]) << "package " << "abc"[k] << ", " << s.threads << " threads, DES "
                                           << int(s.des);
  }
}
