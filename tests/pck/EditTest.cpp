// The package writer editing packages in place: adds, replaces, deletes and folders,
// their dead bytes and spans, failed edits that leave the package as it was, and random
// sessions checked against a model.
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

uint32_t DeadBytesOnDisk(const std::string& base) {
  const std::string idx = ReadFile(PckIndexName(base));
  return idx.size() >= kPckHeaderSize ? GetLE32(reinterpret_cast<const uint8_t*>(idx.data() + 24)) : 0;
}

}  // namespace

// ---------------------------------------------------------------- editing

class PackageEditing : public PackageDirTest {
 protected:
  void Build(const FileMap& files, uint32_t blockSize = kPckDefaultBlockSize) {
    PackageOptions o;
    o.blockSize = blockSize;
    ASSERT_EQ(BuildPackage(base, files, o), "");
  }
  void BuildEmpty() {
    PckWriter w;
    ASSERT_EQ(w.Create(base), 0);
    ASSERT_EQ(w.BeginDir(""), 0);
    w.Close();
  }
  std::string base = Path("pkg");
};

TEST_F(PackageEditing, AddFileMakesMissingFoldersAndWidensSpans) {
  BuildEmpty();
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0) << w.LastError();
  TextSource src("deep content");
  ASSERT_EQ(w.AddFile("a/b/c.txt", src, 1), 0) << w.LastError();
  EXPECT_EQ(w.Find("a"), 1);
  EXPECT_EQ(w.Find("a/b"), 2);
  EXPECT_EQ(w.Find("A\\B\\C.TXT"), 3);
  w.Close();

  const std::vector<PckRecord> rec = RecordsOnDisk(base);
  ASSERT_EQ(rec.size(), 7u);
  const uint8_t types[] = {kPckFolder, kPckFolder, kPckFolder, kPckFile, kPckFolderEnd, kPckFolderEnd, kPckFolderEnd};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(rec[i].type, types[i]) << i;
  EXPECT_EQ(rec[0].Span(), 5u);
  EXPECT_EQ(rec[0].ChildCount(), 1u);
  EXPECT_EQ(rec[1].Span(), 3u);
  EXPECT_EQ(rec[1].ChildCount(), 1u);
  EXPECT_EQ(rec[2].Span(), 1u);
  EXPECT_EQ(rec[2].ChildCount(), 1u);
  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.folders, (std::set<std::string>{"a", "a/b"}));
  EXPECT_EQ(image.files, (FileMap{{"a/b/c.txt", "deep content"}}));
}

TEST_F(PackageEditing, AddFileToAnExistingPathFailsAndWritesNoIndex) {
  Build({{"a/b/c.txt", "c"}, {"x.txt", "x"}});
  const std::string idx = ReadFile(PckIndexName(base));
  const PackageImage before = ImageOf(base);
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  for (const char* path : {"a/b/c.txt", "A\\B\\C.TXT", "a/b", "a", "x.txt/y", "a/b/c.txt/d", "", "new/", "/new",
                           "a//z", "./z", "a/../z"}) {
    TextSource src("never");
    EXPECT_EQ(w.AddFile(path, src, 1), -1) << path;
    EXPECT_FALSE(w.LastError().empty());
  }
  EXPECT_EQ(w.Find("new"), -1);
  EXPECT_EQ(w.Find("a/z"), -1);
  w.Close();
  EXPECT_FALSE(w.CommitFailed());
  EXPECT_EQ(ReadFile(PckIndexName(base)), idx);
  EXPECT_EQ(ImageOf(base), before);
}

TEST_F(PackageEditing, MakeDirMakesEveryMissingFolderOnce) {
  Build({{"x.txt", "x"}});
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  EXPECT_EQ(w.MakeDir("m/n/o"), 0);
  EXPECT_EQ(w.MakeDir("m/n/o"), -1);
  EXPECT_EQ(w.MakeDir("M/N"), -1);
  EXPECT_EQ(w.MakeDir("m/p"), 0);
  EXPECT_EQ(w.MakeDir("x.txt"), -1);
  EXPECT_EQ(w.MakeDir("x.txt/sub"), -1);
  EXPECT_EQ(w.MakeDir(""), -1);
  EXPECT_EQ(w.MakeDir("q/"), -1);
  EXPECT_EQ(w.Find("q"), -1);
  w.Close();
  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.folders, (std::set<std::string>{"m", "m/n", "m/n/o", "m/p"}));
  EXPECT_EQ(image.files, (FileMap{{"x.txt", "x"}}));
}

TEST_F(PackageEditing, ReplaceFileNeedsAnExistingFile) {
  Build({{"a/b.txt", "b"}});
  const std::string idx = ReadFile(PckIndexName(base));
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  for (const char* path : {"a", "", "missing.txt", "a/b.txt/c", "a/missing"}) {
    TextSource src("never");
    EXPECT_EQ(w.ReplaceFile(path, src, 0), -1) << path;
  }
  w.Close();
  EXPECT_EQ(ReadFile(PckIndexName(base)), idx);
}

TEST_F(PackageEditing, ReplaceKeepsRecordPlaceAndCountsDeadBytes) {
  const std::string old = PseudoRandom(50, 5);
  Build({{"a.txt", PseudoRandom(100, 6)}, {"b/c.txt", old}, {"z.txt", "zz"}});
  const PackageBytes before = LoadPackageBytes(base);
  const std::vector<PckRecord> was = RecordsOf(before.idx);
  const int index = 3;  // root, a.txt, b, c.txt
  ASSERT_EQ(was[index].size, 50u);

  const std::string fresh = PseudoRandom(300, 7);
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource src(fresh);
  ASSERT_EQ(w.ReplaceFile("B/C.TXT", src, 0), 0) << w.LastError();
  EXPECT_EQ(w.Find("b/c.txt"), index);
  w.Close();

  const PackageBytes after = LoadPackageBytes(base);
  const std::vector<PckRecord> now = RecordsOf(after.idx);
  ASSERT_EQ(now.size(), was.size());
  EXPECT_EQ(now[index].nameOffset, was[index].nameOffset);
  EXPECT_EQ(now[index].dataOffset, before.dat.size());  // appended at the old end
  EXPECT_EQ(now[index].size, 300u);
  EXPECT_EQ(after.dat.size(), before.dat.size() + 16 + 4 + 5 + 300);  // one stored block
  EXPECT_EQ(after.dat.substr(0, before.dat.size()), before.dat);     // nothing overwritten
  EXPECT_EQ(after.nam, before.nam);
  for (size_t i = 0; i < now.size(); ++i)
    if (i != size_t(index)) {
      EXPECT_EQ(now[i].dataOffset, was[i].dataOffset) << i;
    }
  EXPECT_EQ(DeadBytesOnDisk(base), 50u);

  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.files.at("b/c.txt"), fresh);
  EXPECT_EQ(image.files.at("a.txt"), PseudoRandom(100, 6));
  EXPECT_EQ(image.files.at("z.txt"), "zz");

  // A second replace counts the content it orphans in turn.
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource empty("");
  ASSERT_EQ(w.ReplaceFile("b/c.txt", empty, 1), 0);
  w.Close();
  EXPECT_EQ(DeadBytesOnDisk(base), 350u);
  EXPECT_EQ(ImageOf(base).files.at("b/c.txt"), "");
}

TEST_F(PackageEditing, DeletingAFolderCountsItsFilesDeadAndShrinksAncestors) {
  PackageOptions o;
  o.emptyFolders = {"top/victim/inner"};
  ASSERT_EQ(BuildPackage(base,
                         {{"top/keep.txt", "keep"},
                          {"top/victim/f10", PseudoRandom(10, 8)},
                          {"top/victim/f20", PseudoRandom(20, 9)},
                          {"top/zz.txt", "after"},
                          {"z.txt", "last"}},
                         o),
            "");
  PckReader r;
  ASSERT_EQ(r.Open(base), 0);
  const std::vector<PckRecord> was = r.Records();
  const int top = r.Find("top"), victim = r.Find("top/victim");
  ASSERT_GT(top, 0);
  ASSERT_GT(victim, 0);
  const uint32_t victimSpan = was[size_t(victim)].Span();
  ASSERT_EQ(victimSpan, 4u);  // f10, f20, inner, inner's end
  r.Close();

  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  ASSERT_EQ(w.Delete("Top\\Victim"), 0) << w.LastError();
  EXPECT_EQ(w.Find("top/victim"), -1);
  EXPECT_EQ(w.Find("top/victim/f10"), -1);
  EXPECT_EQ(w.Find("top/zz.txt"), victim);  // the next sibling moved into its place
  w.Close();

  const std::vector<PckRecord> now = RecordsOnDisk(base);
  ASSERT_EQ(now.size(), was.size() - (victimSpan + 2));
  EXPECT_EQ(now[0].Span(), was[0].Span() - (victimSpan + 2));
  EXPECT_EQ(now[size_t(top)].Span(), was[size_t(top)].Span() - (victimSpan + 2));
  EXPECT_EQ(now[size_t(top)].ChildCount(), was[size_t(top)].ChildCount() - 1);
  EXPECT_EQ(now[0].ChildCount(), was[0].ChildCount());
  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.deadBytes, 30u);
  EXPECT_EQ(image.folders, (std::set<std::string>{"top"}));
  EXPECT_EQ(image.files, (FileMap{{"top/keep.txt", "keep"}, {"top/zz.txt", "after"}, {"z.txt", "last"}}));
}

TEST_F(PackageEditing, DeleteRemovesFilesButNeverTheRoot) {
  Build({{"a.txt", "12345"}, {"d/b.txt", "b"}});
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  EXPECT_EQ(w.Delete(""), -1);
  EXPECT_EQ(w.Delete("/"), -1);
  EXPECT_EQ(w.Delete("missing"), -1);
  EXPECT_EQ(w.Delete("a.txt/x"), -1);
  EXPECT_EQ(w.Delete("d/"), -1);
  ASSERT_EQ(w.Delete("A.TXT"), 0);
  EXPECT_EQ(w.Delete("a.txt"), -1);
  // The name is free again in the same session.
  TextSource src("again");
  ASSERT_EQ(w.AddFile("a.txt", src, 2), 0);
  w.Close();
  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.deadBytes, 5u);
  EXPECT_EQ(image.files, (FileMap{{"a.txt", "again"}, {"d/b.txt", "b"}}));
}

TEST_F(PackageEditing, NamesOfTwoHundredFiftyFiveBytesCannotBeStored) {
  BuildEmpty();
  const std::string n254(254, 'n'), n255(255, 'n');
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource src("long name");
  EXPECT_EQ(w.AddFile(n255, src, 0), -1);
  EXPECT_EQ(w.AddFile("dir/" + n255, src, 0), -1);
  EXPECT_EQ(w.Find("dir"), -1);
  EXPECT_EQ(w.AddFile(n255 + "/f", src, 0), -1);
  EXPECT_EQ(w.MakeDir(n255), -1);
  ASSERT_EQ(w.AddFile("dir/" + n254, src, 0), 0);
  w.Close();
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"dir/" + n254, "long name"}}));
  const std::string nam = ReadFile(PckNameTableName(base));
  EXPECT_EQ(uint8_t(nam[nam.size() - 256]), 255);  // length byte: name and its zero

  PckWriter seq;
  ASSERT_EQ(seq.Create(Path("seq")), 0);
  ASSERT_EQ(seq.BeginDir(""), 0);
  EXPECT_EQ(seq.BeginDir(n255), -1);
  EXPECT_EQ(seq.AppendFile(n255, src, 0), -1);
  seq.Close();
}

TEST_F(PackageEditing, ShortSourceFailsAddFileAndLeavesThePackageAsItWas) {
  Build({{"a.txt", "a"}, {"d/b.txt", "b"}}, 16);
  const std::string idx = ReadFile(PckIndexName(base));
  const PackageImage before = ImageOf(base);
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource shortOne("abc", 10);
  EXPECT_EQ(w.AddFile("x.bin", shortOne, 0), -1);
  TextSource shortMany(PseudoRandom(24, 10), 48);  // runs dry in its second block of three
  EXPECT_EQ(w.AddFile("new/deep/x.bin", shortMany, 1), -1);
  EXPECT_EQ(w.Find("new"), -1);
  EXPECT_EQ(w.Find("new/deep"), -1);
  TextSource shortInOld("", 1);
  EXPECT_EQ(w.AddFile("d/more/x.bin", shortInOld, 2), -1);
  EXPECT_EQ(w.Find("d/more"), -1);
  w.Close();
  EXPECT_FALSE(w.CommitFailed());
  EXPECT_EQ(ReadFile(PckIndexName(base)), idx);
  EXPECT_EQ(ImageOf(base), before);
}

TEST_F(PackageEditing, FailedAddFileKeepsTheEarlierEditsOfItsSession) {
  Build({{"a.txt", "a"}});
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource good("good");
  ASSERT_EQ(w.AddFile("good.txt", good, 1), 0);
  ASSERT_EQ(w.MakeDir("made/here"), 0);
  TextSource bad("ab", 5);
  EXPECT_EQ(w.AddFile("bad/x.bin", bad, 1), -1);
  EXPECT_EQ(w.AddFile("made/here/x.bin", bad, 1), -1);
  EXPECT_EQ(w.AddFile("made/new/x.bin", bad, 1), -1);
  w.Close();
  EXPECT_FALSE(w.CommitFailed());
  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.files, (FileMap{{"a.txt", "a"}, {"good.txt", "good"}}));
  EXPECT_EQ(image.folders, (std::set<std::string>{"made", "made/here"}));
}

TEST_F(PackageEditing, LongSourceStoresExactlyItsSize) {
  Build({{"a.txt", "a"}}, 4);
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource longOne("0123456789ABCDEF", 10);
  ASSERT_EQ(w.AddFile("ten.txt", longOne, 0), 0);
  TextSource longReplace("abcdefgh", 3);
  ASSERT_EQ(w.ReplaceFile("a.txt", longReplace, 1), 0);
  w.Close();
  PckReader r;
  ASSERT_EQ(r.Open(base), 0);
  const PckRecord& rec = r.Records()[size_t(r.Find("ten.txt"))];
  EXPECT_EQ(rec.size, 10u);
  uint8_t d[16];
  Md5("0123456789", 10, d);
  EXPECT_EQ(Md5Hex(rec.digest), Md5Hex(d));
  const std::string dat = ReadFile(PckDataName(base));
  EXPECT_EQ(EntryLengthAt(dat, rec.dataOffset), 16u + 3 * 4 + 3 * 5 + 10);
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"a.txt", "abc"}, {"ten.txt", "0123456789"}}));
}

TEST_F(PackageEditing, FailedReplaceLeavesTheRecordOnItsOldContent) {
  Build({{"a.txt", "old content"}, {"b.txt", "b"}}, 4);
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  const int index = w.Find("a.txt");
  const PckRecord was = w.Records()[size_t(index)];
  TextSource shortOne("new", 9);
  EXPECT_EQ(w.ReplaceFile("a.txt", shortOne, 0), -1);
  const PckRecord& now = w.Records()[size_t(index)];
  EXPECT_EQ(now.dataOffset, was.dataOffset);
  EXPECT_EQ(now.size, was.size);
  EXPECT_EQ(Md5Hex(now.digest), Md5Hex(was.digest));
  EXPECT_EQ(w.Header().deadBytes, 0u);
  // Another edit in the session commits the index: the record still holds the old entry.
  TextSource other("B");
  ASSERT_EQ(w.ReplaceFile("b.txt", other, 0), 0);
  w.Close();
  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.files, (FileMap{{"a.txt", "old content"}, {"b.txt", "B"}}));
  EXPECT_EQ(image.deadBytes, 1u);
}

TEST_F(PackageEditing, AbandonLeavesThePackageAsOpenedAndTheDestructorCommits) {
  Build({{"a.txt", "a"}, {"d/b.txt", "b"}});
  const PackageBytes before = LoadPackageBytes(base);
  {
    PckWriter w;
    ASSERT_EQ(w.OpenForEdit(base), 0);
    TextSource src("new");
    ASSERT_EQ(w.AddFile("n/new.txt", src, 1), 0);
    ASSERT_EQ(w.Delete("d"), 0);
    w.Abandon();
  }
  EXPECT_EQ(ReadFile(PckIndexName(base)), before.idx);
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"a.txt", "a"}, {"d/b.txt", "b"}}));
  {
    PckWriter w;
    ASSERT_EQ(w.OpenForEdit(base), 0);
    TextSource src("kept");
    ASSERT_EQ(w.AddFile("kept.txt", src, 1), 0);
  }
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"a.txt", "a"}, {"d/b.txt", "b"}, {"kept.txt", "kept"}}));
}

TEST_F(PackageEditing, OpenReaderNeitherBlocksACommitNorLosesWhatItLoaded) {
  Build({{"a.txt", "old a"}, {"c.txt", PseudoRandom(3000, 14, true)}}, 1024);
  PckReader open;
  ASSERT_EQ(open.Open(base), 0);
  auto stream = open.OpenEntry("c.txt");
  ASSERT_NE(stream, nullptr);

  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource a("new a"), b("b");
  ASSERT_EQ(w.ReplaceFile("a.txt", a, 1), 0);
  ASSERT_EQ(w.AddFile("b.txt", b, 1), 0);
  ASSERT_EQ(w.Delete("c.txt"), 0);
  w.Close();
  EXPECT_FALSE(w.CommitFailed()) << w.LastError();

  // Data is only ever appended, so the reader opened before still reads its own view.
  EXPECT_EQ(ReadEntry(open, open.Find("a.txt")), "old a");
  std::string c(3000, '\0');
  EXPECT_EQ(stream->Read(c.data(), 3000), 3000);  // a stream opened before the commit
  EXPECT_EQ(c, PseudoRandom(3000, 14, true));
  EXPECT_EQ(open.Find("b.txt"), -1);
  EXPECT_EQ(ImageOf(base).files, (FileMap{{"a.txt", "new a"}, {"b.txt", "b"}}));
}

TEST_F(PackageEditing, OpenForEditRefusesWhatItCannotRewrite) {
  PckWriter w;
  EXPECT_EQ(w.OpenForEdit(base), -1);  // nothing there
  Build({{"a.txt", "a"}});
  const PackageBytes good = LoadPackageBytes(base);

  PackageBytes later = good;
  PutLE32(reinterpret_cast<uint8_t*>(later.idx.data() + 16), 3);
  SavePackageBytes(base, later);
  EXPECT_EQ(w.OpenForEdit(base), -1);  // a reader takes it, an editor would rewrite it as 2

  PackageBytes badSpan = good;
  PutLE32(reinterpret_cast<uint8_t*>(badSpan.idx.data() + 64 + 29), 7);
  SavePackageBytes(base, badSpan);
  EXPECT_EQ(w.OpenForEdit(base), -1);

  PackageBytes badName = good;
  PutLE32(reinterpret_cast<uint8_t*>(badName.idx.data() + 64 + 33 + 1), uint32_t(good.nam.size()));
  SavePackageBytes(base, badName);
  EXPECT_EQ(w.OpenForEdit(base), -1);

  SavePackageBytes(base, good);
  std::remove(PckDataName(base).c_str());
  EXPECT_EQ(w.OpenForEdit(base), -1);
  TextSource src("x");
  EXPECT_EQ(w.AddFile("x", src, 0), -1);  // nothing is open
  w.Close();
  EXPECT_EQ(ReadFile(PckIndexName(base)), good.idx);
}

TEST_F(PackageEditing, EditsSurviveCloseReopenAndMoreEdits) {
  Build({{"keep/a.txt", "a"}, {"keep/b.txt", PseudoRandom(100, 11)}, {"drop/c.txt", "ccc"}}, 32);
  PckWriter w;
  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource s1(PseudoRandom(90, 12)), s2("two");
  ASSERT_EQ(w.AddFile("keep/new/n1.bin", s1, 2), 0);
  ASSERT_EQ(w.ReplaceFile("keep/a.txt", s2, 1), 0);
  w.Close();

  ASSERT_EQ(w.OpenForEdit(base), 0);
  TextSource s3("three");
  ASSERT_EQ(w.AddFile("keep/new/n2.txt", s3, 0), 0);
  ASSERT_EQ(w.Delete("drop"), 0);
  ASSERT_EQ(w.Delete("keep/b.txt"), 0);
  TextSource s4(PseudoRandom(70, 13));
  ASSERT_EQ(w.ReplaceFile("keep/new/n1.bin", s4, 1), 0);
  w.Close();

  ASSERT_EQ(w.OpenForEdit(base), 0);
  ASSERT_EQ(w.MakeDir("drop"), 0);
  TextSource s5("back");
  ASSERT_EQ(w.AddFile("drop/c.txt", s5, 1), 0);
  w.Close();

  const PackageImage image = ImageOf(base);
  EXPECT_EQ(image.files, (FileMap{{"keep/a.txt", "two"},
                                  {"keep/new/n1.bin", PseudoRandom(70, 13)},
                                  {"keep/new/n2.txt", "three"},
                                  {"drop/c.txt", "back"}}));
  EXPECT_EQ(image.folders, (std::set<std::string>{"keep", "keep/new", "drop"}));
  EXPECT_EQ(image.deadBytes, 1u + 3 + 100 + 90);
}

TEST_F(PackageEditing, InterleavedAddsIntoManyFoldersReadBackAsAdded) {
  BuildEmpty();
  FileMap model;
  PckWriter w;
  w.SetPassword(kPckGamePassword);
  ASSERT_EQ(w.OpenForEdit(base), 0);
  for (int i = 0; i < 240; ++i) {
    // folders f0..f7 and their sub-folders s1 and s2, filled round-robin
    char path[64];
    if (i % 3)
      snprintf(path, sizeof path, "f%d/s%d/file%d.bin", i % 8, i % 3, i);
    else
      snprintf(path, sizeof path, "f%d/file%d.bin", i % 8, i);
    std::string content = PseudoRandom(size_t(i * 7 % 300), uint32_t(100 + i), i % 2 == 0);
    TextSource src(content);
    ASSERT_EQ(w.AddFile(path, src, i % 3), 0) << path << ": " << w.LastError();
    model[path] = content;
  }
  w.Close();
  EXPECT_EQ(ImageOf(base, kPckGamePassword).files, model);
}

// ---------------------------------------------------------------- randomized session

namespace {

// The model of a package: entries by their case-folded path.
class PackageModel {
 public:
  struct Entry {
    std::string path;  // as created
    bool folder;
    std::string content;
  };

  static std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
      size_t slash = path.find('/', start);
      out.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
      if (slash == std::string::npos) return out;
      start = slash + 1;
    }
  }

  // What AddFile (folderOnly false) or MakeDir (true) must do; updates the model.
  bool Add(const std::string& path, bool folderOnly, const std::string& content) {
    std::vector<std::string> names = Split(path);
    std::string key, canon;
    size_t i = 0;
    for (; i < names.size(); ++i) {
      std::string k = key.empty() ? PckFoldName(names[i]) : key + "/" + PckFoldName(names[i]);
      auto it = m_entries.find(k);
      if (it == m_entries.end()) break;
      if (!it->second.folder) return false;  // a file on the way, or the file itself
      key = k;
      canon = it->second.path;
    }
    if (i == names.size()) return false;  // it all exists
    for (; i < names.size(); ++i) {
      key = key.empty() ? PckFoldName(names[i]) : key + "/" + PckFoldName(names[i]);
      canon = canon.empty() ? names[i] : canon + "/" + names[i];
      const bool folder = folderOnly || i + 1 < names.size();
      m_entries[key] = {canon, folder, folder ? std::string() : content};
    }
    return true;
  }

  const Entry* Find(const std::string& path) const {
    std::string key;
    for (const std::string& n : Split(path)) {
      if (!key.empty()) key += '/';
      key += PckFoldName(n);
    }
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
  }

  bool Replace(const std::string& path, const std::string& content) {
    const Entry* e = Find(path);
    if (!e || e->folder) return false;
    m_dead += uint32_t(e->content.size());
    m_entries[Key(path)].content = content;
    return true;
  }

  bool Delete(const std::string& path) {
    const Entry* e = Find(path);
    if (!e) return false;
    const std::string key = Key(path);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
      if (it->first == key || it->first.compare(0, key.size() + 1, key + "/") == 0) {
        if (!it->second.folder) m_dead += uint32_t(it->second.content.size());
        it = m_entries.erase(it);
      } else {
        ++it;
      }
    }
    return true;
  }

  PackageImage Image() const {
    PackageImage image;
    for (const auto& [key, e] : m_entries) {
      if (e.folder)
        image.folders.insert(e.path);
      else
        image.files[e.path] = e.content;
    }
    image.deadBytes = m_dead;
    return image;
  }

  std::vector<std::string> Paths() const {
    std::vector<std::string> out;
    for (const auto& [key, e] : m_entries) out.push_back(e.path);
    return out;
  }

 private:
  static std::string Key(const std::string& path) {
    std::string key;
    for (const std::string& n : Split(path)) {
      if (!key.empty()) key += '/';
      key += PckFoldName(n);
    }
    return key;
  }
  std::map<std::string, Entry> m_entries;
  uint32_t m_dead = 0;
};

}  // namespace

TEST_F(PackageEditing, RandomEditsMatchAModelAcrossSessions) {
  PackageOptions o;
  o.blockSize = 16;
  o.password = kPckGamePassword;
  ASSERT_EQ(BuildPackage(base, {}, o), "");
  PackageModel model, committed;
  uint32_t x = 20240611;  // fixed seed
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  const char* pool[] = {"a", "B", "cc", "Dd.txt", "e.bin", "F"};
  auto randomName = [&] {
    std::string n = pool[next() % 6];
    if (next() % 4 == 0) n = PckFoldName(n);  // the same name in other letters' case
    return n;
  };
  auto randomPath = [&] {
    // mostly below an existing entry, so that edits reach deep folders
    std::vector<std::string> paths = model.Paths();
    std::string p = !paths.empty() && next() % 3 ? paths[next() % paths.size()] + "/" : "";
    p += randomName();
    if (next() % 4 == 0) p += "/" + randomName();
    return p;
  };
  const uint32_t sizes[] = {0, 1, 15, 16, 17, 40, 100};

  PckWriter w;
  w.SetPassword(kPckGamePassword);
  ASSERT_EQ(w.OpenForEdit(base), 0);
  int sessions = 0, done = 0, refused = 0;
  for (int step = 1; step <= 600; ++step) {
    const uint32_t op = next() % 10;
    std::vector<std::string> paths = model.Paths();
    std::string path = op >= 6 && !paths.empty() && next() % 4 ? paths[next() % paths.size()] : randomPath();
    if (next() % 3 == 0) path = PckFoldName(path);
    const std::string content = PseudoRandom(sizes[next() % 7], next(), next() % 2 == 0);
    TextSource src(content);
    bool want = false;
    int got = 0;
    if (op < 4) {
      want = model.Add(path, false, content);
      got = w.AddFile(path, src, int(next() % 3));
    } else if (op < 6) {
      want = model.Add(path, true, "");
      got = w.MakeDir(path);
    } else if (op < 8) {
      want = model.Replace(path, content);
      got = w.ReplaceFile(path, src, int(next() % 3));
    } else {
      want = model.Delete(path);
      got = w.Delete(path);
    }
    ASSERT_EQ(got, want ? 0 : -1) << "step " << step << " op " << op << " " << path << ": " << w.LastError();
    (want ? done : refused)++;
    ASSERT_EQ(w.Find(path) >= 0, model.Find(path) != nullptr) << "step " << step << " " << path;

    if (step % 20 == 0) {
      if (step % 100 == 0) {
        // a session given up: everything since the last commit is gone
        w.Abandon();
        model = committed;
      } else {
        w.Close();
        ASSERT_FALSE(w.CommitFailed()) << w.LastError();
        committed = model;
      }
      ++sessions;
      PackageImage image;
      std::string why;
      ASSERT_TRUE(ReadPackage(base, image, kPckGamePassword, &why)) << "step " << step << ": " << why;
      ASSERT_EQ(image, model.Image()) << "step " << step;
      ASSERT_EQ(w.OpenForEdit(base), 0) << w.LastError();
    }
  }
  w.Close();
  EXPECT_EQ(ImageOf(base, kPckGamePassword), committed.Image());
  // The walk did both kinds of thing a fair number of times.
  EXPECT_GT(done, 150);
  EXPECT_GT(refused, 100);
  EXPECT_EQ(sessions, 30);
}
