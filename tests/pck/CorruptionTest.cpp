// Damaged packages: every file cut at every length, every byte flipped. Whatever the
// damage, reading, compacting and editing must neither crash nor hang, reads stay within
// the sizes they announce, and what the editor commits reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pck/PckCompact.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

// Walks a folder listing, checking that every listed child is found by its name.
void WalkListing(PckReader& r, int folder, size_t& visited) {
  auto it = r.OpenDir(folder);
  ASSERT_NE(it, nullptr);
  while (DirEntry* e = it->Next()) {
    ASSERT_LT(++visited, r.Records().size()) << "the listing runs on";
    const std::string name = e->name;
    const int child = r.FindChild(folder, name);
    if (name.empty()) continue;  // a damaged name table can give a child no name
    ASSERT_GT(child, folder) << name;
    if (e->kind == kDirEntryFolder) WalkListing(r, child, visited);
  }
}

// Reads every file of an open package by stream and by block.
void ExerciseReader(PckReader& r) {
  size_t visited = 0;
  if (!r.Records().empty()) WalkListing(r, 0, visited);
  const uint32_t bs = r.Header().blockSize;
  std::vector<uint8_t> block(bs);
  char buf[333];
  for (size_t i = 0; i < r.Records().size(); ++i) {
    if (r.Records()[i].type != kPckFile) continue;
    auto s = r.OpenEntry(int(i));
    ASSERT_NE(s, nullptr);
    const int64_t size = int64_t(r.Records()[i].size);
    int64_t total = 0;
    for (int64_t rounds = 0;; ++rounds) {
      ASSERT_LE(rounds, size / int64_t(sizeof buf) + 2) << "the stream does not come to an end";
      const int32_t n = s->Read(buf, sizeof buf);
      ASSERT_GE(n, 0);
      ASSERT_LE(n, int32_t(sizeof buf));
      if (n == 0) break;
      total += n;
      ASSERT_LE(total, size);
    }
    if (!s->Failed()) {
      EXPECT_EQ(total, size);  // a stream that ends without failing gave it all
    }
    EXPECT_TRUE(s->Eof());
    if (s->Seek(int32_t(size / 2), 0) == 0 && !s->Failed()) {
      EXPECT_LE(s->Read(buf, sizeof buf), int32_t(std::min<int64_t>(sizeof buf, size - size / 2)));
    }
    // A damaged size may claim millions of blocks; the first ones are enough to try.
    const uint32_t blocks = std::min<uint32_t>(PckBlockCount(uint32_t(size), bs), 40);
    for (uint32_t b = 0; b < blocks; ++b) {
      const int n = r.ReadBlock(int(i), int(b), block.data());
      ASSERT_GE(n, -1);
      ASSERT_LE(n, int(bs));
    }
    EXPECT_EQ(r.ReadBlock(int(i), int(PckBlockCount(uint32_t(size), bs)), block.data()), 0);
  }
}

}  // namespace

class Corruption : public PackageDirTest {
 protected:
  void SetUp() override {
    PackageOptions o;
    o.blockSize = 64;
    o.password = kPckGamePassword;
    o.codecs = {{"data/table.bin", 2}, {"data/raw.bin", 0}};
    ASSERT_EQ(BuildPackage(good,
                           {{"readme.txt", PseudoRandom(200, 1, true)},
                            {"data/table.bin", PseudoRandom(600, 2, true)},
                            {"data/empty.dat", ""},
                            {"data/raw.bin", PseudoRandom(100, 3)},
                            {"data/sub/z.txt", PseudoRandom(150, 4, true)}},
                           o),
              "");
    bytes = LoadPackageBytes(good);
    // small enough to try every length and every byte
    ASSERT_LT(bytes.idx.size(), 1024u);
    ASSERT_LT(bytes.nam.size(), 256u);
    ASSERT_LT(bytes.dat.size(), 2048u);
    // Which bytes of .dat are entry headers, block tables and block headers.
    structure.assign(bytes.dat.size(), false);
    for (const PckRecord& r : RecordsOf(bytes.idx)) {
      if (r.type != kPckFile) continue;
      const std::vector<StoredBlock> blocks = BlocksAt(bytes.dat, r.dataOffset);
      const size_t tableEnd = r.dataOffset + kPckEntryHeaderSize + 4 * blocks.size();
      for (size_t i = r.dataOffset; i < tableEnd; ++i) structure[i] = true;
      for (const StoredBlock& b : blocks)
        for (size_t i = 0; i < kPckBlockHeaderSize; ++i) structure[b.at + i] = true;
    }
  }

  // Opens, reads, compacts and (unless `edit` is false) edits one damaged package.
  void Exercise(const PackageBytes& damaged, const std::string& what, bool edit = true) {
    SCOPED_TRACE(what);
    SavePackageBytes(base, damaged);
    {
      PckReader r;
      r.SetPassword(kPckGamePassword);
      if (r.Open(base) == 0) ExerciseReader(r);
    }
    if (HasFatalFailure()) return;

    CError error;
    if (CompactPackage(base, compacted, nullptr, &error) == 0) {
      PckReader r;
      r.SetPassword(kPckGamePassword);
      if (r.Open(compacted) == 0) ExerciseReader(r);
    } else {
      EXPECT_FALSE(error.text.empty());
    }
    if (HasFatalFailure() || !edit) return;

    // Last, the damaged package itself is edited: nothing else needs it any more.
    const std::string& edited = base;
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    if (w.OpenForEdit(edited) != 0) return;
    TextSource src(added);
    const int rc = w.AddFile("added/new.txt", src, 1);
    w.Close();
    if (rc != 0 || w.CommitFailed()) return;
    // What the editor took on and committed is a package that reads, with the new file.
    PckReader r;
    r.SetPassword(kPckGamePassword);
    ASSERT_EQ(r.Open(edited), 0) << r.LastError();
    bool failed = true;
    EXPECT_EQ(ReadEntry(r, r.Find("added/new.txt"), 4096, &failed), added);
    EXPECT_FALSE(failed);
    ExerciseReader(r);
  }

  // Is byte `at` of .dat one that the format's structure lies in (or next to)?
  bool Structure(size_t at) const {
    return structure[at] || (at > 0 && structure[at - 1]) || (at + 1 < structure.size() && structure[at + 1]);
  }

  // Every length of one of the three files from 0 to its whole size. Cuts inside a block
  // payload (not at its first or last byte) all take the same way through the code: they
  // are tried at every third length, and the edit (which never reads a payload) is left
  // out for them.
  void CutEveryLength(std::string PackageBytes::*file, const char* name) {
    const std::string whole = bytes.*file;
    for (size_t len = 0; len <= whole.size() && !HasFatalFailure(); ++len) {
      const bool payload = file == &PackageBytes::dat && len < whole.size() && !Structure(len);
      if (payload && len % 3 != 0) continue;
      PackageBytes damaged = bytes;
      (damaged.*file).resize(len);
      Exercise(damaged, std::string(name) + " cut to " + std::to_string(len), !payload);
    }
  }

  // Every byte of one file flipped, one at a time, with either mask; block payloads of
  // .dat take one of the masks at each byte, by turns, and are not edited.
  void FlipEveryByte(std::string PackageBytes::*file, const char* name) {
    for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x01)}) {
      for (size_t at = 0; at < (bytes.*file).size() && !HasFatalFailure(); ++at) {
        const bool payload = file == &PackageBytes::dat && !Structure(at);
        if (payload && (at % 2 == 0) != (mask == 0xFF)) continue;
        PackageBytes damaged = bytes;
        (damaged.*file)[at] = char(uint8_t((damaged.*file)[at]) ^ mask);
        Exercise(damaged, std::string(name) + " byte " + std::to_string(at) + " ^ " + std::to_string(mask), !payload);
      }
    }
  }

  std::string good = Path("good"), base = Path("damaged"), compacted = Path("compacted");
  const std::string added = PseudoRandom(150, 9, true);
  PackageBytes bytes;
  std::vector<bool> structure;
};

TEST_F(Corruption, UndamagedPackagePassesEveryCheck) {
  Exercise(bytes, "undamaged");
  EXPECT_EQ(ImageOf(base, kPckGamePassword).files.size(), 6u);
}

TEST_F(Corruption, IndexCutAtEveryLength) { CutEveryLength(&PackageBytes::idx, "idx"); }
TEST_F(Corruption, NameTableCutAtEveryLength) { CutEveryLength(&PackageBytes::nam, "nam"); }
TEST_F(Corruption, DataCutAtEveryLength) { CutEveryLength(&PackageBytes::dat, "dat"); }
TEST_F(Corruption, IndexWithAnyByteFlipped) { FlipEveryByte(&PackageBytes::idx, "idx"); }
TEST_F(Corruption, NameTableWithAnyByteFlipped) { FlipEveryByte(&PackageBytes::nam, "nam"); }
TEST_F(Corruption, DataWithAnyByteFlipped) { FlipEveryByte(&PackageBytes::dat, "dat"); }

TEST_F(Corruption, DataCutInsideAPayloadReadsAsDamaged) {
  PckReader probe;
  ASSERT_EQ(probe.Open(good), 0);
  const int index = probe.Find("data/raw.bin");  // stored: 64 + 36 bytes
  const std::vector<StoredBlock> blocks = BlocksAt(bytes.dat, probe.Records()[size_t(index)].dataOffset);
  ASSERT_EQ(blocks.size(), 2u);
  probe.Close();
  PackageBytes damaged = bytes;
  damaged.dat.resize(blocks[1].at + 5 + blocks[1].stored / 2);
  SavePackageBytes(base, damaged);

  PckReader r;
  r.SetPassword(kPckGamePassword);
  ASSERT_EQ(r.Open(base), 0);
  uint8_t out[64];
  EXPECT_EQ(r.ReadBlock(index, 0, out), 64);
  EXPECT_EQ(r.ReadBlock(index, 1, out), -1);
  bool failed = false;
  EXPECT_EQ(ReadEntry(r, index, 4096, &failed), PseudoRandom(100, 3).substr(0, 64));
  EXPECT_TRUE(failed);
}

TEST_F(Corruption, HostileSizesAskForNoHugeAllocation) {
  // A file record claiming 4 GiB in blocks of one byte, over an entry header that agrees.
  PackageBytes damaged = bytes;
  PutLE32(reinterpret_cast<uint8_t*>(damaged.idx.data() + 20), 1);  // block size 1
  std::vector<PckRecord> rec = RecordsOf(damaged.idx);
  for (size_t i = 0; i < rec.size(); ++i) {
    if (rec[i].type != kPckFile) continue;
    rec[i].size = 0xFFFFFFFFu;
    rec[i].Encode(reinterpret_cast<uint8_t*>(damaged.idx.data() + 64 + 33 * i));
    PutLE32(reinterpret_cast<uint8_t*>(damaged.dat.data() + rec[i].dataOffset + 1), 0xFFFFFFFFu);
  }
  SavePackageBytes(base, damaged);
  CError error;
  EXPECT_EQ(CompactPackage(base, compacted, nullptr, &error), -1);
  {
    // The check of every digest stops at the first block the data file cannot hold,
    // rather than trying the other four billion.
    PckReader r;
    r.SetPassword(kPckGamePassword);
    ASSERT_EQ(r.Open(base), 0);
    std::vector<int> files;
    for (size_t i = 0; i < r.Records().size(); ++i)
      if (r.Records()[i].type == kPckFile) files.push_back(int(i));
    size_t bad = 0;
    r.VerifyEntries(files, nullptr, [&](size_t, int result, uint32_t) { bad += result != 0; });
    EXPECT_EQ(bad, files.size());
  }
  Exercise(damaged, "4 GiB in one-byte blocks");
}
