// `pcktool diff` end to end: two game folders are made with the real tool, the updater
// that diff builds is run by a player on a copy of the old game, and the copy must then
// hold exactly the new game.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/PackageFixtures.h"
#include "tests/support/ProcessRunner.h"


using namespace qvtest;
namespace fsys = std::filesystem;

namespace {

// "说明" and "界面" in code page 936, as the game names its files.
const std::string kNotes = "\xcb\xb5\xc3\xf7", kUi = "\xbd\xe7\xc3\xe6";

class GameDiff : public PackageDirTest {
 protected:
  // A game folder: packages from trees, plain files as given.
  void MakeGame(const std::string& root, const std::map<std::string, FileMap>& packages, const FileMap& plain) {
    MakeDirs(root);
    for (const auto& [name, files] : packages) {
      const std::string src = Path("src" + std::to_string(m_sources++));
      for (const auto& [path, content] : files) {
        MakeDirs(fsys::path(src + "/" + path).parent_path().string());
        WriteFile(src + "/" + path, content);
      }
      ASSERT_EQ(Pcktool({"create", src, root + "/" + name}).code, 0);
    }
    for (const auto& [path, content] : plain) {
      MakeDirs(fsys::path(root + "/" + path).parent_path().string());
      WriteFile(root + "/" + path, content);
    }
  }
  RunResult Pcktool(const std::vector<std::string>& args) { return RunTool(PCKTOOL_PATH, args, Path("")); }

  // Every plain file below `root` but the packages' files and what the updater leaves.
  static FileMap PlainFiles(const std::string& root) {
    FileMap files;
    for (const auto& e : fsys::recursive_directory_iterator(root)) {
      if (!e.is_regular_file()) continue;
      const std::string rel = fsys::relative(e.path(), root).generic_string();
      const std::string ext = e.path().extension().string();
      if ((rel.find('/') == std::string::npos && (ext == ".idx" || ext == ".nam" || ext == ".dat")) ||
          rel == "quorvane-update" || rel.rfind("Log", 0) == 0)
        continue;
      files[rel] = ReadFile(e.path().string());
    }
    return files;
  }
  int m_sources = 0;
  static std::string Ver(const char* cur) { return std::string("[Ver]\r\nCurVer=") + cur + "\r\nValidVer=1.0.0\r\n"; }
};

}  // namespace

TEST_F(GameDiff, TheUpdaterItMakesTurnsTheOldGameIntoTheNewOne) {
  const std::string oldGame = Path("old"), newGame = Path("new"), out = Path("out"), copy = Path("copy");
  MakeGame(oldGame,
           {{"bld", {{"ui/a.txt", "a1"}, {"ui/deep/b.txt", "b"}, {"ui/gone/x.txt", "x"}, {"ui/gone/y/z.txt", "z"},
                     {kNotes + "/" + kUi + ".txt", "gbk"}}},
            {"mb", {{"items/i1.txt", "one"}, {"items/i2.txt", "two"}, {"items/old.txt", "old"}}},
            {"sy", {{"s.txt", "system"}}}},
           {{"CVer.txt", Ver("1.0.5")}, {"readme.txt", "readme"}, {"docs/old.txt", "old doc"},
            {"olddir/a.txt", "a"}, {"olddir/sub/b.txt", "b"}, {kNotes + ".txt", "notes 1"}});
  MakeGame(newGame,
           {{"bld", {{"ui/a.txt", "a2, longer"}, {"ui/deep/b.txt", "b"}, {"ui/deep/c.txt", "c"},
                     {kNotes + "/" + kUi + ".txt", "gbk"}}},
            {"mb", {{"items/i1.txt", "one, new"}, {"items/i2.txt", "two"}, {"items/new/n.txt", "n"}}},
            {"pm", {{"skins/s1.bmp", std::string(70000, 's')}, {"skins/" + kUi + ".bmp", "ui skin"}}}},
           {{"CVer.txt", Ver("1.0.6")}, {"readme.txt", "readme"}, {"docs/new.txt", "new doc"},
            {kNotes + ".txt", "notes 2"}});
  fsys::copy(oldGame, copy, fsys::copy_options::recursive);

  const RunResult diff = Pcktool({"diff", oldGame, newGame, out, "--updater", QUORVANE_UPDATE_PATH, copy + "/quorvane-update"});
  ASSERT_EQ(diff.code, 0) << diff.err;
  EXPECT_NE(diff.out.find("bld: 1 added, 1 replaced, 4 removed"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("pm (new): 2 added"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("sy (removed)"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("plain files: 1 added, 1 replaced, 2 removed"), std::string::npos) << diff.out;
  EXPECT_EQ(ReadFile(out + "/Delete.txt"), "sy.idx\r\nsy.nam\r\nsy.dat\r\ndocs\\old.txt\r\nolddir\r\n");

  ASSERT_EQ(std::system(("chmod +x '" + copy + "/quorvane-update' && cd '" + copy +
                         "' && ./quorvane-update --yes </dev/null >/dev/null 2>&1")
                            .c_str()),
            0);
  for (const char* name : {"bld", "mb", "pm"}) {
    const PackageImage want = ImageOf(newGame + "/" + name, kPckGamePassword);
    const PackageImage got = ImageOf(copy + "/" + name, kPckGamePassword);
    EXPECT_EQ(got.files, want.files) << name;
    EXPECT_EQ(got.folders, want.folders) << name;
  }
  EXPECT_FALSE(Exists(copy + "/sy.idx"));
  EXPECT_EQ(PlainFiles(copy), PlainFiles(newGame));

  // The same folders give the same bytes; a folder against itself gives a patch that
  // holds only the version file and deletes nothing.
  ASSERT_EQ(Pcktool({"diff", oldGame, newGame, Path("again")}).code, 0);
  EXPECT_TRUE(LoadPackageBytes(out + "/patch") == LoadPackageBytes(Path("again/patch")));
  const RunResult same = Pcktool({"diff", newGame, newGame, Path("same")});
  ASSERT_EQ(same.code, 0) << same.err;
  EXPECT_EQ(ImageOf(Path("same/patch"), kPckGamePassword).files, (FileMap{{"CVer.txt", Ver("1.0.6")}}));
  EXPECT_EQ(ReadFile(Path("same/Delete.txt")), "");
}

TEST_F(GameDiff, WhatAPatchCannotExpressIsRefusedAndNothingIsWritten) {
  const std::map<std::string, FileMap> packages = {{"mb", {{"items/i1.txt", "one"}}}};
  const FileMap base = {{"CVer.txt", Ver("1.0.5")}};
  const struct {
    const char* what;
    std::map<std::string, FileMap> oldPackages, newPackages;
    FileMap oldPlain, newPlain;
    const char* message;
  } rows[] = {
      {"a plain file becomes a folder", packages, packages, {{"docs", "x"}}, {{"docs/a.txt", "a"}}, "was a file and is a folder"},
      {"a package entry becomes a folder", packages, {{"mb", {{"items/i1.txt/a", "a"}}}}, {}, {}, "was a file and is a folder"},
      {"a name changes only in case", packages, {{"mb", {{"items/I1.txt", "one!"}}}}, {}, {}, "case of a name"},
      {"a new empty package entry", packages, {{"mb", {{"items/i1.txt", "one"}, {"items/e.txt", ""}}}}, {}, {}, "is empty"},
      {"a plain folder named like a package", packages, packages, {}, {{"BLD/a.txt", "a"}}, "named like a package"},
      {"a plain folder where a new package goes", packages, {{"mb", {{"items/i1.txt", "one"}}}, {"pm", {{"a", "a"}}}},
       {{"pm/x.txt", "x"}}, {}, "cannot turn a plain file or folder into a package"},
      {"a name no Windows can hold", packages, packages, {}, {{"con.txt", "device"}}, "would refuse"},
      {"a removed file Delete.txt would take for a wildcard", packages, packages, {{"a*.txt", "x"}}, {}, "wildcard"},
      {"a removed file whose name ends with a blank", packages, packages, {{"old.txt ", "x"}}, {}, "blank"},
  };
  int n = 0;
  for (const auto& row : rows) {
    const std::string dir = Path("case" + std::to_string(n++));
    FileMap oldPlain = base, newPlain = base;
    oldPlain.insert(row.oldPlain.begin(), row.oldPlain.end());
    newPlain.insert(row.newPlain.begin(), row.newPlain.end());
    MakeGame(dir + "/old", row.oldPackages, oldPlain);
    MakeGame(dir + "/new", row.newPackages, newPlain);
    const RunResult r = Pcktool({"diff", dir + "/old", dir + "/new", dir + "/out"});
    EXPECT_EQ(r.code, 1) << row.what;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << row.what << ": " << r.err;
    EXPECT_FALSE(Exists(dir + "/out/patch.idx")) << row.what;
    EXPECT_FALSE(Exists(dir + "/out/Delete.txt")) << row.what;
  }
}
