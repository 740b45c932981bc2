// `pcktool apply` end to end: game packages and patches are built with the real tool,
// the patch is released with it, and the result is read back with it (verify, list,
// cat) and compared with a model of what the game folder must hold afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "platform/Platform.h"
#include "tests/support/ProcessRunner.h"
#include "tests/support/TempDir.h"

using namespace qvtest;
namespace fsys = std::filesystem;

namespace {

using Result = RunResult;

std::string Md5Of(const std::string& bytes) {
  uint8_t digest[16];
  Md5(bytes.data(), bytes.size(), digest);
  return Md5Hex(digest);
}

// Files of a tree by relative path ("a/b.txt"); folders are implied by their files,
// except the ones listed with a trailing "/".
using Tree = std::map<std::string, std::string>;

void WriteTree(const std::string& root, const Tree& tree) {
  MakeDirs(root);
  for (const auto& [path, content] : tree) {
    if (path.back() == '/') {
      MakeDirs(root + "/" + path.substr(0, path.size() - 1));
      continue;
    }
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) MakeDirs(root + "/" + path.substr(0, slash));
    WriteFile(root + "/" + path, content);
  }
}

// The lines of `pcktool list` without the time stamps ("f size md5 path" and
// "d children path"), as a set: a release may place new entries anywhere in the index.
std::set<std::string> ExpectedListing(const Tree& files) {
  std::set<std::string> lines;
  std::map<std::string, std::set<std::string>> children;  // folder -> child names
  for (const auto& [path, content] : files) {
    lines.insert("f\t" + std::to_string(content.size()) + "\t" + Md5Of(content) + "\t" + path);
    std::string parent, rest = path;
    for (size_t slash; (slash = rest.find('/')) != std::string::npos;) {
      const std::string name = rest.substr(0, slash);
      children[parent].insert(name);
      parent += (parent.empty() ? "" : "/") + name;
      children[parent];  // every folder on the way exists, maybe empty
      rest = rest.substr(slash + 1);
    }
    children[parent].insert(rest);
  }
  for (const auto& [folder, names] : children)
    if (!folder.empty()) lines.insert("d\t" + std::to_string(names.size()) + "\t" + folder);
  return lines;
}

std::set<std::string> ListingOf(const std::string& listOutput) {
  std::set<std::string> lines;
  for (const std::string& line : Lines(Text(listOutput))) {
    std::vector<std::string> cols;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      cols.push_back(line.substr(start, tab - start));
    cols.push_back(line.substr(start));
    if (cols.size() != 5) {
      lines.insert("malformed: " + line);
      continue;
    }
    lines.insert(cols[0] == "f" ? "f\t" + cols[1] + "\t" + cols[3] + "\t" + cols[4]
                                : cols[0] + "\t" + cols[1] + "\t" + cols[4]);
  }
  return lines;
}

// Everything below `root`: "path/" for a folder, "path md5" for a file.
std::set<std::string> DiskListing(const std::string& root) {
  std::set<std::string> out;
  std::error_code ec;
  const fsys::path base(root);
  for (auto it = fsys::recursive_directory_iterator(base, ec); !ec && it != fsys::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string rel = fsys::relative(it->path(), base).generic_string();
    if (it->is_directory())
      out.insert(rel + "/");
    else
      out.insert(rel + " " + Md5Of(ReadFile(it->path().generic_string())));
  }
  return out;
}

// The disk listing of a sandbox without what lies below its game folder `game` (a path
// relative to the sandbox).
std::set<std::string> Outside(const std::string& sandbox, const std::string& game = "game") {
  std::set<std::string> out;
  const std::string below = game + "/";
  for (const std::string& entry : DiskListing(sandbox))
    if (entry.compare(0, below.size(), below) != 0 || entry == below) out.insert(entry);
  return out;
}

void Patch(const std::string& path, size_t at, const std::string& bytes) {
  std::string data = ReadFile(path);
  ASSERT_LE(at + bytes.size(), data.size());
  data.replace(at, bytes.size(), bytes);
  WriteFile(path, data);
}

void CopyPackage(const std::string& from, const std::string& to) {
  for (const char* ext : {".idx", ".nam", ".dat"}) WriteFile(to + ext, ReadFile(from + ext));
}

class ApplyEndToEnd : public ::testing::Test {
 protected:
  Result Run(const std::vector<std::string>& args) {
    Result r = RunTool(PCKTOOL_PATH, args, m_tmp.Path());
    r.err = Text(r.err);
    return r;
  }
  std::string Ok(const std::vector<std::string>& args) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "") << ": " << r.err;
    return r.out;
  }
  // A failure of exit status 1 with one "pcktool: " line holding `mention`.
  std::string Failure(const std::vector<std::string>& args, const std::string& mention) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 1) << args[0] << ": " << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.compare(0, 9, "pcktool: "), 0) << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << "expected \"" << mention << "\" in: " << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    return r.err;
  }
  // Builds package `base` from `tree`, through a scratch folder beside the others.
  void Package(const std::string& base, const Tree& tree) {
    const std::string src = Path("src" + std::to_string(m_sources++));
    WriteTree(src, tree);
    Ok({"create", src, base});
  }
  std::string Path(const std::string& name) const { return m_tmp / name; }

  CTempDir m_tmp;
  int m_sources = 0;
};

// ---------------------------------------------------------------- a whole release

TEST_F(ApplyEndToEnd, ReleaseUpdatesPackagesAndPlainFilesExactlyAsModelled) {
  const std::string game = Path("game");
  Tree bld = {
      {"ui/a.tga", PseudoRandom(5000, 1)},
      {"ui/b.tga", "b\n"},
      {"models/m.bin", PseudoRandom(150000, 2, true)},  // several blocks
  };
  Tree mb = {
      {"old.txt", "to be removed\n"},
      {"keep.txt", "kept\n"},
      {"sub/s.txt", PseudoRandom(3000, 3, true)},
  };
  Tree plain = {{"readme.txt", "old readme\n"}, {"data/x.cfg", "x=1\n"}};
  MakeDirs(game);
  Package(game + "/bld", bld);
  Package(game + "/mb", mb);
  WriteTree(game, plain);

  // Top-level folders name packages without case; "docs" names none, so it stays plain.
  const Tree patch = {
      {"BLD/ui/a.tga", PseudoRandom(9000, 4)},
      {"BLD/ui/new.tga", "new\n"},
      {"BLD/newdir/deep/n.bin", PseudoRandom(70000, 5)},
      {"mb/old.txt", ""},
      {"mb/gone.txt", ""},  // removing what is not there changes nothing
      {"mb/sub/s.txt", "smaller\n"},
      {"sy/q/s.txt", "in a new package\n"},
      {"sy/r.bin", PseudoRandom(20000, 6)},
      {"readme.txt", "new readme\n"},
      {"docs/new.txt", "plain new\n"},
  };
  Package(Path("patch"), patch);

  bld["ui/a.tga"] = patch.at("BLD/ui/a.tga");
  bld["ui/new.tga"] = patch.at("BLD/ui/new.tga");
  bld["newdir/deep/n.bin"] = patch.at("BLD/newdir/deep/n.bin");
  mb.erase("old.txt");
  mb["sub/s.txt"] = patch.at("mb/sub/s.txt");
  const Tree sy = {{"q/s.txt", patch.at("sy/q/s.txt")}, {"r.bin", patch.at("sy/r.bin")}};
  plain["readme.txt"] = patch.at("readme.txt");
  plain["docs/new.txt"] = patch.at("docs/new.txt");
  const std::map<std::string, Tree> packages = {{"bld", bld}, {"mb", mb}, {"sy", sy}};

  std::set<std::string> expectedDisk = {"data/", "docs/"};
  for (const auto& [path, content] : plain) expectedDisk.insert(path + " " + Md5Of(content));

  auto check = [&] {
    std::set<std::string> disk = DiskListing(game);
    for (const auto& [name, tree] : packages) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Text(Ok({"verify", game + "/" + name})), "ok: " + std::to_string(tree.size()) + " files verified\n");
      EXPECT_EQ(ListingOf(Ok({"list", game + "/" + name})), ExpectedListing(tree));
      for (const char* ext : {".idx", ".nam", ".dat"}) {
        const std::string file = name + ext;
        auto it = std::find_if(disk.begin(), disk.end(), [&](const std::string& e) { return e.rfind(file + " ", 0) == 0; });
        EXPECT_NE(it, disk.end()) << file;
        if (it != disk.end()) disk.erase(it);
      }
    }
    // Content comes back byte for byte through the package, not just by digest.
    const std::pair<std::string, std::string> cats[] = {
        {"bld", "ui/a.tga"}, {"bld", "newdir/deep/n.bin"}, {"bld", "models/m.bin"}, {"mb", "sub/s.txt"}, {"sy", "r.bin"}};
    for (const auto& [name, path] : cats) {
      const std::string& expected = packages.at(name).at(path);
      EXPECT_TRUE(Ok({"cat", game + "/" + name, path}) == expected) << name << ": " << path;
    }
    // No second package for "BLD", no temporaries, nothing else.
    EXPECT_EQ(disk, expectedDisk);
  };

  EXPECT_EQ(Text(Ok({"apply", Path("patch"), game})), "applied 10 files\n");
  check();
  // A release is repeatable: the same patch again gives the same game, not duplicates.
  EXPECT_EQ(Text(Ok({"apply", Path("patch"), game + "/"})), "applied 10 files\n");
  check();
}

// ---------------------------------------------------------------- refusals

TEST_F(ApplyEndToEnd, RefusedReleasesSayWhyAndLeaveTheGameAlone) {
  const std::string game = Path("game");
  MakeDirs(game);
  Package(game + "/bld", {{"ui/a.tga", PseudoRandom(3000, 1)}});
  WriteFile(game + "/readme.txt", "readme\n");
  Package(Path("sy-only"), {{"sy/a.txt", "a\n"}});
  Package(Path("mixed"), {{"readme.txt", "other\n"}, {"bld/ui/a.tga", "other\n"}});
  const std::set<std::string> before = DiskListing(game);

  Failure({"apply", Path("missing"), game}, "missing");
  Failure({"apply", Path("sy-only"), Path("no-such-game")}, "no-such-game");
  Failure({"apply", Path("sy-only"), game + "/readme.txt"}, "readme.txt");
  // Without --no-create the package would be made; with it the file has nowhere to go.
  Failure({"apply", Path("sy-only"), game, "--no-create"}, "sy");
  // Under a wrong password the patch decodes to garbage, which must not reach the game.
  Failure({"apply", Path("mixed"), game, "--password", "wrong"}, "mixed");
  EXPECT_EQ(DiskListing(game), before);

  for (const std::vector<std::string>& usage :
       std::vector<std::vector<std::string>>{{"apply", Path("mixed")}, {"apply", Path("mixed"), game, "--codec", "zlib"}}) {
    Result r = Run(usage);
    EXPECT_EQ(r.code, 2) << r.err;
  }
  Result help = Run({"apply", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(Text(help.out).rfind("usage: pcktool apply PATCH GAMEDIR [--password TEXT] [--no-create] [--threads N]\n", 0), 0u)
      << help.out;
}

// A patch is untrusted: names rewritten in its name table to climb out or hide a path
// must stop the release, and nothing may appear beside the game folder. A drive or a
// name of dots and blanks cannot be a file on the disk, so it stops the release there;
// inside a package it is only a name, and is stored as one.
TEST_F(ApplyEndToEnd, HostileNamesStopTheReleaseInsideTheGameFolder) {
  Package(Path("bld"), {{"ui/a.tga", "a\n"}});
  struct Layout {
    const char* label;
    Tree tree;
    bool inPackage;
  };
  // "ab" is the only name of two bytes in each, so it is found in .nam unambiguously.
  const Layout layouts[] = {
      {"top folder", {{"ab/evil.txt", "evil\n"}}, false},
      {"folder in a package", {{"bld/ab/evil.txt", "evil\n"}}, true},
      {"deeper plain folder", {{"docs/ab/evil.txt", "evil\n"}}, false},
      {"file", {{"docs/ab", "evil\n"}}, false},
  };
  int k = 0;
  for (const Layout& layout : layouts) {
    const std::string clean = Path("clean" + std::to_string(k++));
    Package(clean, layout.tree);
    const std::string nam = ReadFile(clean + ".nam");
    const size_t at = nam.find(std::string("\x03" "ab", 3));
    ASSERT_NE(at, std::string::npos) << layout.label;
    for (const std::string name : {"..", "a/", "a\\", "c:", ". "}) {
      SCOPED_TRACE(std::string(layout.label) + " named \"" + name + "\"");
      const std::string box = Path("box" + std::to_string(k++));
      MakeDirs(box + "/game");
      WriteFile(box + "/sibling.txt", "beside\n");
      CopyPackage(Path("bld"), box + "/game/bld");
      const std::string hostile = box + "-patch";
      CopyPackage(clean, hostile);
      Patch(hostile + ".nam", at + 1, name);
      const std::set<std::string> outside = Outside(box);
      const std::set<std::string> inside = DiskListing(box + "/game");

      if (layout.inPackage && (name == "c:" || name == ". ")) {
        Ok({"apply", hostile, box + "/game"});
        EXPECT_NE(Ok({"list", box + "/game/bld"}).find(name + "/evil.txt"), std::string::npos);
        EXPECT_EQ(Outside(box), outside);
        continue;
      }
      Failure({"apply", hostile, box + "/game"}, name);
      EXPECT_EQ(Outside(box), outside);
      // The crafted name is the first thing of the patch, so nothing at all is written:
      // no folder or file made of it, no crafted entry in the package.
      EXPECT_EQ(DiskListing(box + "/game"), inside);
    }
  }
}

// Target paths are limited to 259 bytes like every path of the game; the patch's own
// paths are short, so only the target side is over.
TEST_F(ApplyEndToEnd, OverLongTargetPathsFailCleanly) {
  // A game folder deep enough that short patch paths reach the limit below it.
  const std::string box = Path("box");
  const size_t gameLength = 200;
  ASSERT_LT(box.size() + 10, gameLength);
  const std::string gameRel = std::string(gameLength - box.size() - 6, 'd') + "/game";
  const std::string game = box + "/" + gameRel;
  ASSERT_EQ(game.size(), gameLength);
  ASSERT_LT(game.size(), 240u);
  MakeDirs(game);
  WriteFile(box + "/sibling.txt", "beside\n");

  const size_t room = 259 - game.size() - 1;  // bytes left for "docs/..." at the limit
  const std::string fits = "docs/" + std::string(room - 5, 'f');
  const std::string over = "docs/" + std::string(room - 4, 'o');
  ASSERT_EQ((game + "/" + fits).size(), 259u);
  ASSERT_EQ((game + "/" + over).size(), 260u);
  const std::string nestedDir = "docs/" + std::string(20, 'n') + "/" + std::string(20, 'n') + "/" +
                                std::string(20, 'n');
  const std::string nested = nestedDir + "/z.txt";
  ASSERT_GT(game.size() + 1 + nestedDir.size(), 259u);
  Package(Path("over"), {{over, "over\n"}});
  Package(Path("nested"), {{nested, "nested\n"}});
  Package(Path("fits"), {{fits, "fits\n"}});

  const std::set<std::string> outside = Outside(box, gameRel);
  Failure({"apply", Path("over"), game}, "o");
  Failure({"apply", Path("nested"), game}, "n");
  EXPECT_EQ(DiskListing(game), std::set<std::string>{});
  EXPECT_EQ(Outside(box, gameRel), outside);

  // One byte less is a path like any other.
  EXPECT_EQ(Text(Ok({"apply", Path("fits"), game})), "applied 1 files\n");
  EXPECT_EQ(ReadFile(game + "/" + fits), "fits\n");
  EXPECT_EQ(DiskListing(game), (std::set<std::string>{"docs/", fits + " " + Md5Of("fits\n")}));
  EXPECT_EQ(Outside(box, gameRel), outside);
}

}  // namespace
