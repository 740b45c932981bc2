// The package writer's sequential building: the records, names and entries that a new
// package gets, laid out as the format fixes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "pck/PckReader.h"
#include "pck/PckTree.h"
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
