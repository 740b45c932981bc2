// "pcktool payload" as the publisher runs it: the real executable, its output captured
// in files, its exit status checked, and what it built read back by the extractor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/PayloadExtractor.h"
#include "platform/Platform.h"
#include "tests/payload/PeFixture.h"
#include "tests/support/ProcessRunner.h"
#include "tests/support/TempDir.h"

using namespace qvtest;

namespace {

class PayloadTool : public ::testing::Test {
 protected:
  using Result = RunResult;
  Result Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"payload"};
    all.insert(all.end(), args.begin(), args.end());
    Result r = RunTool(PCKTOOL_PATH, all, m_logs.Path());
    r.out = Text(r.out);
    r.err = Text(r.err);
    return r;
  }
  std::string Path(const std::string& name) const { return m_dir / name; }

  CTempDir m_dir, m_logs;
};

}  // namespace

TEST_F(PayloadTool, BuildListAndExtractRoundTrip) {
  MakeDirs(Path("src/sub"));
  WriteFile(Path("image.exe"), PseudoRandom(7000, 1));
  const std::string big = PseudoRandom(9000, 2), small = "index";
  WriteFile(Path("src/patch.dat"), big);
  WriteFile(Path("src/sub/patch.idx"), small);
  WriteFile(Path("src/patch.nam"), "");
  Result built =
      Run({"build", Path("image.exe"), Path("updater.exe"), Path("src/patch.dat"), Path("src/sub/patch.idx"),
           Path("src/patch.nam")});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_EQ(built.err, "") << "an unsigned image needs no note";
  EXPECT_EQ(ReadFile(Path("updater.exe")).substr(0, 7000), ReadFile(Path("image.exe")));

  Result listed = Run({"list", Path("updater.exe")});
  ASSERT_EQ(listed.code, 0) << listed.err;
  // 9000 + 5 + 0 data bytes and a trailer of 16 + 3 * 108 + 8.
  EXPECT_EQ(listed.out, "patch.dat\t9353\t9000\npatch.idx\t353\t5\npatch.nam\t348\t0\n");

  // Relative names, taken in the tool's working directory although the release moves it.
  {
    CWorkDirGuard here(m_dir.Path());
    Result released = Run({"extract", "updater.exe", "game/new"});
    ASSERT_EQ(released.code, 0) << released.err;
  }
  EXPECT_EQ(ReadFile(Path("game/new/patch.dat")), big);
  EXPECT_EQ(ReadFile(Path("game/new/patch.idx")), small);
  EXPECT_TRUE(Exists(Path("game/new/patch.nam")));

  // The extractor reads the same directory the tool listed.
  CPayloadExtractor ex(m_dir.Path());
  EXPECT_EQ(ex.ReadDirectory(Path("updater.exe")), 344);
}

TEST_F(PayloadTool, FailuresAndUsage) {
  WriteFile(Path("image.exe"), PseudoRandom(3000, 1));
  MakeDirs(Path("a"));
  MakeDirs(Path("b"));
  WriteFile(Path("a/x.bin"), "one");
  WriteFile(Path("b/X.BIN"), "two");
  Result twice = Run({"build", Path("image.exe"), Path("out.exe"), Path("a/x.bin"), Path("b/X.BIN")});
  EXPECT_EQ(twice.code, 1);
  EXPECT_NE(twice.err.find("two files are named"), std::string::npos) << twice.err;
  EXPECT_FALSE(Exists(Path("out.exe")));

  // A file without a payload: one line naming the code, nothing written.
  Result none = Run({"extract", Path("image.exe"), Path("out")});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.err.find('\n'), none.err.size() - 1) << none.err;
  EXPECT_NE(none.err.find("code -"), std::string::npos) << none.err;
  EXPECT_EQ(Run({"list", Path("image.exe")}).code, 1);
  EXPECT_EQ(Run({"list", Path("missing.exe")}).code, 1);

  EXPECT_EQ(Run({"unpack", Path("image.exe")}).code, 2);
  EXPECT_EQ(Run({"build", Path("image.exe"), Path("out.exe")}).code, 2);
  EXPECT_EQ(Run({"extract", Path("image.exe")}).code, 2);
  EXPECT_EQ(Run({"list"}).code, 2);
  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* word : {"build IMAGE OUT FILE...", "list EXE", "extract EXE DIR"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

// A vendor-signed image is a normal input: its signature goes, with a note to sign OUT.
// The signed updater is listed and extracted through its certificate table.
TEST_F(PayloadTool, SignedImagesAndSignedUpdaters) {
  std::string image = MinimalPe(true);
  FakeSign(image);
  WriteFile(Path("signed-image.exe"), image);
  WriteFile(Path("patch.idx"), "index");
  Result built = Run({"build", Path("signed-image.exe"), Path("updater.exe"), Path("patch.idx")});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_NE(built.err.find("signature was removed, since appending the patch invalidates it"), std::string::npos)
      << built.err;
  EXPECT_NE(built.err.find("Sign "), std::string::npos) << built.err;
  EXPECT_EQ(built.err.find('\n'), built.err.size() - 1) << "one line";

  std::string updater = ReadFile(Path("updater.exe"));
  FakeSign(updater);
  WriteFile(Path("signed.exe"), updater);
  Result listed = Run({"list", Path("signed.exe")});
  ASSERT_EQ(listed.code, 0) << listed.err;
  EXPECT_EQ(listed.out, "patch.idx\t137\t5\n");
  Result released = Run({"extract", Path("signed.exe"), Path("out")});
  ASSERT_EQ(released.code, 0) << released.err;
  EXPECT_EQ(ReadFile(Path("out/patch.idx")), "index");
}
