// quorvane-update: the updater for a terminal. Run from the game folder, it releases the
// patch appended to its own file and performs the whole update at once, as if Update had
// been clicked after the start-up reminder.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Texts.h"
#include "app/UpdateDlg.h"
#include "app/console/ConsoleWindow.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage: quorvane-update [--yes | --no] [--log]\n"
      "Updates the game in the folder of this program with the patch it carries.\n"
      "  --yes   answer every question Yes without asking\n"
      "  --no    answer every question No without asking (also the default when\n"
      "          standard input is not a terminal)\n"
      "  --log   write LogLocalUpdate.txt, LogPatch.txt and LogTidy.txt\n"
      "Exit status: 0 updated, 1 the update failed, 2 bad usage.\n",
      out);
}

// The version line: string 111 with the installed version (at most 19 characters), or
// string 110 when the version file cannot be read.
std::string VersionLine(const std::string& folder) {
  const std::string file = (folder.empty() ? std::string(".") : folder) + "/CVer.txt";
  if (!plat::FileExists(file)) return texts::Load(texts::kTextVersionUnknown);
  char value[20];
  plat::GetProfileString("Ver", "CurVer", "", value, sizeof value, file);
  return texts::Format(texts::kTextVersion, value);
}

}  // namespace

int main(int argc, char** argv) {
  CConsoleWindow::Answer answer = CConsoleWindow::Answer::Ask;
  bool log = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--yes") && answer != CConsoleWindow::Answer::No) {
      answer = CConsoleWindow::Answer::Yes;
    } else if (!std::strcmp(argv[i], "--no") && answer != CConsoleWindow::Answer::Yes) {
      answer = CConsoleWindow::Answer::No;
    } else if (!std::strcmp(argv[i], "--log")) {
      log = true;
    } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "quorvane-update: unknown argument '%s'\n", argv[i]);
      Usage(stderr);
      return 2;
    }
  }

  CConsoleWindow window(answer);
  CUpdateDlg dlg(window);
  dlg.m_bRunLog = dlg.m_bPatchLog = dlg.m_bTidyLog = log;
  dlg.m_strVersion = VersionLine(plat::ModuleFolder());
  std::fprintf(stderr, "%s\n", CConsoleWindow::ForTerminal(texts::Load(texts::kTextTitle)).c_str());
  std::fprintf(stderr, "%s\n", CConsoleWindow::ForTerminal(dlg.m_strVersion).c_str());

  // The reminder that every start shows, then the run.
  window.MessageBox(texts::Load(texts::kTextCloseTheGame), texts::Load(texts::kTextCaption), plat::kMbOk | plat::kMbIconInfo);
  window.SetStatus(dlg.m_strStatus);
  dlg.OnUpdate();
  if (window.Closed()) return 0;
  std::fprintf(stderr, "\n%s\n", CConsoleWindow::ForTerminal(dlg.m_strStatus).c_str());
  if (dlg.m_problem.Failed()) std::fprintf(stderr, "%s\n", CConsoleWindow::ForTerminal(dlg.m_problem.text).c_str());
  return 1;
}
