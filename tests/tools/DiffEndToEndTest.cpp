// `pcktool diff` end to end: two game folders are made with the real tool, the updater
// that diff builds is run by a player on a copy of the old game, and the copy must then
// hold exactly the new game.
#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "pck/PckReader.h"
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
  RunResult Pcktool(const std::vector<std::string>& args) {
    // Root writes through missing permission bits; without the capabilities that allow
    // it, a folder made read-only is read-only to the tool too.
    if (m_withoutOverride) {
      std::vector<std::string> line = {"--bounding-set=-dac_override,-dac_read_search,-fowner", "--", PCKTOOL_PATH};
      line.insert(line.end(), args.begin(), args.end());
      return RunTool("setpriv", line, Path(""));
    }
    return RunTool(PCKTOOL_PATH, args, Path(""));
  }
  // Makes the folders read-only for the tool: no permission bit to write, and for root
  // (who needs none) the runs lose the right to ignore them when setpriv can take it.
  void MakeReadOnly(const std::vector<std::string>& folders) {
    for (const std::string& f : folders) ASSERT_EQ(std::system(("chmod -R a-w '" + f + "'").c_str()), 0);
    m_readOnly.insert(m_readOnly.end(), folders.begin(), folders.end());
    m_withoutOverride = geteuid() == 0 && std::system("setpriv --version >/dev/null 2>&1") == 0;
  }
  void TearDown() override {
    for (const std::string& f : m_readOnly) std::system(("chmod -R u+w '" + f + "'").c_str());
  }
  // `root` and every path below it with what would show a change: size, time, mode.
  static std::map<std::string, std::string> Listing(const std::string& root) {
    std::map<std::string, std::string> out;
    const auto note = [&](const fsys::path& p) {
      out[fsys::relative(p, root).generic_string()] =
          (fsys::is_directory(p) ? std::string("d") : std::to_string(fsys::file_size(p))) + " " +
          std::to_string(fsys::last_write_time(p).time_since_epoch().count()) + " " +
          std::to_string(int(fsys::status(p).permissions()));
    };
    note(root);
    for (const auto& e : fsys::recursive_directory_iterator(root)) note(e.path());
    return out;
  }

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
  std::vector<std::string> m_readOnly;
  bool m_withoutOverride = false;
  static std::string Ver(const char* cur) { return std::string("[Ver]\r\nCurVer=") + cur + "\r\nValidVer=1.0.0\r\n"; }
};

}  // namespace

namespace {

// 256x256 BGRA art: gradients and a little noise; `repaint` paints a square over it.
std::string Art(uint32_t seed, bool repaint) {
  std::mt19937 rng(seed);
  std::string out(256 * 256 * 4, '\0');
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      char* p = &out[size_t(y * 256 + x) * 4];
      const bool square = repaint && x >= 100 && x < 140 && y >= 60 && y < 100;
      const int noise = int(rng() % 4);
      p[0] = char(square ? 0x20 : x + noise);
      p[1] = char(square ? 0xC0 : y);
      p[2] = char((x + y) / 2);
      p[3] = char(0xFF);
    }
  return out;
}
// Bytes that no codec shrinks.
std::string Noise(uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(100000, '\0');
  for (char& c : out) c = char(rng());
  return out;
}
std::string Table(bool inserted) {
  std::string out;
  for (int i = 0; i < 6000; ++i) {
    if (inserted && i == 3000) out += "99999\tnew sword\t1200\r\n";
    out += std::to_string(10000 + i) + "\titem " + std::to_string(i * 7 % 1000) + "\t" + std::to_string(i % 97) + "\r\n";
  }
  return out;
}
int32_t StampOf(const std::string& base, const std::string& path) {
  PckReader reader;
  reader.SetPassword(kPckGamePassword);
  if (reader.Open(base) != 0 || reader.Find(path) < 0) return -1;
  return reader.Records()[size_t(reader.Find(path))].stamp;
}

}  // namespace

TEST_F(GameDiff, TheUpdaterItMakesTurnsTheOldGameIntoTheNewOne) {
  const std::string oldGame = Path("old"), newGame = Path("new"), out = Path("out"), copy = Path("copy");
  MakeGame(oldGame,
           {{"bld", {{"ui/a.txt", "a1"}, {"ui/deep/b.txt", "b"}, {"ui/gone/x.txt", "x"}, {"ui/gone/y/z.txt", "z"},
                     {kNotes + "/" + kUi + ".txt", "gbk"}}},
            {"mb", {{"items/i1.txt", "one"}, {"items/i2.txt", "two"}, {"items/old.txt", "old"}, {"items/shop.txt", Table(false)}}},
            {"sy", {{"s.txt", "system"}}}},
           {{"CVer.txt", Ver("1.0.5")}, {"readme.txt", "readme"}, {"docs/old.txt", "old doc"}, {"data/shop.txt", Table(false)},
            {"olddir/a.txt", "a"}, {"olddir/sub/b.txt", "b"}, {kNotes + ".txt", "notes 1"}});
  MakeGame(newGame,
           {{"bld", {{"ui/a.txt", "a2, longer"}, {"ui/deep/b.txt", "b"}, {"ui/deep/c.txt", "c"},
                     {kNotes + "/" + kUi + ".txt", "gbk"}}},
            {"mb", {{"items/i1.txt", "one, new"}, {"items/i2.txt", "two"}, {"items/new/n.txt", "n"}, {"items/shop.txt", Table(true)}}},
            {"pm", {{"skins/s1.bmp", std::string(70000, 's')}, {"skins/" + kUi + ".bmp", "ui skin"}}}},
           {{"CVer.txt", Ver("1.0.6")}, {"readme.txt", "readme"}, {"docs/new.txt", "new doc"},
            {kNotes + ".txt", "notes 2"}, {"data/shop.txt", Table(true)}});
  fsys::copy(oldGame, copy, fsys::copy_options::recursive);
  // diff only reads the two games: they may be read-only, and it changes nothing there
  // and leaves nothing behind (no lock, no journal, no temporary).
  MakeReadOnly({oldGame, newGame});
  const auto oldBefore = Listing(oldGame), newBefore = Listing(newGame);

  const RunResult diff = Pcktool({"diff", oldGame, newGame, out, "--updater", QUORVANE_UPDATE_PATH, copy + "/quorvane-update"});
  ASSERT_EQ(diff.code, 0) << diff.err;
  EXPECT_NE(diff.out.find("bld: 1 added, 1 replaced, 4 removed"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("pm (new): 2 added"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("sy (removed)"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("plain files: 1 added, 2 replaced, 2 removed"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("deltas: 2 files"), std::string::npos) << diff.out;
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
  EXPECT_EQ(Listing(oldGame), oldBefore);
  EXPECT_EQ(Listing(newGame), newBefore);
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
      // Settling it would change the old game, which diff only reads.
      {"a change a stopped run left unfinished", packages, packages, {{"pck.journal", "x"}}, {}, "unfinished"},
      {"a plain folder named like the patch's deltas", packages, packages, {}, {{"~Delta/a.txt", "a"}}, "reserved"},
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


TEST_F(GameDiff, DeltaCarriesTheChangedFilesItPaysForAndTheRestWhole) {
  const std::string oldGame = Path("old"), newGame = Path("new"), out = Path("out");
  const std::string art = Art(1, false), newArt = Art(1, true), table = Table(false), newTable = Table(true);
  MakeGame(oldGame, {{"bld", {{"tex/big.bmp", art}, {"tex/other.bmp", Noise(2)}, {"ui/a.txt", "a1"}}}},
           {{"CVer.txt", Ver("1.0.5")}, {"data/shop.txt", table}, {"readme.txt", "readme"}});
  MakeGame(newGame,
           {{"bld", {{"tex/big.bmp", newArt}, {"tex/other.bmp", Noise(3)}, {"ui/a.txt", "a2"}, {"ui/n.txt", "n"}}}},
           {{"CVer.txt", Ver("1.0.6")}, {"data/shop.txt", newTable}, {"readme.txt", "readme 2"}});
  const utimbuf stamp{1300000000, 1300000000};  // 2011, long before the rest
  ASSERT_EQ(utime((newGame + "/data/shop.txt").c_str(), &stamp), 0);

  // With --no-delta every changed file goes whole; a level outside zstd's is refused,
  // as is a level with --no-delta.
  const RunResult plain = Pcktool({"diff", oldGame, newGame, Path("whole"), "--no-delta"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.out.find("deltas:"), std::string::npos) << plain.out;
  const FileMap whole = ImageOf(Path("whole/patch"), kPckGamePassword).files;
  EXPECT_EQ(whole.at("bld/tex/big.bmp"), newArt);
  EXPECT_EQ(whole.at("data/shop.txt"), newTable);
  for (const auto& args : std::vector<std::vector<std::string>>{{"--no-delta", "--delta-level", "3"},
                                                                {"--delta-level", "0"}, {"--delta-level", "23"}})
    EXPECT_EQ(Pcktool([&] {
                std::vector<std::string> line = {"diff", oldGame, newGame, Path("refused")};
                line.insert(line.end(), args.begin(), args.end());
                return line;
              }()).code,
              2)
        << args.back();

  const RunResult diff = Pcktool({"diff", oldGame, newGame, out, "--delta-level", "3"});
  ASSERT_EQ(diff.code, 0) << diff.err;
  EXPECT_NE(diff.out.find("bld: 1 added, 3 replaced, 0 removed"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("deltas: 2 files"), std::string::npos) << diff.out;
  EXPECT_FALSE(Exists(out + "/patch.pcktool-deltas"));
  FileMap files = ImageOf(out + "/patch", kPckGamePassword).files;
  // The art that changed a little and the table with a new record go as deltas; a small
  // file and one whose delta would cost as much go whole, as do the new file and the
  // version file.
  const struct {
    const char* path;
    std::string base, result;
    int32_t stamp;
  } deltas[] = {
      {"bld/tex/big.bmp", art, newArt, StampOf(newGame + "/bld", "tex/big.bmp")},
      {"data/shop.txt", table, newTable, 1300000000},
  };
  for (const auto& d : deltas) {
    const std::string path = qvtest::DeltaFile(d.path, d.base, d.result).first;
    ASSERT_EQ(files.count(path), 1u) << path;
    EXPECT_EQ(files.count(d.path), 0u) << d.path;
    EXPECT_LT(files[path].size(), d.result.size() / 20) << path;
    qvtest::TextSource base(d.base), delta(files[path]);
    std::string got;
    CError error;
    EXPECT_EQ(ApplyDelta(base, delta, [&](const uint8_t* p, size_t n) { return got.append((const char*)p, n), true; }, error),
              0)
        << error.text;
    EXPECT_TRUE(got == d.result) << path;
    EXPECT_EQ(StampOf(out + "/patch", path), d.stamp) << path;
    files.erase(path);
  }
  const FileMap rest = {{"CVer.txt", Ver("1.0.6")}, {"bld/tex/other.bmp", Noise(3)}, {"bld/ui/a.txt", "a2"},
                        {"bld/ui/n.txt", "n"}, {"readme.txt", "readme 2"}};
  EXPECT_TRUE(files == rest);
  for (const auto& [path, content] : files) EXPECT_TRUE(rest.count(path)) << path;
  // The same folders give the same bytes.
  ASSERT_EQ(Pcktool({"diff", oldGame, newGame, Path("again"), "--delta-level", "3"}).code, 0);
  EXPECT_TRUE(LoadPackageBytes(out + "/patch") == LoadPackageBytes(Path("again/patch")));

  // pcktool apply turns a copy of the old game into the new one, time stamps and all,
  // and a second apply finds every delta's file new already.
  const std::string copy = Path("copy");
  fsys::copy(oldGame, copy, fsys::copy_options::recursive);
  for (int run = 0; run < 2; ++run) {
    const RunResult apply = Pcktool({"apply", out + "/patch", copy});
    ASSERT_EQ(apply.code, 0) << apply.err;
    EXPECT_EQ(ImageOf(copy + "/bld", kPckGamePassword).files, ImageOf(newGame + "/bld", kPckGamePassword).files);
    EXPECT_EQ(StampOf(copy + "/bld", "tex/big.bmp"), StampOf(newGame + "/bld", "tex/big.bmp"));
    EXPECT_EQ(fsys::last_write_time(copy + "/data/shop.txt"), fsys::last_write_time(newGame + "/data/shop.txt"));
    EXPECT_EQ(PlainFiles(copy), PlainFiles(newGame));
  }
}

TEST_F(GameDiff, OnePatchBringsEitherStartingVersionToTheNewOne) {
  // 1.0.4 and 1.0.5 differ in the shop table and in the art; the notes are new in 1.0.5.
  std::string table5 = Table(false);
  table5.replace(1000, 5, "edit!");
  const std::string a = Path("v104"), b = Path("v105"), newGame = Path("v106"), out = Path("out");
  MakeGame(a, {{"bld", {{"tex/big.bmp", Art(1, false)}}}}, {{"CVer.txt", Ver("1.0.4")}, {"shop.txt", Table(false)}});
  MakeGame(b, {{"bld", {{"tex/big.bmp", Art(1, true)}}}},
           {{"CVer.txt", Ver("1.0.5")}, {"shop.txt", table5}, {"notes.txt", Table(false)}});
  MakeGame(newGame, {{"bld", {{"tex/big.bmp", Art(1, true)}}}},
           {{"CVer.txt", Ver("1.0.6")}, {"shop.txt", Table(true)}, {"notes.txt", Table(true)}});
  const RunResult diff = Pcktool({"diff", a, newGame, out, "--from", b, "--delta-level", "3"});
  ASSERT_EQ(diff.code, 0) << diff.err;
  // The table has a delta for each old content, the art one for 1.0.4's (1.0.5 has the
  // new art already), and the notes, which 1.0.4 lacks, go whole.
  const FileMap files = ImageOf(out + "/patch", kPckGamePassword).files;
  for (const auto& [base, path] : std::vector<std::pair<std::string, std::string>>{
           {Table(false), "shop.txt"}, {table5, "shop.txt"}, {Art(1, false), "bld/tex/big.bmp"}})
    EXPECT_EQ(files.count(qvtest::DeltaFile(path, base, "").first), 1u) << path;
  EXPECT_EQ(files.count("notes.txt"), 1u);
  EXPECT_EQ(files.size(), 5u);

  for (const std::string& old : {a, b}) {
    const std::string copy = old + "-copy";
    fsys::copy(old, copy, fsys::copy_options::recursive);
    const RunResult apply = Pcktool({"apply", out + "/patch", copy});
    ASSERT_EQ(apply.code, 0) << apply.err;
    EXPECT_EQ(ImageOf(copy + "/bld", kPckGamePassword).files, ImageOf(newGame + "/bld", kPckGamePassword).files);
    EXPECT_EQ(PlainFiles(copy), PlainFiles(newGame));
  }
  // A game at neither version (1.0.5 with its table changed by a byte) is refused whole.
  const std::string other = Path("other");
  fsys::copy(b, other, fsys::copy_options::recursive);
  WriteFile(other + "/shop.txt", table5.substr(0, table5.size() - 1) + "!");
  const auto before = Listing(other);
  const RunResult refused = Pcktool({"apply", out + "/patch", other});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("shop.txt: the game's copy"), std::string::npos) << refused.err;
  EXPECT_EQ(Listing(other), before);
}
