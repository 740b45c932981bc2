// The patch pass: the version check, Delete.txt, then the release of the patch into the
// game.
#include "app/RunLog.h"
#include "app/Sinks.h"
#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "fs/FileTarget.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "patch/SpaceEstimate.h"
#include "pck/PckFormat.h"
#include "pck/PckJournal.h"
#include "pck/PckReader.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "version/VersionCheck.h"

int CUpdateDlg::RunPatchPass() {
  const std::string gameFolder = GameFolder();
  const std::string base = gameFolder + "/patch";
  LogRun("释放路径：%s", gameFolder.c_str());
  LogRun("包的路径：%s/%s", gameFolder.c_str(), "patch");
  return PatchFromPackage(base, gameFolder, kPckGamePassword, g_packageNames, int(PckCodec::Lzo1x)) >= 0 ? 0 : -1;
}

// Delete.txt, once the patch has been accepted and before the release: the whole-patch
// check has planned the release against the game as this leaves it.
void CUpdateDlg::DeleteObsolete() {
  m_window.Repaint();
  ShowStatus(texts::kTextDeleting);
  m_window.PaintNow();
  DeleteObsoleteFiles(m_window, [this](const std::string& line) { LogRun("%s", line.c_str()); });
  m_strStatus = texts::Format(texts::kTextProgress, 0, m_nFileCount);
  m_window.Repaint();
  DrawProgressText(m_strStatus);
}

bool CUpdateDlg::EnoughRoom(uint64_t need, const std::string& folder) {
  uint64_t free = 0;
  if (!plat::FreeSpace(folder, free)) return true;
  need = WithSpaceMargin(need);
  if (free >= need) return true;
  const unsigned needMb = unsigned(ToMegabytes(need)), freeMb = unsigned(free >> 20);
  m_problem = Failure(ErrorKind::NoSpace, folder,
                      "not enough disk space in " + folder + ": the update needs " + std::to_string(needMb) + " MB, " +
                          std::to_string(freeMb) + " MB are free");
  LogRun("磁盘空间不足: 需要 %u MB, 可用 %u MB", needMb, freeMb);
  m_bProblemShown = true;
  m_window.Repaint();
  ShowMessage(texts::Format(texts::kTextNoRoom, needMb, freeMb));
  return false;
}

int CUpdateDlg::PatchFromPackage(const std::string& patchBase, const std::string& gameFolder,
                                 const char* password, const char* const* packageNames, int codec) {
  if (!PackageExists(patchBase)) {
    LogRun("找不到更新包 : Patch !");
    m_bBusy = false;
    return -1;
  }
  LogRun("找到更新包 : Patch !");
  CPatchSink sink(*this);
  sink.m_bLog = m_bPatchLog;
  if (CheckVersion(patchBase, gameFolder, password, &sink, m_window) < 0) {
    LogRun("Check Version Error!");
    m_bBusy = false;
    return -1;
  }
  // The questions leave the dialog usable; a player who closed it meanwhile has asked to
  // stop, and nothing of the game has changed yet.
  if (g_bAbort) {
    LogRun("更新已取消");
    m_bBusy = false;
    return -1;
  }
  // A disk too small for the release is told now, before Delete.txt and the first write.
  if (m_plan && !EnoughRoom(ReleaseSpaceNeeded(*m_plan), gameFolder)) {
    m_bBusy = false;
    return -1;
  }
  DeleteObsolete();
  plat::DeleteFile("Ver.dat");
  LogRun("释放压缩包: %s 到目标目录: %s ...", patchBase.c_str(), gameFolder.c_str());
  // Packages the release creates are listed in the game folder's journal until their
  // first index lands; each file goes where the check of the whole patch found it can.
  CPckJournal journal(gameFolder);
  ReleaseOptions options;
  options.journal = &journal;
  options.plan = m_plan.get();
  CError releaseError;
  options.error = &releaseError;
  if (ApplyPatchPackage(patchBase, packageNames, gameFolder, CFileTarget::kFlagCreatePackages, password, &sink, codec,
                        options) < 0) {
    if (releaseError.Failed())
      m_problem = releaseError;
    else if (!sink.m_strErrors.empty())
      m_problem = Failure(ErrorKind::Io, "", sink.m_strErrors);
    LogRun("处理更新包: %s 时出错,程序退出", patchBase.c_str());
    m_bBusy = false;
    return -1;
  }
  LogRun("Patch DONE! TotalDir:(%d)  TotalFile:(%d)", sink.m_nFoldersDone, sink.m_nFilesDone);
  return 0;
}
