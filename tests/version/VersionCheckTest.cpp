// The version check's decisions: what the player is asked (text, buttons, caption),
// what the sink is told, and what the patch pass is answered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/IWalkSink.h"
#include "pck/PckFormat.h"
#include "platform/Platform.h"
#include "tests/support/PackageFixtures.h"
#include "version/VersionCheck.h"
#include "tests/support/RecordingUi.h"

namespace {

struct SinkLine {
  int32_t type;
  int32_t code;  // error events only
  std::string text;
  bool operator==(const SinkLine&) const = default;
};

class CRecordingSink : public IWalkSink {
 public:
  std::vector<SinkLine> lines;
  void OnEvent(int32_t type, const void* data, int32_t size) override {
    if (size == int32_t(sizeof(const char*))) {
      lines.push_back({type, 0, WalkEventText(data, size)});
      return;
    }
    const WalkErrorEvent e = WalkEventError(data, size);
    lines.push_back({type, e.code, e.text});
  }
};

std::string Ver(const std::string& cur, const std::string& valid = "") {
  std::string text = "[Ver]\r\nCurVer=" + cur + "\r\n";
  if (!valid.empty()) text += "ValidVer=" + valid + "\r\n";
  return text;
}

const std::string kNoLocal = "当前目录中找不到版本信息文件CVer.txt!\r\n";
const std::string kNoPackage = "更新包中找不到版本信息文件CVer.txt.\r\n";
const std::string kNoVersion = "版本文件: CVer.txt 中找不到正确的版本信息!\r\n";
const std::string kLatest = "当前版本已经是最新的版本!\r\n";
const std::string kOlder = "更新包中的文件版本比现有文件旧,请下载最新的更新包!\r\n";

class VersionCheck : public qvtest::PackageDirTest {
 protected:
  void SetUp() override { qvtest::MakeDirs(Game()); }
  std::string Game() const { return Path("game"); }
  void Installed(const std::string& text) { qvtest::WriteFile(Game() + "/CVer.txt", text); }
  void Package(const qvtest::FileMap& files, const std::string& password = kPckGamePassword) {
    qvtest::PackageOptions options;
    options.password = password;
    ASSERT_EQ(qvtest::BuildPackage(Game() + "/patch", files, options), "");
  }
  void Offered(const std::string& text) { Package({{"CVer.txt", text}}); }
  int Run(std::vector<int> answers = {}) {
    ui = {};
    sink.lines.clear();
    ui.answers = std::move(answers);
    return CheckVersion(Game() + "/patch", Game(), kPckGamePassword, &sink, ui);
  }
  // Exactly one box, a question without caption.
  void ExpectQuestion(const std::string& text) {
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, text);
    EXPECT_EQ(ui.boxes[0].caption, "");
    EXPECT_EQ(ui.boxes[0].flags, plat::kMbYesNo | plat::kMbNoOwner);
  }

  qvtest::CRecordingUi ui;
  CRecordingSink sink;
};

TEST_F(VersionCheck, MissingInstalledFileAsksBeforeThePackageIsRead) {
  Offered(Ver("1.0.6", "1.0.5"));
  EXPECT_EQ(Run({plat::kIdYes}), 0);
  ExpectQuestion(kNoLocal + "继续更新吗?第一次更新请点击确定.");
  EXPECT_EQ(sink.lines, (std::vector<SinkLine>{{kWalkError, -1, kNoLocal}}));
  EXPECT_EQ(Run({plat::kIdNo}), -1);
}

TEST_F(VersionCheck, PackageWithoutVersionFileAsks) {
  Installed(Ver("1.0.5"));
  EXPECT_EQ(Run({plat::kIdYes}), 0);  // no package at all
  ExpectQuestion(kNoPackage + "是否继续更新?");
  EXPECT_EQ(sink.lines, (std::vector<SinkLine>{{kWalkError, -1, kNoPackage}}));

  Package({{"data/CVer.txt", Ver("1.0.6")}});
  EXPECT_EQ(Run(), -1);
  ExpectQuestion(kNoPackage + "是否继续更新?");
}

TEST_F(VersionCheck, NoLowerLimitPassesWithoutAQuestion) {
  Offered(Ver("1.0.6"));
  for (const std::string& installed : {Ver("1.0.6"), Ver("1.0.7"), Ver("0.1"), std::string("CurVer=1\n")}) {
    Installed(installed);
    EXPECT_EQ(Run(), 0) << installed;
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(sink.lines.empty());
  }
  Offered("[Ver]\nValidVer=\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(VersionCheck, MissingVersionAsks) {
  const std::string text = kNoVersion + "是否继续更新?";
  struct Case {
    std::string installed, offered;
  } cases[] = {
      {"[Ver]\nValidVer=1.0\n", Ver("1.0.6", "1.0.1")},        // installed CurVer missing
      {Ver("1.0.5"), "[Ver]\nValidVer=1.0.1\n"},               // offered CurVer missing
      {"CurVer=1.0.5\n[Ver]\n", Ver("1.0.6", "1.0.1")},       // keys outside the section
      {"[ver]\nCurVer=1.0.5\n", Ver("1.0.6", "1.0.1")},       // not the version section
  };
  for (const Case& c : cases) {
    Installed(c.installed);
    Offered(c.offered);
    EXPECT_EQ(Run(), -1) << c.installed << c.offered;
    ExpectQuestion(text);
    EXPECT_EQ(sink.lines, (std::vector<SinkLine>{{kWalkError, -1, kNoVersion}}));
  }
  EXPECT_EQ(Run({plat::kIdYes}), 0);
}

TEST_F(VersionCheck, SameVersionAsks) {
  for (auto [installed, offered] : {std::pair{"1.0.6", "1.0.6"}, {"1.0.6A", "1.0.6a"}, {"版本\xB0\x3D" "1", "版本\xB0\x3D" "1"}}) {
    Installed(Ver(installed));
    Offered(Ver(offered, "1.0.1"));
    EXPECT_EQ(Run({plat::kIdYes}), 0) << installed;
    ExpectQuestion(kLatest + "是否继续更新?");
    EXPECT_EQ(sink.lines, (std::vector<SinkLine>{{kWalkFileBegin, 0, kLatest}}));
  }
  EXPECT_EQ(Run(), -1);
}

TEST_F(VersionCheck, OlderPackageAsksToForce) {
  for (auto [installed, offered] : {std::pair{"1.0.7", "1.0.6"}, {"1.0.9", "1.0.10"}}) {
    Installed(Ver(installed));
    Offered(Ver(offered, "1.0.1"));
    EXPECT_EQ(Run(), -1) << installed;
    ExpectQuestion(kOlder + "是否强制更新?");
    EXPECT_EQ(sink.lines, (std::vector<SinkLine>{{kWalkFileBegin, 0, kOlder}}));
  }
  EXPECT_EQ(Run({plat::kIdYes}), 0);
}

TEST_F(VersionCheck, TooOldGameIsRefused) {
  Installed(Ver("1.0.4"));
  Offered(Ver("1.0.6", "1.0.5"));
  const std::string line = "您的游戏版本太旧,请先更新到: 1.0.5 再执行本升级包!\r\n";
  EXPECT_EQ(Run({plat::kIdYes}), -1);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, line + "点击确定退出.");
  EXPECT_EQ(ui.boxes[0].caption, "Exit");
  EXPECT_EQ(ui.boxes[0].flags, plat::kMbOk | plat::kMbNoOwner);
  EXPECT_EQ(sink.lines, (std::vector<SinkLine>{{kWalkFileBegin, 0, line}}));

  // A long version is named whole, and a "%" in it is only text.
  const std::string longVersion = "1.0.5-" + std::string(300, 'x') + "%s%n";
  Offered(Ver("1.0.6", longVersion));
  EXPECT_EQ(Run(), -1);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find(" " + longVersion + " "), std::string::npos);
}

TEST_F(VersionCheck, FittingPackagePassesWithoutAQuestion) {
  Installed(Ver("1.0.5"));
  Offered(Ver("1.0.6", "1.0.5"));
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(sink.lines.empty());

  // No sink: questions still come, nothing else changes.
  Installed(Ver("1.0.4"));
  EXPECT_EQ(CheckVersion(Game() + "/patch", Game(), kPckGamePassword, nullptr, ui), -1);
}

TEST_F(VersionCheck, OversizedVersionFilesAreNotTruncated) {
  // 1023 bytes is still a version file; at 1024 it is refused rather than cut, so a
  // version at its end can never be read half.
  auto padded = [](const std::string& text, size_t size) { return text + ";" + std::string(size - text.size() - 2, '-') + "\n"; };
  Offered(Ver("1.0.6", "1.0.5"));
  Installed(padded(Ver("1.0.5"), 1023));
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(ui.boxes.empty());

  Installed(padded(Ver("1.0.5"), 1024));
  EXPECT_EQ(Run(), -1);
  ExpectQuestion(kNoVersion + "是否继续更新?");

  // An unreadable package file has no known lower limit: it is asked about, not passed.
  Installed(Ver("1.0.5"));
  Offered(padded(Ver("1.0.6"), 2000));
  EXPECT_EQ(Run(), -1);
  ExpectQuestion(kNoVersion + "是否继续更新?");
}

TEST_F(VersionCheck, UndecodablePackageFileIsAskedAbout) {
  Installed(Ver("1.0.5"));
  // Long enough to be stored compressed, so the wrong key makes the block fail to decode.
  Package({{"CVer.txt", Ver("1.0.6") + ";" + std::string(600, '-') + "\n"}}, "another password");
  EXPECT_EQ(Run(), -1);
  ExpectQuestion(kNoVersion + "是否继续更新?");
}

}  // namespace
