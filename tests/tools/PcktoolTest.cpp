// pcktool as its users run it: the real executable started through the shell, with its
// standard output and error captured in files and its exit status checked.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "pck/PckReader.h"
#include "platform/Platform.h"
#include "tests/support/FileHold.h"
#include "tests/support/ProcessRunner.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

using Result = RunResult;

// Whether the tool runs on Windows, whose disks refuse more names than POSIX ones.
#ifdef _WIN32
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

// One entry of a source tree; a folder has no content and ends in "/".
struct Node {
  std::string path;
  std::string content;
  int64_t mtime = 0;
  bool IsFolder() const { return path.back() == '/'; }
  std::string Name() const { return IsFolder() ? path.substr(0, path.size() - 1) : path; }
};

// Listed in the order the package must hold them: byte order within every folder, files
// and folders interleaved ("Alpha" < "_x.bin" < "a.txt" < "beta" < "zeta.txt").
std::vector<Node> SampleTree() {
  return {
      {"Alpha/", "", 0},
      {"Alpha/empty/", "", 0},
      {"Alpha/inner.bin", PseudoRandom(3 * 4096 + 100, 7), 1100000000},
      // A two-byte character whose second byte is "\\": a name, not a path.
      {"Alpha/\x81\x5C.txt", "two-byte name\n", 1100000100},
      {"_x.bin", PseudoRandom(5000, 3) + "\r\n\x1A\n\r", 1100000200},
      {"a.txt", "hello\n", 1100000300},
      {"beta/", "", 0},
      {"beta/zero.dat", "", 1100000400},
      {"zeta.txt", PseudoRandom(20000, 11, true), 1100000500},
  };
}

void WriteTree(const std::string& root, const std::vector<Node>& tree) {
  MakeDirs(root);
  for (const Node& n : tree) {
    if (n.IsFolder()) {
      MakeDirs(root + "/" + n.Name());
    } else {
      WriteFile(root + "/" + n.path, n.content);
      ASSERT_TRUE(plat::SetFileTime(root + "/" + n.path, n.mtime));
    }
  }
}

// What `pcktool list` prints for the tree.
std::string ExpectedList(const std::vector<Node>& tree) {
  std::string out;
  for (const Node& n : tree) {
    if (n.IsFolder()) {
      int children = 0;
      for (const Node& m : tree) {
        std::string rest = m.path.compare(0, n.path.size(), n.path) == 0 ? m.path.substr(n.path.size()) : "";
        size_t slash = rest.find('/');
        if (!rest.empty() && (slash == std::string::npos || slash + 1 == rest.size())) ++children;
      }
      out += "d\t" + std::to_string(children) + "\t-\t-\t" + n.Name() + "\n";
    } else {
      uint8_t digest[16];
      Md5(n.content.data(), n.content.size(), digest);
      out += "f\t" + std::to_string(n.content.size()) + "\t" + std::to_string(n.mtime) + "\t" + Md5Hex(digest) +
             "\t" + n.path + "\n";
    }
  }
  return out;
}

std::string Bytes(const std::string& base) {
  return ReadFile(base + ".idx") + "|" + ReadFile(base + ".nam") + "|" + ReadFile(base + ".dat");
}

// Overwrites bytes of a file in place.
void Patch(const std::string& path, size_t at, const std::string& bytes) {
  std::string data = ReadFile(path);
  ASSERT_LE(at + bytes.size(), data.size());
  data.replace(at, bytes.size(), bytes);
  WriteFile(path, data);
}

class Pcktool : public ::testing::Test {
 protected:
  Result Run(const std::vector<std::string>& args) {
    Result r = RunTool(PCKTOOL_PATH, args, m_tmp.Path());
    r.err = Text(r.err);
    return r;
  }
  // Runs a command that must succeed, and returns its standard output.
  std::string Ok(const std::vector<std::string>& args) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 0) << args[0] << ": " << r.err;
    return r.out;
  }
  // Runs a command that must fail with one line naming `mention`, and returns the line.
  std::string Failure(const std::vector<std::string>& args, const std::string& mention) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 1) << args[0] << ": " << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.compare(0, 9, "pcktool: "), 0) << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << "expected \"" << mention << "\" in: " << r.err;
    return r.err;
  }
  std::string Path(const std::string& name) const { return m_tmp / name; }

  CTempDir m_tmp;
};

// ---------------------------------------------------------------- round trips

TEST_F(Pcktool, EveryCodecAndPasswordRoundTripsThroughCreateListExtractVerify) {
  const std::vector<Node> tree = SampleTree();
  const std::string src = Path("src");
  WriteTree(src, tree);
  struct Case {
    const char* codec;
    std::vector<std::string> password;  // the option words; none means the game's
    std::vector<std::string> wrong;     // the option words of a password that must not open it
    const char* firstBad = "a.txt";     // the first file that the wrong one cannot decode
  };
  // Over 127 bytes: the key is folded from the whole text, so a change past the XOR key's
  // end is another password, though a.txt (shorter than a DES group) reads the same.
  const std::string longer(200, 'k'), longerWrong = std::string(199, 'k') + "K";
  const Case cases[] = {
      {"lzo", {"--password", longer}, {"--password", longerWrong}, "Alpha/inner.bin"},
      {"stored", {}, {"--password", ""}},
      {"stored", {"--password", ""}, {}},
      {"zlib", {"--password", "s3cret"}, {"--password", "s3creT"}},
      {"lzo", {}, {"--password", ""}},
      {"lzo", {"--password", ""}, {}},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + (c.password.empty() ? " game password" : " password '" + c.password[1] + "'"));
    // Chinese paths on the command line: on Windows they must survive any code page.
    const std::string base = Path("包" + std::to_string(k)), out = Path("输出" + std::to_string(k));
    ++k;
    auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
      args.insert(args.end(), more.begin(), more.end());
      return args;
    };
    Ok(with({"create", src, base, "--codec", c.codec, "--block-size", "4096"}, c.password));
    EXPECT_EQ(Text(Ok({"list", base})), ExpectedList(tree));

    // Without a password a stored file lies in .dat as it is; with one it must not.
    const bool plain = !c.password.empty() && c.password[1].empty();
    if (std::string(c.codec) == "stored") {
      EXPECT_EQ(ReadFile(base + ".dat").find(tree.back().content.substr(0, 64)) != std::string::npos, plain);
    }

    Ok(with({"extract", base, out}, c.password));
    for (const Node& n : tree) {
      plat::FileInfo info;
      ASSERT_TRUE(plat::StatPath(out + "/" + n.Name(), info)) << n.path;
      EXPECT_EQ(info.isDir, n.IsFolder()) << n.path;
      if (n.IsFolder()) continue;
      EXPECT_EQ(ReadFile(out + "/" + n.path), n.content) << n.path;
      EXPECT_EQ(info.mtime, n.mtime) << n.path;
    }
    // Binary content comes out of cat byte for byte, carriage returns and all.
    if (k == 2) {
      EXPECT_EQ(Ok(with({"cat", base, "_x.bin"}, c.password)), tree[4].content);
    }
    EXPECT_EQ(Text(Ok(with({"verify", base}, c.password))), "ok: 6 files verified\n");

    Result bad = Run(with({"verify", base}, c.wrong));
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.out.find("bad: " + std::string(c.firstBad) + ": "), std::string::npos) << bad.out;
    EXPECT_EQ(bad.out.find("zero.dat"), std::string::npos) << "an empty file has nothing to decipher";
  }
}

TEST_F(Pcktool, CreateGivesTheSameBytesEveryTimeAndKeepsTheOldPackageWhenItFails) {
  const std::string src = Path("src");
  WriteTree(src, SampleTree());
  Ok({"create", src, Path("a")});
  Ok({"create", src, Path("b")});
  EXPECT_EQ(Bytes(Path("a")), Bytes(Path("b")));
  // Over an existing package, too.
  Ok({"create", src, Path("a")});
  EXPECT_EQ(Bytes(Path("a")), Bytes(Path("b")));

  // A name longer than a package can hold stops the build; the package in place stays.
  const std::string longName(255, 'n');
  WriteFile(src + "/beta/" + longName, "x");
  Failure({"create", src, Path("a")}, longName);
  EXPECT_EQ(Bytes(Path("a")), Bytes(Path("b")));
  for (const char* ext : {".idx", ".nam", ".dat"}) EXPECT_FALSE(Exists(Path("a.pcktool-new") + ext)) << ext;

  Failure({"create", Path("no-such-dir"), Path("c")}, "no-such-dir");
  EXPECT_FALSE(Exists(Path("c.idx")));
}

// A package whose data file another program holds open (a running game, a virus
// scanner): compact and create over it fail with one line that names the file and says
// why, and the package stays exactly as it was, with nothing left beside it.
TEST_F(Pcktool, APackageHeldOpenElsewhereIsKeptAndTheLineSaysWhy) {
  const std::string src = Path("src");
  WriteTree(src, SampleTree());
  Ok({"create", src, Path("a")});
  Ok({"delete", Path("a"), "Alpha"});  // dead space for compact to remove
  const std::string before = Bytes(Path("a"));
  for (bool othersMayRead : {false, true}) {
    SCOPED_TRACE(othersMayRead ? "others may read" : "nothing shared");
    CFileHold hold;
    if (!hold.Hold(Path("a.dat"), othersMayRead)) GTEST_SKIP() << "files cannot be held open against renames here";
    Failure({"compact", Path("a"), Path("a")}, "a.dat");
    Failure({"create", src, Path("a")}, "a.dat");
    hold.Release();
    EXPECT_EQ(Bytes(Path("a")), before);
    for (const char* left : {"a.pcktool-new.idx", "a.idx.old", "a.dat.old", "pck.journal"})
      EXPECT_FALSE(Exists(Path(left))) << left;
  }
}

// ---------------------------------------------------------------- edits

TEST_F(Pcktool, EditsReadBackAndFailedEditsLeaveThePackageAlone) {
  WriteTree(Path("src"), SampleTree());
  const std::string pk = Path("pk");
  Ok({"create", Path("src"), pk});
  WriteFile(Path("new.txt"), "brand new\n");
  plat::SetFileTime(Path("new.txt"), 1200000000);
  const std::string bigger = PseudoRandom(200000, 5, true);
  WriteFile(Path("bigger.bin"), bigger);
  plat::SetFileTime(Path("bigger.bin"), 1200000100);

  Ok({"add", pk, "new/deep/file.txt", Path("new.txt")});
  Ok({"replace", pk, "a.txt", Path("bigger.bin"), "--codec", "zlib"});
  Ok({"delete", pk, "beta"});
  Ok({"delete", pk, "Alpha/inner.bin"});
  Ok({"mkdir", pk, "m/n"});

  uint8_t d1[16], d2[16];
  Md5("brand new\n", 10, d1);
  Md5(bigger.data(), bigger.size(), d2);
  const std::vector<Node> tree = SampleTree();
  auto fileLine = [](const std::string& path, size_t size, int64_t stamp, const uint8_t* digest) {
    return "f\t" + std::to_string(size) + "\t" + std::to_string(stamp) + "\t" + Md5Hex(digest) + "\t" + path + "\n";
  };
  uint8_t d3[16], d4[16], d5[16];
  Md5(tree[3].content.data(), tree[3].content.size(), d3);
  Md5(tree[4].content.data(), tree[4].content.size(), d4);
  Md5(tree[8].content.data(), tree[8].content.size(), d5);
  const std::string expected = std::string("d\t2\t-\t-\tAlpha\n") + "d\t0\t-\t-\tAlpha/empty\n" +
                               fileLine("Alpha/\x81\x5C.txt", tree[3].content.size(), tree[3].mtime, d3) +
                               fileLine("_x.bin", tree[4].content.size(), tree[4].mtime, d4) +
                               fileLine("a.txt", bigger.size(), 1200000100, d2) +
                               fileLine("zeta.txt", tree[8].content.size(), tree[8].mtime, d5) +
                               "d\t1\t-\t-\tnew\n" + "d\t1\t-\t-\tnew/deep\n" +
                               fileLine("new/deep/file.txt", 10, 1200000000, d1) + "d\t1\t-\t-\tm\n" +
                               "d\t0\t-\t-\tm/n\n";
  EXPECT_EQ(Text(Ok({"list", pk})), expected);
  EXPECT_EQ(Ok({"cat", pk, "a.txt"}), bigger);
  EXPECT_EQ(Ok({"cat", pk, "new/deep/file.txt"}), "brand new\n");
  EXPECT_EQ(Text(Ok({"verify", pk})), "ok: 5 files verified\n");

  // Every refused edit names what is wrong and leaves all three files as they were.
  const std::string before = Bytes(pk);
  Failure({"add", pk, "new/deep/file.txt", Path("new.txt")}, "new/deep/file.txt");
  Failure({"add", pk, "a.txt/below", Path("new.txt")}, "a.txt/below");
  Failure({"add", pk, "x.txt", Path("missing.txt")}, "missing.txt");
  Failure({"replace", pk, "nothing.txt", Path("new.txt")}, "nothing.txt");
  Failure({"replace", pk, "Alpha", Path("new.txt")}, "Alpha");
  Failure({"delete", pk, "nothing"}, "nothing");
  Failure({"delete", pk, ""}, "root");
  Failure({"mkdir", pk, "m/n"}, "m/n");
  EXPECT_EQ(Bytes(pk), before);

  // Content under another password could not be read beside the rest: refused.
  Failure({"add", pk, "other.txt", Path("new.txt"), "--password", "other"}, "password");
  Failure({"replace", pk, "a.txt", Path("new.txt"), "--password", ""}, "password");
  EXPECT_EQ(Bytes(pk), before);
}

// ---------------------------------------------------------------- damage

TEST_F(Pcktool, DamagedContentIsNamedAndNeverPassedOn) {
  const std::vector<Node> tree = SampleTree();
  WriteTree(Path("src"), tree);
  const std::string pk = Path("pk");
  Ok({"create", Path("src"), pk, "--codec", "stored", "--password", ""});
  const std::string zeta = tree.back().content;
  size_t at = ReadFile(pk + ".dat").find(zeta.substr(0, 64));
  ASSERT_NE(at, std::string::npos);
  Patch(pk + ".dat", at + 100, std::string(1, char(zeta[100] ^ 0x01)));

  Result r = Run({"verify", pk, "--password", ""});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Text(r.out), "bad: zeta.txt: digest mismatch\n");
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;

  Failure({"extract", pk, Path("out"), "--password", ""}, "zeta.txt");
  EXPECT_FALSE(Exists(Path("out/zeta.txt"))) << "a damaged file must not be left behind";
  Failure({"cat", pk, "zeta.txt", "--password", ""}, "zeta.txt");

  // A block whose stored length no block can have does not decode: named by number.
  const std::string pz = Path("pz");
  Ok({"create", Path("src"), pz, "--codec", "zlib", "--block-size", "4096"});
  PckReader reader;
  ASSERT_EQ(reader.Open(pz), 0);
  const int inner = reader.Find("Alpha/inner.bin");
  ASSERT_GT(inner, 0);
  const uint32_t entry = reader.Records()[size_t(inner)].dataOffset;
  reader.Close();
  std::string dat = ReadFile(pz + ".dat");
  const uint32_t blocks = 4, tableEnd = entry + 16 + 4 * blocks;
  const uint32_t block1 = tableEnd + GetLE32(reinterpret_cast<const uint8_t*>(dat.data()) + entry + 16 + 4);
  Patch(pz + ".dat", block1 + 1, "\xFF\xFF\xFF\xFF");
  r = Run({"verify", pz});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Text(r.out), "bad: Alpha/inner.bin: block 1 does not decode\n");
}

TEST_F(Pcktool, ExtractRefusesUnsafeNamesBeforeWritingAnything) {
  // "ab/evil.txt" and "xyz.txt" get their names overwritten in .nam, length for length.
  MakeDirs(Path("src/ab"));
  WriteFile(Path("src/ab/evil.txt"), "evil");
  WriteFile(Path("src/xyz.txt"), "xyz");
  Ok({"create", Path("src"), Path("pk")});
  const std::string nam = ReadFile(Path("pk.nam"));
  const size_t ab = nam.find(std::string("\x03" "ab", 3)), xyz = nam.find("\x08xyz.txt");
  ASSERT_NE(ab, std::string::npos);
  ASSERT_NE(xyz, std::string::npos);

  // Names are checked by the rules of the disks of the system the tool runs on: what
  // only Windows cannot hold (devices with any extension, drives and streams, names of
  // dots and blanks) is extracted on Linux.
  struct Case {
    size_t at;
    std::string name;
    bool refusedEverywhere;
  };
  const Case cases[] = {{ab, "..", true},       {ab, "a/", true},          {ab, "a\\", true},
                        {ab, ". ", false},      {ab, "c:", false},         {xyz, "CON.txt", false},
                        {xyz, "con.txt", false}, {xyz, "aux.tga", false}};
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = Path(std::to_string(k++) + "t");
    MakeDirs(dir);
    for (const char* ext : {".idx", ".nam", ".dat"}) WriteFile(dir + "/pk" + ext, ReadFile(Path("pk") + ext));
    Patch(dir + "/pk.nam", c.at + 1, c.name);
    if (!c.refusedEverywhere && !kWindowsNames) {
      Ok({"extract", dir + "/pk", dir + "/out"});
      EXPECT_EQ(ReadFile(c.at == ab ? dir + "/out/" + c.name + "/evil.txt" : dir + "/out/" + c.name),
                c.at == ab ? "evil" : "xyz");
      continue;
    }
    Failure({"extract", dir + "/pk", dir + "/out"}, "\"" + c.name);
    EXPECT_FALSE(Exists(dir + "/out")) << "nothing may be written";
    EXPECT_FALSE(Exists(dir + "/evil.txt"));
    EXPECT_FALSE(Exists(dir + "/xyz.txt"));
  }

  // A two-byte character ending in the byte of "\\" is an ordinary name.
  Patch(Path("pk.nam"), ab + 1, "\x81\x5C");
  Ok({"extract", Path("pk"), Path("out")});
  EXPECT_EQ(ReadFile(Path("out/\x81\x5C/evil.txt")), "evil");
}

// ---------------------------------------------------------------- package statistics

TEST_F(Pcktool, InfoCountsDeadBytesThatCompactRemoves) {
  WriteTree(Path("src"), SampleTree());
  const std::string pk = Path("pk");
  Ok({"create", Path("src"), pk});
  WriteFile(Path("small.txt"), "small");
  Ok({"replace", pk, "zeta.txt", Path("small.txt")});
  Ok({"delete", pk, "Alpha"});

  auto info = [this](const std::string& base) {
    std::map<std::string, uint64_t> values;
    for (const std::string& line : Lines(Text(Ok({"info", base})))) {
      size_t colon = line.find(": ");
      if (colon != std::string::npos && line.compare(0, 5, "magic") != 0)
        values[line.substr(0, colon)] = std::stoull(line.substr(colon + 2));
    }
    return values;
  };
  auto before = info(pk);
  EXPECT_EQ(before["files"], 4u);
  EXPECT_EQ(before["folders"], 1u);
  EXPECT_EQ(before["records"], 8u);  // root, _x.bin, a.txt, beta, zero.dat, end, zeta.txt, end
  EXPECT_GT(before["dead bytes"], 0u);
  EXPECT_EQ(before["dat size"], ReadFile(pk + ".dat").size());
  EXPECT_EQ(before["dat live"] + before["dat dead"], before["dat size"]);
  EXPECT_GT(before["dat dead"], 12000u);
  EXPECT_GT(before["nam dead"], 0u);

  Ok({"compact", pk, Path("small")});
  auto after = info(Path("small"));
  // What info calls live is exactly what a compaction keeps.
  EXPECT_EQ(after["dat size"], before["dat live"]);
  EXPECT_EQ(after["nam size"], before["nam live"]);
  EXPECT_EQ(after["dat dead"], 0u);
  EXPECT_EQ(after["nam dead"], 0u);
  EXPECT_EQ(after["dead bytes"], 0u);
  EXPECT_EQ(Ok({"list", Path("small")}), Ok({"list", pk}));
  EXPECT_EQ(Text(Ok({"verify", Path("small")})), "ok: 4 files verified\n");

  // In place, the copy replaces the package only once it is whole.
  const std::string listing = Ok({"list", pk});
  Ok({"compact", pk, pk});
  EXPECT_EQ(Bytes(pk), Bytes(Path("small")));
  EXPECT_EQ(Ok({"list", pk}), listing);
}

// ---------------------------------------------------------------- the command line

TEST_F(Pcktool, BadUsageExitsTwoAndMissingOrBrokenPackagesExitOneWithOneLine) {
  MakeDirs(Path("src"));
  WriteFile(Path("src/a.txt"), "a");
  Ok({"create", Path("src"), Path("pk")});
  const std::vector<std::vector<std::string>> usage = {
      {},
      {"frobnicate"},
      {"list"},
      {"list", Path("pk"), "extra"},
      {"list", Path("pk"), "--codec", "lzo"},
      {"create", Path("src"), Path("x"), "--codec", "bzip"},
      {"create", Path("src"), Path("x"), "--block-size", "0"},
      {"create", Path("src"), Path("x"), "--block-size", "16777217"},
      {"create", Path("src"), Path("x"), "--block-size", "64k"},
      {"verify", Path("pk"), "--password"},
      {"cat", Path("pk"), "a.txt", "--bogus"},
      {"verify", Path("pk"), "--threads", "9"},
      {"list", Path("pk"), "--threads", "2"},
      {"diff", Path("src"), Path("src"), Path("out"), "--updater", "image-only"},
  };
  for (const auto& args : usage) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "(no arguments)" : args[0]) << " " << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_FALSE(Exists(Path("x.idx")));

  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* command : {"create", "list", "extract", "cat", "verify", "add", "replace", "delete", "mkdir",
                              "compact", "info"})
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  Result createHelp = Run({"create", "--help"});
  EXPECT_EQ(createHelp.code, 0);
  EXPECT_EQ(Text(createHelp.out).compare(0, 34, "usage: pcktool create DIR BASE [--"), 0) << createHelp.out;

  // Options may come anywhere, and "--" ends them.
  EXPECT_EQ(Ok({"cat", "--password", kPckGamePassword, Path("pk"), "--", "a.txt"}), "a");

  // A missing file: its name and the system's reason, as nothing more can be said.
  const std::string missing = Failure({"list", Path("missing")}, "missing.idx");
  EXPECT_GT(missing.size(), ("pcktool: " + Path("missing.idx") + ": \n").size()) << missing;
  Failure({"extract", Path("missing"), Path("out")}, "missing.idx");
  // An index cut by one byte: the reader's own words, with the file they are about.
  const std::string idx = ReadFile(Path("pk.idx"));
  WriteFile(Path("pk.idx"), idx.substr(0, idx.size() - 1));
  EXPECT_EQ(Failure({"list", Path("pk")}, "pk.idx"), "pcktool: " + Path("pk.idx") + ": index ends in a partial record\n");
  Failure({"add", Path("pk"), "b.txt", Path("src/a.txt")}, "pk.idx");
}

}  // namespace
