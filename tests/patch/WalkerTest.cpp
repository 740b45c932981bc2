// The walker's order of callbacks, skip, cancel and failure rules, on disk and in a package.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fs/FileSource.h"
#include "io/FileStream.h"
#include "patch/DirWalker.h"
#include "pck/PckWriter.h"
#include "tests/support/TempDir.h"

namespace {

// Records every callback as one line; can fail, skip or cancel at a named entry.
class CRecordingWalker : public CDirWalker {
 public:
  std::vector<std::string> log;
  std::string failFile, skipFolder, cancelAt;

  int OnFile(const char* name) override {
    log.push_back("file " + std::string(name) + " @" + std::to_string(m_nDepth));
    if (cancelAt == name) m_bCancel = true;
    return failFile == name ? -1 : 0;
  }
  int OnFolder(const char* name) override {
    log.push_back("folder " + std::string(name) + " @" + std::to_string(m_nDepth));
    if (skipFolder == name) m_bSkip = true;
    if (cancelAt == name) m_bCancel = true;
    return 0;
  }
  int OnEnterFolder(const char* path) override {
    log.push_back("enter " + Tail(path) + " @" + std::to_string(m_nDepth));
    return 0;
  }
  int OnLeaveFolder(const char* path) override {
    log.push_back("leave " + Tail(path) + " @" + std::to_string(m_nDepth));
    return 0;
  }
  int Depth() const { return m_nDepth; }

 private:
  static std::string Tail(const std::string& p) { return p.substr(p.rfind('/') + 1); }
};

// Installs a disk-and-package source for the life of a test.
class Walker : public ::testing::Test {
 protected:
  void SetUp() override {
    m_source.SetMode(PackageFirst);
    g_fileSource = &m_source;
  }
  void TearDown() override { g_fileSource = nullptr; }

  // root/a.txt and root/sub/b.txt: one file per folder keeps the disk order irrelevant.
  std::string MakeTree() {
    std::string root = m_dir / "root";
    qvtest::MakeDirs(root + "/sub");
    qvtest::WriteFile(root + "/sub/b.txt", "b");
    return root;
  }

  qvtest::CTempDir m_dir;
  CFileSource m_source;
};

}  // namespace

TEST_F(Walker, EmptyRootEntersAndLeavesOnce) {
  std::string root = m_dir / "empty";
  qvtest::MakeDirs(root);
  CRecordingWalker w;
  EXPECT_EQ(w.Walk(root, true), 0);
  EXPECT_EQ(w.log, (std::vector<std::string>{"enter empty @0", "leave empty @0"}));
  EXPECT_EQ(w.Depth(), 0);
}

TEST_F(Walker, UnlistableRootFailsWithoutLeave) {
  CRecordingWalker w;
  EXPECT_EQ(w.Walk(m_dir / "missing", true), -1);
  EXPECT_EQ(w.log, (std::vector<std::string>{"enter missing @0"}));
}

TEST_F(Walker, RecursiveWalkReportsDepthsAndNeverDotEntries) {
  std::string root = MakeTree();
  CRecordingWalker w;
  EXPECT_EQ(w.Walk(root, true), 0);
  EXPECT_EQ(w.log, (std::vector<std::string>{"enter root @0", "folder sub @1", "enter sub @1", "file b.txt @2",
                                             "leave sub @1", "leave root @0"}));
  CRecordingWalker flat;
  EXPECT_EQ(flat.Walk(root, false), 0);
  EXPECT_EQ(flat.log, (std::vector<std::string>{"enter root @0", "folder sub @1", "leave root @0"}));
}

TEST_F(Walker, SkippedFolderIsNotEnteredButTheNextOneIs) {
  std::string root = m_dir / "root";
  qvtest::MakeDirs(root + "/one");
  qvtest::MakeDirs(root + "/two");
  qvtest::WriteFile(root + "/one/x", "x");
  qvtest::WriteFile(root + "/two/y", "y");
  for (const char* skip : {"one", "two"}) {
    CRecordingWalker w;
    w.skipFolder = skip;
    EXPECT_EQ(w.Walk(root, true), 0);
    std::string other = std::string(skip) == "one" ? "two" : "one";
    auto has = [&](const std::string& line) { return std::find(w.log.begin(), w.log.end(), line) != w.log.end(); };
    EXPECT_FALSE(has("enter " + std::string(skip) + " @1"));
    EXPECT_TRUE(has("enter " + other + " @1"));
  }
}

TEST_F(Walker, FailureBelowStopsEverythingWithoutLeaves) {
  std::string root = MakeTree();
  CRecordingWalker w;
  w.failFile = "b.txt";
  EXPECT_EQ(w.Walk(root, true), -1);
  EXPECT_EQ(w.log.back(), "file b.txt @2");
  for (const std::string& line : w.log) EXPECT_EQ(line.rfind("leave", 0), std::string::npos) << line;
}

TEST_F(Walker, CancelEndsQuietlyWithEveryLeave) {
  std::string root = MakeTree();
  CRecordingWalker w;
  w.cancelAt = "b.txt";
  EXPECT_EQ(w.Walk(root, true), 0);
  EXPECT_EQ(w.log, (std::vector<std::string>{"enter root @0", "folder sub @1", "enter sub @1", "file b.txt @2",
                                             "leave sub @1", "leave root @0"}));
}

TEST_F(Walker, WalksInsideAPackageInIndexOrder) {
  std::string base = m_dir / "pack";
  {
    PckWriter w;
    ASSERT_EQ(w.Create(base), 0);
    w.BeginDir("");
    std::string c = "content";
    MemoryStream s1(c.data(), 7), s2(c.data(), 7);
    w.AppendFile("z.txt", s1, 2);
    w.BeginDir("inner");
    w.AppendFile("a.txt", s2, 2);
    w.EndDir();
    w.EndDir();
    w.Close();
  }
  CRecordingWalker w;
  EXPECT_EQ(w.Walk(base, true), 0);
  EXPECT_EQ(w.log, (std::vector<std::string>{"enter pack @0", "file z.txt @1", "folder inner @1", "enter inner @1",
                                             "file a.txt @2", "leave inner @1", "leave pack @0"}));
}

TEST_F(Walker, OverlongChildPathFailsInsteadOfBeingCut) {
  std::string root = m_dir / "r";
  std::string deep = root;
  while (deep.size() < 200) deep += "/dddddddddddddddddddd";
  qvtest::MakeDirs(deep + "/" + std::string(80, 'e'));
  CRecordingWalker w;
  EXPECT_EQ(w.Walk(root, true), -1);
}
