// CUpdateDlg::OnUpdate: the whole update run, from releasing the patch carried by the
// executable to closing the window.
#include <cstdarg>
#include <cstring>
#include <memory>

#include "app/RunLog.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "io/FileStream.h"
#include "patch/ObsoleteList.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "patch/SpaceEstimate.h"
#include "payload/PayloadExtractor.h"
#include "pck/PckFormat.h"
#include "pck/PckJournal.h"
#include "pck/PckReader.h"
#include "pck/PckSummary.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

std::atomic<bool> g_bAbort{false};

CUpdateDlg::CUpdateDlg(IUpdateWindow& window) : m_window(window) { m_strStatus = texts::Load(texts::kTextNoProgress); }
CUpdateDlg::~CUpdateDlg() = default;

std::string CUpdateDlg::GameFolder() const {
  return m_strModulePath.empty() ? plat::ModuleFolder() : plat::ParentFolder(m_strModulePath);
}

void CUpdateDlg::LogRun(const char* format, ...) {
  if (!m_bRunLog) return;
  va_list args;
  va_start(args, format);
  AppendLogLineV(kRunLogName, format, args);
  va_end(args);
}

void CUpdateDlg::ShowStatus(int id) { m_strStatus = texts::Load(id); }

void CUpdateDlg::ShowMessage(const std::string& text) {
  m_window.MessageBox(text, texts::Load(texts::kTextCaption), plat::kMbOk | plat::kMbIconInfo);
}

void CUpdateDlg::DrawProgressText(const std::string& text) {
  m_window.PaintTextLines(m_strVersion, text, EraseArea::Counter);
}

void CUpdateDlg::DrawTidyText(const std::string& text) {
  m_window.PaintTextLines(m_strVersion, text, m_bRepaintText ? EraseArea::Status : EraseArea::None);
}

void CUpdateDlg::ExplainFailure() {
  // A player who closed the window asked to stop; that is no failure to explain.
  if (!m_problem.Failed() || m_bProblemShown || g_bAbort) return;
  int why = texts::kTextWhyIo;
  switch (m_problem.kind) {
    case ErrorKind::NoSpace: why = texts::kTextWhyNoSpace; break;
    case ErrorKind::Access: why = texts::kTextWhyAccess; break;
    case ErrorKind::InUse: why = texts::kTextWhyInUse; break;
    case ErrorKind::Damaged: why = texts::kTextWhyDamaged; break;
    case ErrorKind::TooLong: why = texts::kTextWhyTooLong; break;
    case ErrorKind::Mismatch: why = texts::kTextWhyMismatch; break;
    case ErrorKind::NotFound: why = texts::kTextWhyNotFound; break;
    case ErrorKind::BadArgument: why = texts::kTextWhyConflict; break;
    default: break;
  }
  // The file as the player finds it: below the game folder where it lies there.
  std::string file = m_problem.file;
  const std::string game = GameFolder();
  if (!game.empty() && file.size() > game.size() + 1 && file.compare(0, game.size(), game) == 0 &&
      plat::IsSeparator(file[game.size()]))
    file = file.substr(game.size() + 1);
  m_bProblemShown = true;
  m_window.Repaint();
  ShowMessage(texts::Format(texts::kTextFailedWhy, texts::Load(why), file.empty() ? "-" : file.c_str()));
}

void CUpdateDlg::EndRunFailed() {
  m_bBusy = false;
  ShowStatus(texts::kTextUpdateFailed);
  m_window.Repaint();
  m_plan.reset();
  m_folderLock.Release();
}

bool CUpdateDlg::TakeGameFolder() {
  // One run at a time changes a game folder: a second updater, or pcktool, would write
  // the same packages.
  if (!m_folderLock.TryAcquire("")) {
    m_problem = Failure(ErrorKind::Access, GameFolder(), "another updater or pcktool is changing this game folder");
    LogRun("另一个更新程序正在运行: %s", plat::LastError().text.c_str());
    ShowMessage(texts::Load(texts::kTextBusy));
    return false;
  }
  // What a stopped run left half done is settled before anything else looks at the
  // game: a swap is finished or rolled back (mb.dat itself may be aside), a package whose
  // first index never landed goes.
  CPckJournal journal("");
  if (!journal.Recover()) {
    m_problem = journal.Error();
    LogRun("恢复上次中断的更新出错: %s", journal.Error().text.c_str());
    ShowMessage(texts::Load(texts::kTextAccessError));
    return false;
  }
  // A new index that never replaced the old one is never part of a package.
  for (const char* const* p = g_packageNames; *p; ++p) {
    const std::string stale = PckIndexName(*p) + ".new";
    if (plat::FileExists(stale)) plat::DeleteFile(stale);
  }
  return true;
}

bool CUpdateDlg::CheckWholePatch() {
  const std::string gameFolder = GameFolder();
  const std::string base = gameFolder + "/patch";
  if (!PackageExists(base)) {
    m_problem = Failure(ErrorKind::NotFound, base, "the patch package " + base + ".idx/.nam/.dat is missing");
    LogRun("找不到更新包 : Patch !");
    return false;
  }
  auto plan = std::make_unique<CPatchPlan>();
  CError problem;
  auto keepAlive = [this](uint32_t) {
    m_window.DrainMessages();
    return !g_bAbort;
  };
  // Delete.txt runs after the version questions and before the release: the plan is
  // made against the game as the deletion will leave it, read with the deletion's own
  // reader and matcher, deleting nothing yet.
  const std::vector<std::string> deletions = ObsoleteTargets(ReadObsoleteList("Delete.txt"));
  if (CheckPatchPackage(base, g_packageNames, gameFolder, CFileTarget::kFlagCreatePackages, kPckGamePassword,
                        keepAlive, *plan, problem, GameAccess::ForRelease, deletions) != 0) {
    m_problem = problem;
    LogRun("更新包检查出错: %s", problem.text.c_str());
    return false;
  }
  m_plan = std::move(plan);
  return true;
}

void CUpdateDlg::OnUpdate() {
  // 0. A click that a message pump dispatched during a run only gets told to wait.
  if (m_bBusy) {
    m_window.Repaint();
    ShowMessage(texts::Load(texts::kTextBusy));
    return;
  }
  const std::string module = m_strModulePath.empty() ? plat::ModuleFileName() : m_strModulePath;
  const std::string folder = plat::ParentFolder(module);
  if (!folder.empty()) plat::SetWorkDir(folder);

  m_bBusy = true;
  m_nFileCount = 0;
  m_nTotalBytes = 0;
  m_problem = CError();
  m_bProblemShown = false;
  LogRun("\nUpdate --- Begin!");
  const uint32_t start = plat::TickMs();
  LogRun("LOMPATCH, written by Ardel, Sornwick Ltd. 2004");
  if (!TakeGameFolder()) return EndRunFailed();

  // The extractor moves to the executable's folder too and goes back where it found the
  // process when it is destroyed, at every end of the run.
  auto extractor = folder.empty() ? std::make_unique<CPayloadExtractor>(&m_window)
                                  : std::make_unique<CPayloadExtractor>(folder, &m_window);
  LogRun("开始从自身释放更新包 : Patch.*, 请稍候...");
  LogRun("路径( 包含exe文件名)：%s", module.c_str());
  ShowStatus(texts::kTextReleasing);
  m_window.Repaint();
  m_window.PaintNow();

  extractor->SetOutputPrefix("");
  // The carried files must fit before the first of them is written (a file of the same
  // name that is there already gives its room back).
  if (extractor->ReadDirectory(module) > 0) {
    uint64_t need = 0;
    for (const PayloadEntry& e : extractor->Entries()) {
      plat::FileInfo old;
      const uint64_t had = plat::StatPath(e.Name(), old) && !old.isDir ? uint64_t(old.size) : 0;
      if (e.size > had) need += e.size - had;
    }
    if (!EnoughRoom(need, folder.empty() ? std::string(".") : folder)) return EndRunFailed();
  }
  int released = extractor->Release(module);
  if (released < 1) {
    LogRun("从自身释放更新包 : Patch.* ---Error!");
    ShowMessage(texts::Format(texts::kTextReleaseFailed, released));
  }
  LogRun("从自身释放更新包 : Patch.* ---ok!");
  // Exit confirmed while the patch was being released: the player has asked to stop,
  // and nothing of the game has changed yet.
  if (g_bAbort) {
    LogRun("更新已取消");
    return EndRunFailed();
  }
  m_window.Repaint();
  ShowStatus(texts::kTextPreparing);
  m_window.PaintNow();

  // The game folder and the whole patch are checked before anything in the game
  // changes: started outside a game folder, or with a damaged patch, the run deletes
  // and writes nothing. So are the version questions (in the patch pass): Delete.txt
  // runs only once the player and the version check have accepted the patch.
  if (!plat::FileExists("mb.dat")) {
    LogRun("找不到所需文件: mb.dat!");
    ShowMessage(texts::Load(texts::kTextNotInGameFolder));
    return EndRunFailed();
  }
  LogRun("找到所需文件: mb.dat!");
  // The patch's index: its header must be a package's, and its file records are counted
  // for the progress. Each way it can fail has its log lines and its message box.
  PckIndexSummary summary;
  const PckIndexRead read = PckReadIndexSummary("patch.idx", summary);
  if (read != PckIndexRead::CannotOpen) {
    LogRun("打开 patch.idx 成功 --- ok!");
    LogRun("开始读：信息文件");
  }
  if (read == PckIndexRead::BadHeader || read == PckIndexRead::Ok) LogRun("信息文件：头正确！");
  if (read != PckIndexRead::Ok) {
    struct HeaderFailure {
      PckIndexRead read;
      const char* lines[2];  // logged before the window is repainted
      const char* last;      // logged after
      int box;
    };
    static const HeaderFailure kFailures[] = {
        {PckIndexRead::CannotOpen, {}, "文件更新出错：-1:打开 patch.idx 的时候出错 --- Error!", texts::kTextNoPatchIndex},
        {PckIndexRead::ShortHeader,
         {"信息文件：头出错！", "信息文件：头出错，关闭 patch.idx --- ok!"},
         "文件更新出错！:-2:信息文件：头出错！",
         texts::kTextShortHeader},
        {PckIndexRead::BadHeader,
         {"信息文件：版本出错！", "信息文件：版本出错，关闭 patch.idx --- ok!"},
         "文件更新出错！:-3:信息文件：版本出错！",
         texts::kTextBadHeader},
    };
    for (const HeaderFailure& f : kFailures) {
      if (f.read != read) continue;
      for (const char* line : f.lines)
        if (line) LogRun("%s", line);
      m_window.Repaint();
      LogRun("%s", f.last);
      ShowMessage(texts::Load(f.box));
    }
    return EndRunFailed();
  }
  LogRun("信息文件：版本正确！");
  m_nFileCount = int32_t(summary.files);
  m_nTotalBytes = int32_t(summary.fileBytes);
  LogRun("正常关闭 patch.idx --- ok!");
  if (!CheckWholePatch()) {
    ExplainFailure();
    return EndRunFailed();
  }

  m_window.Repaint();
  ShowStatus(texts::kTextPreparing);
  m_window.PaintNow();
  m_window.Repaint();

  m_strStatus = texts::Format(texts::kTextProgress, 0, m_nFileCount);
  DrawProgressText(m_strStatus);
  LogRun("文件总数：%d个, 大小：%d字节", m_nFileCount, m_nTotalBytes);
  m_window.Repaint();

  if (RunPatchPass() < 0) {
    LogRun("更新包(文件)的时候出错！");
    ExplainFailure();
    return EndRunFailed();
  }
  LogRun("更新包（文件）完成！");
  m_window.Repaint();

  RunTidyPass(kTidyThreshold);

  LogRun("整理更新包(文件)完成！");
  m_bBusy = false;
  m_plan.reset();
  plat::DeleteFile("patch.dat");
  plat::DeleteFile("patch.idx");
  plat::DeleteFile("patch.nam");
  // Gone for good: after a power cut a patch that came back would be offered again.
  plat::SyncFolder("");
  m_folderLock.Release();

  const uint32_t end = plat::TickMs();
  LogRun("Time used: %.2f seconds", double(uint32_t(end - start)) * 0.001);
  LogRun("Update --- End!");
  m_window.Repaint();
  ShowMessage(texts::Load(texts::kTextUpdateDone));
  m_window.Close();
}
