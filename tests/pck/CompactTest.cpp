// Compaction: a package without dead space copies byte for byte, dead entries and names
// are left behind, damaged entries stop the copy, and the walk reports its progress.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "io/IWalkSink.h"
#include "pck/PckCompact.h"
#include "pck/PckReader.h"
#include "pck/PckTree.h"
#include "pck/PckWriter.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

class EventRecorder : public IWalkSink {
 public:
  void OnEvent(int32_t type, const void* data, int32_t size) override {
    std::string text = "-";
    if (size == int32_t(sizeof(const char*))) {
      const char* p = *static_cast<const char* const*>(data);
      text = p ? p : "<null>";
    }
    events.emplace_back(type, text);
  }
  std::vector<std::pair<int32_t, std::string>> events;
};

uint32_t DeadBytes(const std::string& idx) { return GetLE32(reinterpret_cast<const uint8_t*>(idx.data() + 24)); }

}  // namespace

class Compaction : public PackageDirTest {
 protected:
  std::string src = Path("src"), dst = Path("dst");
  int Compact(IWalkSink* sink = nullptr) {
    failure = CError();
    const int rc = CompactPackage(src, dst, sink, &failure);
    error = failure.text;
    return rc;
  }
  CError failure;
  std::string error;
};

TEST_F(Compaction, SequentiallyBuiltPackageCopiesByteForByte) {
  PackageOptions o;
  o.blockSize = 100;
  o.password = kPckGamePassword;
  o.codecs = {{"lzo.txt", 2}, {"raw.bin", 0}};
  o.emptyFolders = {"nothing/here"};
  ASSERT_EQ(BuildPackage(src,
                         {{"lzo.txt", PseudoRandom(450, 1, true)},
                          {"raw.bin", PseudoRandom(300, 2)},
                          {"empty", ""},
                          {"sub/zlib.txt", PseudoRandom(1000, 3, true)},
                          {"sub/deeper/one", "1"}},
                         o),
            "");
  const PackageBytes source = LoadPackageBytes(src);
  ASSERT_EQ(Compact(), 0) << error;
  EXPECT_EQ(LoadPackageBytes(dst), source);
  EXPECT_EQ(LoadPackageBytes(src), source);
}

TEST_F(Compaction, ReplacedEntryIsLeftBehindAndDeadBytesGoBackToZero) {
  PackageOptions o;
  o.blockSize = 100;
  const std::string old = PseudoRandom(250, 4, true);
  ASSERT_EQ(BuildPackage(src, {{"a.txt", old}, {"b.txt", "b"}, {"c/d.txt", PseudoRandom(120, 5)}}, o), "");
  const std::string oldDat = ReadFile(PckDataName(src));
  const uint64_t oldEntry = EntryLengthAt(oldDat, RecordsOf(ReadFile(PckIndexName(src)))[1].dataOffset);
  ASSERT_EQ(oldEntry, 16u + 3 * 4 + (BlocksAt(oldDat, 0)[0].stored + BlocksAt(oldDat, 0)[1].stored +
                                     BlocksAt(oldDat, 0)[2].stored) + 3 * 5);

  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(src), 0);
  TextSource fresh(PseudoRandom(310, 6, true));
  ASSERT_EQ(w.ReplaceFile("a.txt", fresh, 1), 0);
  w.Close();
  const PackageBytes source = LoadPackageBytes(src);
  ASSERT_EQ(DeadBytes(source.idx), 250u);

  ASSERT_EQ(Compact(), 0) << error;
  const PackageBytes copy = LoadPackageBytes(dst);
  EXPECT_EQ(copy.dat.size(), source.dat.size() - oldEntry);
  EXPECT_EQ(copy.nam, source.nam);
  EXPECT_EQ(copy.idx.size(), source.idx.size());
  EXPECT_EQ(DeadBytes(copy.idx), 0u);
  PackageImage want = ImageOf(src);
  want.deadBytes = 0;
  EXPECT_EQ(ImageOf(dst), want);
  EXPECT_EQ(LoadPackageBytes(src), source);  // the source is only read
}

TEST_F(Compaction, EditedPackageKeepsOnlyLiveNamesAndEntries) {
  PackageOptions o;
  o.blockSize = 64;
  o.password = kPckGamePassword;
  ASSERT_EQ(BuildPackage(src, {{"x/one.bin", PseudoRandom(200, 7)}, {"x/two.txt", PseudoRandom(90, 8, true)}}, o), "");
  PckWriter w;
  w.SetPassword(kPckGamePassword);
  ASSERT_EQ(w.OpenForEdit(src), 0);
  TextSource a(PseudoRandom(130, 9, true)), b("bb"), c(PseudoRandom(64, 10)), shortOne("s", 99);
  ASSERT_EQ(w.AddFile("y/z/added.txt", a, 2), 0);
  ASSERT_EQ(w.AddFile("x/b", b, 0), 0);
  EXPECT_EQ(w.AddFile("failed/f", shortOne, 1), -1);  // leaves bytes nobody points at
  ASSERT_EQ(w.Delete("x/one.bin"), 0);
  ASSERT_EQ(w.AddFile("x/three", c, 1), 0);
  ASSERT_EQ(w.MakeDir("m"), 0);
  w.Close();

  ASSERT_EQ(Compact(), 0) << error;
  PackageImage want = ImageOf(src, kPckGamePassword);
  want.deadBytes = 0;
  EXPECT_EQ(ImageOf(dst, kPckGamePassword), want);

  // Nothing but the live names and entries, in record order.
  const PackageBytes copy = LoadPackageBytes(dst);
  PckReader r;
  ASSERT_EQ(r.Open(dst), 0);
  uint64_t names = 0, entries = 0, expectAt = 0;
  for (size_t i = 0; i < r.Records().size(); ++i) {
    const PckRecord& rec = r.Records()[i];
    if (rec.type == kPckFolderEnd) continue;
    names += PckEncodeNameEntry(r.Name(int(i))).size();
    if (rec.type != kPckFile) continue;
    EXPECT_EQ(rec.dataOffset, expectAt) << r.Name(int(i));
    expectAt += EntryLengthAt(copy.dat, rec.dataOffset);
    entries += EntryLengthAt(copy.dat, rec.dataOffset);
  }
  EXPECT_EQ(copy.nam.size(), names);
  EXPECT_EQ(copy.dat.size(), entries);

  // A compacted package is a package like any other: it edits and compacts again as is.
  const std::string again = Path("again");
  ASSERT_EQ(CompactPackage(dst, again, nullptr), 0);
  EXPECT_EQ(LoadPackageBytes(again), copy);
  ASSERT_EQ(w.OpenForEdit(dst), 0);
  TextSource d("later");
  ASSERT_EQ(w.AddFile("m/later.txt", d, 1), 0);
  w.Close();
  want.files["m/later.txt"] = "later";
  EXPECT_EQ(ImageOf(dst, kPckGamePassword), want);
}

TEST_F(Compaction, EmptyFileCopiesAsASixteenByteEntry) {
  ASSERT_EQ(BuildPackage(src, {{"a", "aaaa"}, {"e", ""}, {"z", "zz"}}), "");
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(src), 0);
  ASSERT_EQ(w.Delete("a"), 0);
  w.Close();
  ASSERT_EQ(Compact(), 0) << error;
  const PackageBytes copy = LoadPackageBytes(dst);
  const std::vector<PckRecord> rec = RecordsOf(copy.idx);
  ASSERT_EQ(rec.size(), 4u);  // root, e, z, end
  EXPECT_EQ(rec[1].dataOffset, 0u);
  EXPECT_EQ(rec[2].dataOffset, 16u);
  EXPECT_EQ(copy.dat.substr(0, 16), std::string(16, '\0'));
  EXPECT_EQ(ImageOf(dst).files, (FileMap{{"e", ""}, {"z", "zz"}}));
}

TEST_F(Compaction, EntryWithAnotherBlockCountStopsTheCopy) {
  ASSERT_EQ(BuildPackage(src, {{"a", PseudoRandom(100, 11)}, {"b", "b"}}), "");
  PackageBytes bytes = LoadPackageBytes(src);
  const uint32_t at = RecordsOf(bytes.idx)[2].dataOffset;  // "b", one block
  PutLE32(reinterpret_cast<uint8_t*>(bytes.dat.data() + at + 1), 2);
  SavePackageBytes(src, bytes);
  EXPECT_EQ(Compact(), -1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(failure.kind, ErrorKind::Damaged);  // the package's own fault, not the disk's
  EXPECT_EQ(LoadPackageBytes(src), bytes);

  // An empty file whose header claims a block fails the same way.
  ASSERT_EQ(BuildPackage(src, {{"e", ""}}), "");
  bytes = LoadPackageBytes(src);
  bytes.dat[1] = 1;
  SavePackageBytes(src, bytes);
  EXPECT_EQ(Compact(), -1);
}

TEST_F(Compaction, BlocksOutOfOrderOrApartAreCopiedInOrder) {
  // "big" has its blocks in reverse order with gaps between them, in an entry that lies
  // behind dead space, so its place in the copy differs from its place in the source.
  PackageOptions o;
  o.blockSize = 16;
  o.codec = 0;
  const std::string big = PseudoRandom(100, 12);
  ASSERT_EQ(BuildPackage(src, {{"a", PseudoRandom(40, 13)}, {"big", big}}, o), "");
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(src), 0);
  TextSource other("A");
  ASSERT_EQ(w.ReplaceFile("a", other, 0), 0);
  w.Close();

  PackageBytes bytes = LoadPackageBytes(src);
  std::vector<PckRecord> rec = RecordsOf(bytes.idx);
  ASSERT_EQ(rec.size(), 4u);
  const std::vector<StoredBlock> blocks = BlocksAt(bytes.dat, rec[2].dataOffset);
  ASSERT_EQ(blocks.size(), 7u);
  std::string entry = bytes.dat.substr(rec[2].dataOffset, 16) + std::string(4 * blocks.size(), '\0');
  std::string body;
  for (size_t i = blocks.size(); i-- > 0;) {
    body += "gap";
    PutLE32(reinterpret_cast<uint8_t*>(entry.data() + 16 + 4 * i), uint32_t(body.size()));
    body += bytes.dat.substr(blocks[i].at, 5 + blocks[i].stored);
  }
  rec[2].dataOffset = uint32_t(bytes.dat.size());
  bytes.dat += entry + body;
  rec[2].Encode(reinterpret_cast<uint8_t*>(bytes.idx.data() + 64 + 2 * 33));
  SavePackageBytes(src, bytes);
  ASSERT_EQ(ImageOf(src).files.at("big"), big);  // the reader follows the table

  ASSERT_EQ(Compact(), 0) << error;
  EXPECT_EQ(ImageOf(dst).files, (FileMap{{"a", "A"}, {"big", big}}));
  const PackageBytes copy = LoadPackageBytes(dst);
  const uint32_t at = RecordsOf(copy.idx)[2].dataOffset;
  const std::vector<StoredBlock> copied = BlocksAt(copy.dat, at);
  ASSERT_EQ(copied.size(), 7u);
  uint64_t next = at + 16 + 4 * 7;
  for (const StoredBlock& b : copied) {
    EXPECT_EQ(b.at, next);
    next += 5 + b.stored;
  }
}

TEST_F(Compaction, SinkHearsEveryFolderAndFileUnderTheSourceName) {
  CWorkDirGuard here(m_dir.Path());
  ASSERT_EQ(BuildPackage("src", {{"CVer.txt", "version"}, {"mb/ShopItem.txt", "items"}}), "");
  EventRecorder sink;
  ASSERT_EQ(CompactPackage("src", "withsink", &sink), 0);
  const std::vector<std::pair<int32_t, std::string>> want = {
      {kWalkEnterDir, "src"},
      {kWalkFileBegin, "src/CVer.txt"},
      {kWalkFileDone, "src/CVer.txt"},
      {kWalkEnterDir, "src/mb"},
      {kWalkFileBegin, "src/mb/ShopItem.txt"},
      {kWalkFileDone, "src/mb/ShopItem.txt"},
      {kWalkLeaveDir, "src/mb"},
      {kWalkLeaveDir, "src"},
  };
  EXPECT_EQ(sink.events, want);
  ASSERT_EQ(CompactPackage("src", "nosink", nullptr), 0);
  EXPECT_EQ(LoadPackageBytes("withsink"), LoadPackageBytes("nosink"));
  EXPECT_EQ(LoadPackageBytes("nosink"), LoadPackageBytes("src"));
}

TEST_F(Compaction, RefusesAMissingSourceAndItsOwnName) {
  EXPECT_EQ(Compact(), -1);
  EXPECT_EQ(failure.kind, ErrorKind::NotFound) << error;
  ASSERT_EQ(BuildPackage(src, {{"a", "a"}}), "");
  const PackageBytes bytes = LoadPackageBytes(src);
  EXPECT_EQ(CompactPackage(src, src, nullptr, &failure), -1);
  EXPECT_EQ(failure.kind, ErrorKind::BadArgument);
  EXPECT_EQ(LoadPackageBytes(src), bytes);
}
