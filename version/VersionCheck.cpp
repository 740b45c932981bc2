// The version check: which patch may be applied to which installed game, and what the
// player is asked when that cannot be told or does not fit.
#include "version/VersionCheck.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "io/FileStream.h"
#include "io/IWalkSink.h"
#include "pck/PckReader.h"
#include "version/RecordParser.h"
#include "version/VerRecord.h"

namespace {

// A version file is a few lines; anything longer is not one.
constexpr size_t kMaxVersionFile = 1023;
constexpr char kVersionFile[] = "CVer.txt";

const std::string kNoLocalFile = "当前目录中找不到版本信息文件CVer.txt!\r\n";
const std::string kNoPackageFile = "更新包中找不到版本信息文件CVer.txt.\r\n";
const std::string kNoVersion = "版本文件: CVer.txt 中找不到正确的版本信息!\r\n";
const std::string kAlreadyLatest = "当前版本已经是最新的版本!\r\n";
const std::string kPackageOlder = "更新包中的文件版本比现有文件旧,请下载最新的更新包!\r\n";
const std::string kAskContinue = "是否继续更新?";


enum class Loaded { Missing, Text, Unusable };

// The text before the first zero byte, as the parser sees a C string.
std::string UpToZero(std::string text) {
  text.resize(std::min(text.size(), text.find('\0')));
  return text;
}

// Binary mode: a CR before the LF is trimmed by the parser anyway, and a stray Ctrl-Z
// must not end the text early on Windows.
Loaded ReadLocalFile(const std::string& path, std::string& text) {
  UniqueFile file(plat::OpenFile(path, "rb"));
  if (!file) return Loaded::Missing;
  std::string buffer(kMaxVersionFile + 1, '\0');
  size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
  if (std::ferror(file.get()) || got > kMaxVersionFile) return Loaded::Unusable;
  buffer.resize(got);
  text = UpToZero(std::move(buffer));
  return Loaded::Text;
}

// A damaged entry must not pass for a short one: half a version would decide wrongly.
Loaded ReadPackageFile(PckEntryStream& entry, std::string& text) {
  int32_t size = entry.Size();
  if (size < 0 || size_t(size) > kMaxVersionFile) return Loaded::Unusable;
  std::string buffer(size_t(size), '\0');
  int32_t got = size > 0 ? entry.Read(buffer.data(), size) : 0;
  if (got != size || entry.Failed()) return Loaded::Unusable;
  text = UpToZero(std::move(buffer));
  return Loaded::Text;
}

class CCheck {
 public:
  CCheck(IWalkSink* sink, plat::IMessageUi& ui) : m_pSink(sink), m_ui(ui) {}

  void ErrorLine(const std::string& text) {
    if (m_pSink) m_pSink->Post(kWalkError, -1, text.c_str());
  }
  void ProgressLine(const std::string& text) {
    if (m_pSink) m_pSink->Post(kWalkFileBegin, text.c_str());
  }
  // Yes forces the update on.
  // The questions have no owner window: the dialog behind them stays usable.
  int Ask(const std::string& text) {
    return m_ui.MessageBox(text, "", plat::kMbYesNo | plat::kMbNoOwner) == plat::kIdYes ? 0 : -1;
  }
  int Refuse(const std::string& text) {
    m_ui.MessageBox(text, "Exit", plat::kMbOk | plat::kMbNoOwner);
    return -1;
  }

 private:
  IWalkSink* m_pSink;
  plat::IMessageUi& m_ui;
};

}  // namespace

int CheckVersion(const std::string& packageBase, const std::string& gameFolder, const char* password,
                 IWalkSink* sink, plat::IMessageUi& ui) {
  CCheck check(sink, ui);
  VER installed, offered;
  CIniSyntax syntax;
  CRecordParser parser;
  const SectionMap installedMap{{"[Ver]", &installed}}, offeredMap{{"[Ver]", &offered}};
  parser.SetSyntax(&syntax);
  parser.SetSectionMap(&installedMap);
  PckReader reader;
  reader.SetPassword(password);

  std::string text;
  Loaded local = ReadLocalFile(gameFolder + "\\" + kVersionFile, text);
  if (local == Loaded::Missing) {
    // The first installation has no version yet; the player decides.
    check.ErrorLine(kNoLocalFile);
    return check.Ask(kNoLocalFile + "继续更新吗?第一次更新请点击确定.");
  }
  parser.ResetInput();
  if (local == Loaded::Text) parser.ParseText(text);

  parser.SetSectionMap(&offeredMap);
  reader.Open(packageBase);  // a package that does not open has no entry
  std::unique_ptr<PckEntryStream> entry = reader.OpenEntry(kVersionFile);
  if (!entry) {
    check.ErrorLine(kNoPackageFile);
    return check.Ask(kNoPackageFile + kAskContinue);
  }
  text.clear();
  Loaded package = ReadPackageFile(*entry, text);
  entry.reset();
  parser.ResetInput();
  if (package == Loaded::Text) parser.ParseText(text);

  // A package without a lower limit fits every game. One whose version file cannot be
  // read has no known limit, so it is asked about below instead.
  if (package == Loaded::Text && offered.ValidVer.empty()) return 0;
  if (package != Loaded::Text || offered.CurVer.empty() || installed.CurVer.empty()) {
    check.ErrorLine(kNoVersion);
    return check.Ask(kNoVersion + kAskContinue);
  }
  int order = CompareVersions(installed.CurVer, offered.CurVer);
  if (order == 0) {
    check.ProgressLine(kAlreadyLatest);
    return check.Ask(kAlreadyLatest + kAskContinue);
  }
  if (order > 0) {
    check.ProgressLine(kPackageOlder);
    return check.Ask(kPackageOlder + "是否强制更新?");
  }
  if (CompareVersions(installed.CurVer, offered.ValidVer) < 0) {
    // Composed without a length limit: a shortened version would name the wrong one.
    std::string tooOld = "您的游戏版本太旧,请先更新到: " + offered.ValidVer + " 再执行本升级包!\r\n";
    check.ProgressLine(tooOld);
    return check.Refuse(tooOld + "点击确定退出.");
  }
  return 0;
}
