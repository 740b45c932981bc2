// Listing folders on disk.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "io/DiskDirIterator.h"
#include "tests/support/TempDir.h"

TEST(DiskDirIterator, ListsDotEntriesFilesAndFolders) {
  qvtest::CTempDir dir;
  qvtest::WriteFile(dir / "a.txt", "12345");
  qvtest::MakeDirs(dir / "sub");
  DiskDirIterator it(dir.Path());
  std::map<std::string, std::pair<int, int>> seen;
  while (DirEntry* e = it.Next()) seen[e->name] = {e->kind, e->value};
  it.Close();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen["."].first, kDirEntryFolder);
  EXPECT_EQ(seen[".."].first, kDirEntryFolder);
  EXPECT_EQ(seen["sub"], std::make_pair(int(kDirEntryFolder), 0));
  EXPECT_EQ(seen["a.txt"], std::make_pair(int(kDirEntryFile), 5));
}

TEST(DiskDirIterator, MissingFolderListsNothingAndReopenStartsOver) {
  qvtest::CTempDir dir;
  DiskDirIterator it(dir / "missing");
  EXPECT_EQ(it.Next(), nullptr);
  EXPECT_EQ(it.Next(), nullptr);
  it.Open(dir.Path());
  int n = 0;
  while (it.Next()) ++n;
  EXPECT_EQ(n, 2);  // "." and ".."
  it.Open(dir.Path());
  EXPECT_NE(it.Next(), nullptr);
}
