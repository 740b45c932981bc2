// Reading packages: path lookups, what the loader refuses, entry streams, folder listings,
// passwords, and every codec over files of one, several and no blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "io/FileStream.h"
#include "pck/PckCodecs.h"
#include "pck/PckReader.h"
#include "pck/PckTree.h"
#include "pck/PckWriter.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

std::string Repeat(const std::string& name, int count, const std::string& tail = "") {
  std::string out;
  for (int i = 0; i < count; ++i) out += (i ? "/" : "") + name;
  return tail.empty() ? out : out + "/" + tail;
}

// An index image from records, under the default header.
std::string IndexOf(const std::vector<PckRecord>& records, PckHeader header = PckHeader::Default()) {
  return PckEncodeIndex(header, records);
}

PckRecord FileRecord(uint32_t nameOffset, uint32_t dataOffset, uint32_t size) {
  PckRecord r;
  r.type = kPckFile;
  r.nameOffset = nameOffset;
  r.dataOffset = dataOffset;
  r.size = size;
  return r;
}

PckRecord FolderRecord(uint32_t nameOffset, uint32_t children, uint32_t span) {
  PckRecord r = PckRecord::Folder(nameOffset);
  r.SetChildCount(children);
  r.SetSpan(span);
  return r;
}

}  // namespace

// ---------------------------------------------------------------- lookups

class ReaderLookup : public PackageDirTest {
 protected:
  void SetUp() override {
    files = {{"Data/a.txt", "alpha"}, {"Data/Sub/b.bin", PseudoRandom(300, 5)}, {"top.txt", PseudoRandom(37, 6)}};
    ASSERT_EQ(BuildPackage(Path("pkg"), files), "");
    ASSERT_EQ(reader.Open(Path("pkg")), 0) << reader.LastError();
  }
  FileMap files;
  PckReader reader;
};

TEST_F(ReaderLookup, RootIsRecordZeroButNoFile) {
  EXPECT_EQ(reader.Find(""), 0);
  EXPECT_EQ(reader.FileSize(""), -1);
  EXPECT_EQ(reader.OpenEntry(""), nullptr);
  EXPECT_EQ(reader.FileSize("Data"), -1);
  EXPECT_EQ(reader.OpenEntry("Data"), nullptr);
  EXPECT_EQ(reader.FileSize("top.txt"), 37);
  EXPECT_EQ(reader.FileSize("Data/Sub/b.bin"), 300);
  EXPECT_EQ(reader.FileSize("missing"), -1);
}

TEST_F(ReaderLookup, StraySeparatorsMatchNothing) {
  for (const char* path : {"/top.txt", "top.txt/", "\\top.txt", "top.txt\\", "Data//a.txt", "Data\\\\a.txt",
                           "Data/", "/", "//", "\\", "/Data/a.txt", "Data/a.txt/", "./top.txt", "Data/./a.txt",
                           " top.txt", "top.txt "}) {
    EXPECT_EQ(reader.Find(path), -1) << path;
    EXPECT_EQ(reader.FileSize(path), -1) << path;
  }
  EXPECT_GT(reader.Find("Data/a.txt"), 0);
  EXPECT_EQ(reader.Find("Data\\a.txt"), reader.Find("Data/a.txt"));
}

TEST_F(ReaderLookup, NamesCompareWithoutAsciiCase) {
  const int a = reader.Find("Data/a.txt");
  ASSERT_GT(a, 0);
  EXPECT_EQ(reader.Find("DATA\\A.TXT"), a);
  EXPECT_EQ(reader.Find("data/A.txt"), a);
  EXPECT_EQ(reader.FindChild(reader.Find("dAtA"), "A.TxT"), a);
  EXPECT_EQ(reader.FileSize("DATA/SUB/B.BIN"), 300);
  EXPECT_EQ(reader.Find("Data/a.tx"), -1);
  EXPECT_EQ(reader.Find("Data/a.txt2"), -1);
}

TEST_F(ReaderLookup, PathBelowAFileIsNotFound) {
  EXPECT_EQ(reader.Find("top.txt/x"), -1);
  EXPECT_EQ(reader.Find("Data/a.txt/a.txt"), -1);
  EXPECT_EQ(reader.FindChild(reader.Find("top.txt"), "x"), -1);
  EXPECT_EQ(reader.OpenDir("top.txt"), nullptr);
  EXPECT_EQ(reader.FindChild(0, ""), -1);
  EXPECT_EQ(reader.FindChild(-1, "top.txt"), -1);
  EXPECT_EQ(reader.FindChild(100000, "top.txt"), -1);
}

TEST(ReaderPathLength, SixtyFourNamesAreFoundAndSixtyFiveAreNot) {
  // 64 nested folders and a file in the deepest: the file's path has 65 names.
  CTempDir dir;
  PckWriter w;
  ASSERT_EQ(w.Create(dir / "deep", 64), 0);
  ASSERT_EQ(w.BeginDir(""), 0);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(w.BeginDir("d"), 0);
  TextSource src("bottom");
  ASSERT_EQ(w.AppendFile("f.txt", src, 0), 0);
  w.Close();
  ASSERT_FALSE(w.CommitFailed());

  PckReader r;
  ASSERT_EQ(r.Open(dir / "deep"), 0) << r.LastError();
  const int deepest = r.Find(Repeat("d", 64));
  ASSERT_GT(deepest, 0);
  EXPECT_EQ(r.Records()[size_t(deepest)].type, kPckFolder);
  EXPECT_GT(r.Find(Repeat("D", 63, "d")), 0);
  // The file exists one name further down, but its path is too long to look up.
  EXPECT_GT(r.FindChild(deepest, "f.txt"), 0);
  EXPECT_EQ(r.Find(Repeat("d", 64, "f.txt")), -1);
  EXPECT_EQ(r.FileSize(Repeat("d", 64, "f.txt")), -1);
  EXPECT_EQ(r.OpenEntry(Repeat("d", 64, "f.txt")), nullptr);
}

// ---------------------------------------------------------------- loading

class ReaderLoading : public PackageDirTest {
 protected:
  // Writes the three files of a package by hand.
  void Write(const std::string& idx, const std::string& nam, const std::string& dat) {
    SavePackageBytes(Path("pkg"), {idx, nam, dat});
  }
  std::string Base() const { return Path("pkg"); }
};

TEST_F(ReaderLoading, TwoChildrenDifferingOnlyInCaseFailToLoad) {
  const std::string root = PckEncodeNameEntry("");
  const std::string first = PckEncodeNameEntry("Readme.txt");
  const uint32_t at1 = uint32_t(root.size()), at2 = at1 + uint32_t(first.size());
  const std::string emptyEntry(kPckEntryHeaderSize, '\0');
  auto index = [&] {
    return IndexOf({FolderRecord(0, 2, 2), FileRecord(at1, 0, 0), FileRecord(at2, 0, 0), PckRecord::FolderEnd()});
  };

  // The same bytes with a second name that differs in more than case load.
  Write(index(), root + first + PckEncodeNameEntry("Readme2.txt"), emptyEntry);
  {
    PckReader r;
    ASSERT_EQ(r.Open(Base()), 0) << r.LastError();
    EXPECT_EQ(r.FileSize("README2.TXT"), 0);
  }

  Write(index(), root + first + PckEncodeNameEntry("README.TXT"), emptyEntry);
  PckReader r;
  EXPECT_EQ(r.Open(Base()), -1);
  EXPECT_FALSE(r.IsOpen());
  EXPECT_FALSE(r.LastError().empty());
  EXPECT_EQ(r.Find(""), -1);
  PckWriter w;
  EXPECT_EQ(w.OpenForEdit(Base()), -1);
}

TEST_F(ReaderLoading, EqualNamesInDifferentFoldersLoad) {
  const std::string nam = PckEncodeNameEntry("") + PckEncodeNameEntry("a") + PckEncodeNameEntry("b") +
                          PckEncodeNameEntry("x.txt") + PckEncodeNameEntry("X.TXT");
  // root { a { x.txt } b { X.TXT } }
  Write(IndexOf({FolderRecord(0, 2, 6), FolderRecord(2, 1, 1), FileRecord(8, 0, 0), PckRecord::FolderEnd(),
                 FolderRecord(5, 1, 1), FileRecord(15, 0, 0), PckRecord::FolderEnd(), PckRecord::FolderEnd()}),
        nam, std::string(kPckEntryHeaderSize, '\0'));
  PckReader r;
  ASSERT_EQ(r.Open(Base()), 0) << r.LastError();
  EXPECT_EQ(r.Find("a/x.txt"), 2);
  EXPECT_EQ(r.Find("b/x.txt"), 5);
}

TEST_F(ReaderLoading, StreamsOpenedByTheCallerServeLikeFiles) {
  const FileMap files = {{"a.txt", PseudoRandom(300, 51, true)}, {"d/b.bin", PseudoRandom(70, 52)}};
  PackageOptions o;
  o.blockSize = 64;
  ASSERT_EQ(BuildPackage(Base(), files, o), "");
  PackageBytes bytes = LoadPackageBytes(Base());
  PckReader r;
  EXPECT_EQ(r.Open(nullptr, std::make_unique<MemoryStream>(bytes.dat.data(), int32_t(bytes.dat.size())), nullptr), -1);
  ASSERT_EQ(r.Open(std::make_unique<MemoryStream>(bytes.idx.data(), int32_t(bytes.idx.size())),
                   std::make_unique<MemoryStream>(bytes.dat.data(), int32_t(bytes.dat.size())),
                   std::make_unique<MemoryStream>(bytes.nam.data(), int32_t(bytes.nam.size()))),
            0)
      << r.LastError();
  PackageImage image;
  ASSERT_TRUE(ReadPackage(r, image));
  EXPECT_EQ(image.files, files);
}

TEST_F(ReaderLoading, IndexEndingInPartialRecordFails) {
  ASSERT_EQ(BuildPackage(Base(), {{"a.txt", "a"}}), "");
  const PackageBytes good = LoadPackageBytes(Base());
  for (size_t cut : {1u, 32u}) {
    PackageBytes bad = good;
    bad.idx.resize(good.idx.size() - cut);
    SavePackageBytes(Base(), bad);
    PckReader r;
    EXPECT_EQ(r.Open(Base()), -1) << "cut " << cut;
  }
  for (size_t extra : {1u, 32u}) {
    PackageBytes bad = good;
    bad.idx.append(extra, '\0');
    SavePackageBytes(Base(), bad);
    PckReader r;
    EXPECT_EQ(r.Open(Base()), -1) << "extra " << extra;
  }
  SavePackageBytes(Base(), good);
  PckReader r;
  EXPECT_EQ(r.Open(Base()), 0);
}

TEST_F(ReaderLoading, IndexOfHeaderOnlyLoadsAndEveryLookupFails) {
  Write(IndexOf({}), "", "");
  PckReader r;
  ASSERT_EQ(r.Open(Base()), 0) << r.LastError();
  EXPECT_TRUE(r.IsOpen());
  EXPECT_TRUE(r.Records().empty());
  for (const char* path : {"", "a", "a/b", "/"}) {
    EXPECT_EQ(r.Find(path), -1) << path;
    EXPECT_EQ(r.FileSize(path), -1) << path;
    EXPECT_EQ(r.OpenDir(path), nullptr) << path;
    EXPECT_EQ(r.OpenEntry(path), nullptr) << path;
  }
  uint8_t block[kPckDefaultBlockSize];
  EXPECT_EQ(r.ReadBlock(0, 0, block), 0);
  EXPECT_EQ(r.FindChild(0, "a"), -1);
}

TEST_F(ReaderLoading, RefusesFilesThatAreNoPackage) {
  ASSERT_EQ(BuildPackage(Base(), {{"a.txt", "a"}}), "");
  const PackageBytes good = LoadPackageBytes(Base());
  auto header = [&](auto change) {
    PackageBytes bad = good;
    PckHeader h = PckHeader::Decode(reinterpret_cast<const uint8_t*>(bad.idx.data()));
    change(h);
    h.Encode(reinterpret_cast<uint8_t*>(bad.idx.data()));
    return bad;
  };
  PackageBytes shortIndex = good;
  shortIndex.idx.resize(kPckHeaderSize - 1);
  const std::vector<std::pair<const char*, PackageBytes>> cases = {
      {"short header", shortIndex},
      {"magic", header([](PckHeader& h) { h.magic[0] = 'Q'; })},
      {"version 1", header([](PckHeader& h) { h.version = 1; })},
      {"block size 0", header([](PckHeader& h) { h.blockSize = 0; })},
      {"block size too large", header([](PckHeader& h) { h.blockSize = kPckMaxBlockSize + 1; })},
  };
  for (const auto& [what, bytes] : cases) {
    SavePackageBytes(Base(), bytes);
    PckReader r;
    EXPECT_EQ(r.Open(Base()), -1) << what;
    EXPECT_FALSE(r.LastError().empty()) << what;
  }
  // A later version with the same layout is still read.
  SavePackageBytes(Base(), header([](PckHeader& h) { h.version = 3; }));
  {
    PckReader later;
    EXPECT_EQ(later.Open(Base()), 0) << later.LastError();
  }

  SavePackageBytes(Base(), good);
  std::remove(PckNameTableName(Base()).c_str());
  PckReader missing;
  EXPECT_EQ(missing.Open(Base()), -1);
  EXPECT_FALSE(PackageExists(Base()));
}

// ---------------------------------------------------------------- entry streams

class EntryStream : public PackageDirTest {
 protected:
  void SetUp() override {
    small = PseudoRandom(37, 11, true);
    multi = PseudoRandom(1000, 12, true);
    PackageOptions o;
    o.blockSize = 16;
    o.password = kPckGamePassword;
    ASSERT_EQ(BuildPackage(Path("pkg"), {{"small.txt", small}, {"multi.bin", multi}}, o), "");
    reader.SetPassword(kPckGamePassword);
    ASSERT_EQ(reader.Open(Path("pkg")), 0) << reader.LastError();
  }
  std::string Read(DataStream& s, int32_t n) {
    std::string out(size_t(n), '\0');
    int32_t got = s.Read(out.data(), n);
    out.resize(size_t(std::max(got, 0)));
    return out;
  }
  std::string small, multi;
  PckReader reader;
};

TEST_F(EntryStream, ReadPastTheEndGivesTheRestThenNothing) {
  auto s = reader.OpenEntry("small.txt");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(), 37);
  EXPECT_EQ(Read(*s, 30), small.substr(0, 30));
  EXPECT_EQ(s->Tell(), 30);
  EXPECT_EQ(Read(*s, 30), small.substr(30));
  EXPECT_EQ(s->Tell(), 37);
  EXPECT_EQ(Read(*s, 30), "");
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->Tell(), 37);
  EXPECT_FALSE(s->Failed());
  char none[1];
  EXPECT_EQ(s->Read(none, 0), 0);
  EXPECT_EQ(s->Read(none, -5), 0);
  EXPECT_EQ(s->Write("x", 1), -1);
}

TEST_F(EntryStream, SeekBeyondSizeIsTheEndAndANegativeTargetTheStart) {
  auto s = reader.OpenEntry("small.txt");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Seek(1000, 0), 0);
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->Tell(), 37);
  EXPECT_EQ(Read(*s, 10), "");

  EXPECT_EQ(s->Seek(-5, 0), 0);
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(s->Tell(), 0);
  EXPECT_EQ(Read(*s, 10), small.substr(0, 10));

  EXPECT_EQ(s->Seek(-100, 1), 0);
  EXPECT_EQ(s->Tell(), 0);
  EXPECT_EQ(s->Seek(-3, 2), 0);
  EXPECT_EQ(Read(*s, 10), small.substr(34));
  EXPECT_EQ(s->Seek(0, 2), 0);
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->Seek(-37, 1), 0);
  EXPECT_EQ(Read(*s, 37), small);
}

TEST_F(EntryStream, EveryOffsetSeeksToItsByte) {
  auto s = reader.OpenEntry("multi.bin");
  ASSERT_NE(s, nullptr);
  for (int32_t off = 0; off <= 1000; ++off) {
    ASSERT_EQ(s->Seek(off, 0), 0) << off;
    ASSERT_EQ(s->Tell(), off);
    ASSERT_EQ(Read(*s, 23), multi.substr(size_t(off), 23)) << off;
    // back again relative to where the read stopped
    const int32_t back = int32_t(std::min<size_t>(23, multi.size() - size_t(off)));
    ASSERT_EQ(s->Seek(-back, 1), 0);
    ASSERT_EQ(s->Tell(), off);
  }
}

TEST_F(EntryStream, CarriesSizeStampAndStoredDigest) {
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(Path("pkg")), 0);
  w.SetPassword(kPckGamePassword);
  TextSource src("stamped content", -1, 123456);
  ASSERT_EQ(w.AddFile("stamped.txt", src, 1), 0);
  w.Close();
  PckReader r;
  r.SetPassword(kPckGamePassword);
  ASSERT_EQ(r.Open(Path("pkg")), 0);
  auto s = r.OpenEntry("stamped.txt");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(), 15);
  EXPECT_EQ(s->Stamp(), 123456);
  uint8_t stored[16], want[16];
  EXPECT_EQ(s->Digest(stored), 0);
  Md5("stamped content", 15, want);
  EXPECT_EQ(Md5Hex(stored), Md5Hex(want));
  EXPECT_EQ(s->Tell(), 0);  // the digest reads nothing
}

TEST_F(EntryStream, DamagedBlockStopsTheStreamAfterTheGoodBytes) {
  // Block 5 of multi.bin claims a payload longer than a block.
  PackageBytes bytes = LoadPackageBytes(Path("pkg"));
  const int index = reader.Find("multi.bin");
  ASSERT_GT(index, 0);
  std::vector<StoredBlock> blocks = BlocksAt(bytes.dat, reader.Records()[size_t(index)].dataOffset);
  ASSERT_EQ(blocks.size(), 63u);
  PutLE32(reinterpret_cast<uint8_t*>(bytes.dat.data() + blocks[5].at + 1), 17);
  SavePackageBytes(Path("pkg"), bytes);

  PckReader r;
  r.SetPassword(kPckGamePassword);
  ASSERT_EQ(r.Open(Path("pkg")), 0);
  uint8_t out[16];
  EXPECT_EQ(r.ReadBlock(index, 4, out), 16);
  EXPECT_EQ(r.ReadBlock(index, 5, out), -1);
  EXPECT_EQ(r.ReadBlock(index, 6, out), 16);

  auto s = r.OpenEntry(index);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Read(*s, 1000), multi.substr(0, 80));
  EXPECT_TRUE(s->Failed());
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(Read(*s, 10), "");
  // The stream cannot be moved back over a failed block as if nothing happened.
  EXPECT_NE(s->Seek(0, 0), 0);
  EXPECT_EQ(Read(*s, 10), "");
}

// ---------------------------------------------------------------- listing

TEST(PackageListing, DirIteratorListsChildrenInIndexOrder) {
  CTempDir dir;
  PckWriter w;
  ASSERT_EQ(w.Create(dir / "pkg"), 0);
  TextSource three("abc"), one("x"), none("");
  ASSERT_EQ(w.BeginDir(""), 0);
  ASSERT_EQ(w.AppendFile("zeta.txt", three, 1), 0);
  ASSERT_EQ(w.BeginDir("Mid"), 0);
  ASSERT_EQ(w.AppendFile("x", one, 0), 0);
  ASSERT_EQ(w.BeginDir("y"), 0);
  ASSERT_EQ(w.EndDir(), 0);
  ASSERT_EQ(w.EndDir(), 0);
  ASSERT_EQ(w.AppendFile("alpha.txt", none, 2), 0);
  ASSERT_EQ(w.EndDir(), 0);
  w.Close();

  PckReader r;
  ASSERT_EQ(r.Open(dir / "pkg"), 0);
  struct Want {
    const char* name;
    uint8_t kind;
    int32_t value;
  };
  auto expect = [&r](const char* folder, std::vector<Want> want) {
    auto it = r.OpenDir(folder);
    ASSERT_NE(it, nullptr) << folder;
    for (const Want& w : want) {
      DirEntry* e = it->Next();
      ASSERT_NE(e, nullptr) << folder << ": " << w.name;
      EXPECT_STREQ(e->name, w.name);
      EXPECT_EQ(e->kind, w.kind) << w.name;
      EXPECT_EQ(e->value, w.value) << w.name;
    }
    EXPECT_EQ(it->Next(), nullptr) << folder;
    EXPECT_EQ(it->Next(), nullptr) << folder;
  };
  expect("", {{"zeta.txt", kDirEntryFile, 3}, {"Mid", kDirEntryFolder, 2}, {"alpha.txt", kDirEntryFile, 0}});
  expect("mid", {{"x", kDirEntryFile, 1}, {"y", kDirEntryFolder, 0}});
  expect("Mid/y", {});
  EXPECT_EQ(r.OpenDir("zeta.txt"), nullptr);
  EXPECT_EQ(r.OpenDir("nope"), nullptr);
  EXPECT_EQ(r.OpenDir(-1), nullptr);
  EXPECT_EQ(r.OpenDir(int(r.Records().size())), nullptr);
  EXPECT_EQ(r.OpenDir(int(r.Records().size()) - 1), nullptr);  // the root's end record
}

// ---------------------------------------------------------------- passwords

TEST(PackagePassword, IsNotRecordedSoAWrongOneGivesWrongBytes) {
  CTempDir dir;
  const std::string stored = PseudoRandom(200, 21), packed = PseudoRandom(3000, 22, true);
  const FileMap files = {{"stored.bin", stored}, {"packed.txt", packed}};
  PackageOptions plain, enciphered;
  plain.codecs = enciphered.codecs = {{"stored.bin", 0}};
  enciphered.password = kPckGamePassword;
  ASSERT_EQ(BuildPackage(dir / "plain", files, plain), "");
  ASSERT_EQ(BuildPackage(dir / "secret", files, enciphered), "");

  // Index and names are the same: nothing in them tells that a password was used.
  const PackageBytes a = LoadPackageBytes(dir / "plain"), b = LoadPackageBytes(dir / "secret");
  EXPECT_EQ(a.idx, b.idx);
  EXPECT_EQ(a.nam, b.nam);
  EXPECT_NE(a.dat, b.dat);

  auto readWith = [](const std::string& base, const char* password, const char* path, bool* failed) {
    PckReader r;
    r.SetPassword(password);
    EXPECT_EQ(r.Open(base), 0);
    return ReadEntry(r, r.Find(path), 4096, failed);
  };
  bool failed = false;
  // Stored blocks decode under any password, to other bytes of the same length.
  std::string got = readWith(dir / "plain", kPckGamePassword, "stored.bin", &failed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(got.size(), stored.size());
  EXPECT_NE(got, stored);
  got = readWith(dir / "secret", nullptr, "stored.bin", &failed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(got.size(), stored.size());
  EXPECT_NE(got, stored);
  // Compressed blocks deciphered with the wrong key do not give the content.
  EXPECT_NE(readWith(dir / "plain", "other", "packed.txt", &failed), packed);
  EXPECT_NE(readWith(dir / "secret", "", "packed.txt", &failed), packed);

  EXPECT_EQ(readWith(dir / "secret", kPckGamePassword, "stored.bin", &failed), stored);
  EXPECT_FALSE(failed);
  EXPECT_EQ(readWith(dir / "secret", kPckGamePassword, "packed.txt", &failed), packed);
  EXPECT_EQ(readWith(dir / "plain", "", "packed.txt", &failed), packed);
}

// ---------------------------------------------------------------- round trips

// codec, password, block size
class PackageRoundTrip : public ::testing::TestWithParam<std::tuple<int, const char*, uint32_t>> {};

TEST_P(PackageRoundTrip, EveryFileReadsBackByStreamAndByBlock) {
  const auto [codec, password, bs] = GetParam();
  CTempDir dir;
  const FileMap files = {
      {"empty", ""},
      {"one", "1"},
      {"below", PseudoRandom(bs - 1, 31, true)},
      {"exact", PseudoRandom(bs, 32, true)},
      {"above", PseudoRandom(bs + 1, 33)},
      {"three/blocks", PseudoRandom(3 * bs, 34, true)},
      {"three/text.txt", PseudoRandom(2000, 35, true)},
      {"three/noise.bin", PseudoRandom(777, 36)},
  };
  PackageOptions o;
  o.codec = codec;
  o.password = password;
  o.blockSize = bs;
  ASSERT_EQ(BuildPackage(dir / "pkg", files, o), "");

  PckReader r;
  r.SetPassword(password);
  ASSERT_EQ(r.Open(dir / "pkg"), 0) << r.LastError();
  EXPECT_EQ(r.Header().blockSize, bs);
  PackageImage image;
  std::string why;
  ASSERT_TRUE(ReadPackage(r, image, &why)) << why;
  EXPECT_EQ(image.files, files);

  const std::string dat = ReadFile(PckDataName(dir / "pkg"));
  std::vector<uint8_t> block(bs);
  for (const auto& [path, content] : files) {
    const int index = r.Find(path);
    ASSERT_GT(index, 0) << path;
    const PckRecord& rec = r.Records()[size_t(index)];
    EXPECT_EQ(rec.size, content.size()) << path;
    const uint32_t n = PckBlockCount(uint32_t(content.size()), bs);
    EXPECT_EQ(BlocksAt(dat, rec.dataOffset).size(), n) << path;
    std::string joined;
    for (uint32_t b = 0; b < n; ++b) {
      const int got = r.ReadBlock(index, int(b), block.data());
      ASSERT_EQ(got, int(std::min<uint64_t>(bs, content.size() - uint64_t(b) * bs))) << path << " block " << b;
      joined.append(reinterpret_cast<const char*>(block.data()), size_t(got));
    }
    EXPECT_EQ(joined, content) << path;
    EXPECT_EQ(r.ReadBlock(index, int(n), block.data()), 0) << path;
    EXPECT_EQ(r.ReadBlock(index, -1, block.data()), 0) << path;
    uint8_t digest[16];
    Md5(content.data(), content.size(), digest);
    EXPECT_EQ(Md5Hex(rec.digest), Md5Hex(digest)) << path;
  }
  // An empty file is an entry header and nothing else.
  const uint32_t emptyAt = r.Records()[size_t(r.Find("empty"))].dataOffset;
  EXPECT_EQ(EntryLengthAt(dat, emptyAt), kPckEntryHeaderSize);
  EXPECT_EQ(r.ReadBlock(r.Find("empty"), 0, block.data()), 0);
}

INSTANTIATE_TEST_SUITE_P(CodecsPasswordsBlockSizes, PackageRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Values("", kPckGamePassword),
                                            ::testing::Values(16u, 100u, kPckDefaultBlockSize)),
                         [](const auto& info) {
                           return "Codec" + std::to_string(std::get<0>(info.param)) +
                                  (*std::get<1>(info.param) ? "Password" : "Plain") + "Block" +
                                  std::to_string(std::get<2>(info.param));
                         });
