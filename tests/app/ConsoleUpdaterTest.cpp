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

  void MakeUpdater(const std::string& offered) {
    qvtest::PackageOptions o;
    o.password = kPckGamePassword;
    qvtest::MakeDirs(Path("src"));
    ASSERT_EQ(qvtest::BuildPackage(Path("src/patch"),
                                   {{"CVer.txt", "[Ver]\r\nCurVer=" + offered + "\r\nValidVer=1.0.0\r\n"},
                                    {"docs/new.txt", "new"}},
                                   o),
              "");
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
