// The update run: the state and operations of the updater's main dialog that carry out
// a run, written against IUpdateWindow so that the Win32 dialog, the console updater
// and the tests drive the same code.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/UpdateWindow.h"
#include "io/Error.h"
#include "platform/Platform.h"

struct CPatchPlan;

// Set when the window is being closed; the walk sinks report it as an abort. Atomic: the
// window procedure may set it while the run reads it.
extern std::atomic<bool> g_bAbort;

// The packages' password and the ratio of dead bytes above which a package is rebuilt.
inline constexpr float kTidyThreshold = 0.4f;

class CUpdateDlg {
 public:
  explicit CUpdateDlg(IUpdateWindow& window);
  virtual ~CUpdateDlg();

  // The whole update run, as when the Update button is clicked.
  void OnUpdate();
  // Version check and release of the patch into the game: 0 or -1.
  int RunPatchPass();
  int PatchFromPackage(const std::string& patchBase, const std::string& gameFolder, const char* password,
                       const char* const* packageNames, int codec);
  // Rebuilds the game's packages whose dead bytes exceed `threshold` of their data; 0.
  int RunTidyPass(float threshold);

  // One line of the run log (LogLocalUpdate.txt) when m_bRunLog is on.
  void LogRun(const char* format, ...);
  void DrawProgressText(const std::string& text);
  void DrawTidyText(const std::string& text);

  IUpdateWindow& Window() { return m_window; }

  // ---- run state ----
  bool m_bBusy = false;
  bool m_bRunLog = false;
  bool m_bRepaintText = false;
  int32_t m_nFileCount = 0;
  int32_t m_nTotalBytes = 0;
  std::string m_strStatus;
  std::string m_strVersion;
  // Log switches handed to the sinks of the passes (off as shipped).
  bool m_bPatchLog = false;
  bool m_bTidyLog = false;
  // Why the last run failed, when it was more than the status line says (a damaged
  // patch, a file that could not be written, another updater at work): for the console
  // updater and the logs.
  CError m_problem;
  bool m_bProblemShown = false;  // a box has already told the player about m_problem
  // Test seam: the executable whose payload is released ("" = the running one).
  std::string m_strModulePath;
  // The pause before a package is rebuilt, which gives the game's own programs time to
  // let go of it; tests set it to 0.
  uint32_t m_nTidyDelayMs = 1000;

 protected:
  // Loads string `id` into the status line.
  void ShowStatus(int id);
  // The message box of the run: caption string 106, OK, information icon.
  void ShowMessage(const std::string& text);
  void EndRunFailed();
  // The folder of the updater, without a trailing separator: the game folder.
  std::string GameFolder() const;
  // Takes the game folder for this run (a second run is told to wait) and settles what
  // a stopped run left half done; false after telling the player why not.
  bool TakeGameFolder();
  // Checks the whole released patch against the game before the game changes and keeps
  // the plan for the release; false (logged) when the patch cannot be installed.
  bool CheckWholePatch();
  void DeleteObsolete();
  // Whether `need` bytes (and the margin) fit on the volume of `folder`; when they do not,
  // says so with the needed and the free megabytes and returns false. A volume whose
  // free space cannot be told passes: the writes themselves will tell.
  bool EnoughRoom(uint64_t need, const std::string& folder);
  // Tells the player in a box, besides status 118, what failed and why (m_problem, in
  // words a player can act on: disk full, access denied, file in use, damaged patch,
  // path too long), unless a box has told already.
  void ExplainFailure();
  // The tidy pass's way out when a package cannot be rebuilt or swapped: the
  // temporaries go, the old package stays, and the player is told.
  void TidyAccessError();

 private:
  IUpdateWindow& m_window;
  std::unique_ptr<CPatchPlan> m_plan;  // from the check, for the release of this run
  plat::CFolderLock m_folderLock;      // held for the length of a run
};

// Deletes what Delete.txt lists (paths relative to the game folder; a path that is
// absolute, names a drive or a server, or climbs out with "..", is refused and `log`
// told why) and then Delete.txt itself. Returns the number of paths refused.
int DeleteObsoleteFiles(plat::IMessageUi& ui, const std::function<void(const std::string&)>& log = nullptr);

