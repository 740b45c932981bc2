// The application object and the program's entry point: one copy at a time, one
// modal dialog, and the program ends when the dialog ends.
#include <string>

#include "ui/UpdateDialog.h"
#include "ui/Win32Base.h"

namespace {

class CUpdateApp : public win::CApp {
 protected:
  bool InitInstance() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    if (!m_mutex.Acquire(AppName())) {
      MessageBoxW(nullptr, plat::Wide("呵呵，已经运行了...").c_str(), plat::Wide(AppName()).c_str(),
                  MB_OK | MB_ICONINFORMATION);
      return false;
    }
    CUpdateDialog dialog;
    dialog.DoModal();
    return false;
  }

  int ExitInstance() override {
    m_mutex.Release();
    return 0;
  }

 private:
  plat::CInstanceMutex m_mutex;
};

CUpdateApp theApp;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return theApp.Run(); }
