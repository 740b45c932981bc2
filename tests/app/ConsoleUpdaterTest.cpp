// The console updater as a player runs it: from the game folder, with the patch
// appended to its own file, questions answered by flags or (without a terminal) No.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "payload/PayloadFormat.h"
#include "platform/Platform.h"
#include "tests/support/PackageFixtures.h"

#include <sys/wait.h>

namespace {

class ConsoleUpdater : public qvtest::PackageDirTest {
 protected:
  void SetUp() override {
    qvtest::MakeDirs(Game());
    qvtest::WriteFile(G("mb.dat"), "marker");
    qvtest::WriteFile(G("CVer.txt"), "[Ver]\r\nCurVer=1.0.5\r\n");
  }
  std::string Game() const { return Path("game"); }
  std::string G(const std::string& rel) const { return Game() + "/" + rel; }

  void MakeUpdater(const std::string& offered, qvtest::FileMap more = {}) {
    qvtest::PackageOptions o;
    o.password = kPckGamePassword;
    qvtest::MakeDirs(Path("src"));
    more["CVer.txt"] = "[Ver]\r\nCurVer=" + offered + "\r\nValidVer=1.0.0\r\n";
    more["docs/new.txt"] = "new";
    ASSERT_EQ(qvtest::BuildPackage(Path("src/patch"), more, o), "");
    CPayloadBuilder builder;
    std::string why;
    for (const char* ext : {".idx", ".nam", ".dat"})
      ASSERT_TRUE(builder.Add(std::string("patch") + ext, Path("src/patch") + ext, why)) << why;
    ASSERT_TRUE(builder.Write(QUORVANE_UPDATE_PATH, G("quorvane-update"), why)) << why;
    ASSERT_EQ(std::system(("chmod +x '" + G("quorvane-update") + "'").c_str()), 0);
  }

  // Runs the updater without a terminal on standard input; returns its exit code.
  int Run(const std::string& args) {
    std::string cmd = "cd '" + Game() + "' && ./quorvane-update " + args + " </dev/null >'" + Path("out.txt") +
                      "' 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Output() { return qvtest::ReadFile(Path("out.txt")); }
};

}  // namespace

TEST_F(ConsoleUpdater, YesRunsTheWholeUpdate) {
  MakeUpdater("1.0.6");
  EXPECT_EQ(Run("--yes"), 0) << Output();
  EXPECT_EQ(qvtest::ReadFile(G("docs/new.txt")), "new");
  EXPECT_FALSE(qvtest::Exists(G("patch.idx")));
  // the boxes are shown in UTF-8
  EXPECT_NE(Output().find("\xe6\x96\x87\xe4\xbb\xb6\xe6\x9b\xb4\xe6\x96\xb0\xe5\xae\x8c\xe6\x88\x90"), std::string::npos)
      << Output();  // "文件更新完成" in UTF-8
  EXPECT_FALSE(qvtest::Exists(G("LogLocalUpdate.txt")));
}

TEST_F(ConsoleUpdater, QuestionsAnsweredNoFailTheRun) {
  MakeUpdater("1.0.5");  // same version: asks whether to go on
  EXPECT_EQ(Run("--no"), 1);
  EXPECT_FALSE(qvtest::Exists(G("docs/new.txt")));
  EXPECT_EQ(Run(""), 1);  // no terminal, no flag: No
  EXPECT_FALSE(qvtest::Exists(G("docs/new.txt")));
  EXPECT_EQ(Run("--yes --log"), 0) << Output();
  EXPECT_TRUE(qvtest::Exists(G("docs/new.txt")));
  EXPECT_TRUE(qvtest::Exists(G("LogLocalUpdate.txt")));
}

TEST_F(ConsoleUpdater, BadArgumentsExitTwo) {
  MakeUpdater("1.0.6");
  EXPECT_EQ(Run("--bogus"), 2);
  EXPECT_FALSE(qvtest::Exists(G("patch.idx")));
  EXPECT_EQ(Run("--help"), 0);
}

TEST_F(ConsoleUpdater, TwoUpdatersStartedAtOnceEndInTheStateOfOneRun) {
  qvtest::PackageOptions o;
  o.password = kPckGamePassword;
  qvtest::FileMap game, patch;
  // A quarter of the entries replaced, with content that does not compress: not enough
  // dead space for the tidy pass (and its pause of a second).
  for (int i = 0; i < 40; ++i) {
    game["ui/f" + std::to_string(i) + ".tga"] = qvtest::PseudoRandom(3000, uint32_t(i));
    if (i % 4 == 0) patch["bld/ui/f" + std::to_string(i) + ".tga"] = qvtest::PseudoRandom(3000, uint32_t(100 + i));
  }
  ASSERT_EQ(qvtest::BuildPackage(G("bld"), game, o), "");
  MakeUpdater("1.0.6", patch);
  qvtest::FileMap expected = game;
  for (const auto& [path, bytes] : patch) expected[path.substr(4)] = bytes;
  ASSERT_EQ(std::system(("cp -a '" + Game() + "' '" + Path("pristine") + "'").c_str()), 0);

  const std::string waitText = "\xe6\xad\xa3\xe5\x9c\xa8\xe6\x9b\xb4\xe6\x96\xb0";  // "正在更新" in UTF-8
  int refused = 0;
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(std::system(("rm -rf '" + Game() + "' && cp -a '" + Path("pristine") + "' '" + Game() + "'").c_str()), 0);
    const std::string one = "{ ./quorvane-update --yes </dev/null >'" + Path("o1") + "' 2>&1; echo $? >'" + Path("c1") + "'; }";
    const std::string two = "{ ./quorvane-update --yes </dev/null >'" + Path("o2") + "' 2>&1; echo $? >'" + Path("c2") + "'; }";
    ASSERT_EQ(std::system(("cd '" + Game() + "' && " + one + " & cd '" + Game() + "' && " + two + " & wait").c_str()), 0);
    const int c1 = std::stoi(qvtest::ReadFile(Path("c1"))), c2 = std::stoi(qvtest::ReadFile(Path("c2")));
    // Both ran, one after the other, or one was told to wait and changed nothing.
    EXPECT_TRUE(c1 == 0 || c2 == 0) << c1 << " " << c2;
    for (const auto& [code, out] : {std::pair{c1, Path("o1")}, std::pair{c2, Path("o2")}}) {
      if (code == 0) continue;
      EXPECT_EQ(code, 1);
      EXPECT_NE(qvtest::ReadFile(out).find(waitText), std::string::npos) << qvtest::ReadFile(out);
      ++refused;
    }
    EXPECT_EQ(qvtest::ImageOf(G("bld"), kPckGamePassword).files, expected);
    EXPECT_EQ(qvtest::ReadFile(G("docs/new.txt")), "new");
    EXPECT_FALSE(qvtest::Exists(G("patch.idx")));
  }
  RecordProperty("refused", refused);
}
