// Drives another process's windows from outside, as a player's mouse and keyboard
// would reach them: finds its top-level windows, reads their texts, presses buttons,
// reads the progress bar and saves what is on the screen. Windows (and Wine) only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvtest::gui {

// A started program; killed when the object goes while it still runs.
class CProcess {
 public:
  // `exe` and `dir` are Windows paths (a Unix path under Wine is taken as on drive Z:).
  bool Start(const std::string& exe, const std::string& dir);
  ~CProcess();
  CProcess() = default;
  CProcess(const CProcess&) = delete;
  CProcess& operator=(const CProcess&) = delete;

  DWORD Id() const { return m_pi.dwProcessId; }
  // Waits up to `ms`; true when the process has ended. `code` gets its exit code.
  bool WaitExit(DWORD ms, DWORD* code = nullptr);

 private:
  PROCESS_INFORMATION m_pi{};
};

// The visible top-level windows that `pid` owns.
std::vector<HWND> TopWindows(DWORD pid);
// A dialog-class window ("#32770") holding a control with id `controlId`.
bool HasControl(HWND window, int controlId);
// The main dialog of the updater (a visible dialog with the progress bar), or null.
HWND MainDialog(DWORD pid);
// A visible message box of `pid` (a dialog window without the progress bar), or null.
HWND MessageBoxOf(DWORD pid);

std::string TextOf(HWND window);
// The message of a message box: the texts of its static controls.
std::string MessageText(HWND box);

// Polls `probe` until it returns a window or `ms` pass.
HWND WaitForWindow(const std::function<HWND()>& probe, DWORD ms);
// Polls `done` until it holds or `ms` pass.
bool WaitUntil(const std::function<bool()>& done, DWORD ms);

// Posts a click of the button `id` of `dialog` (the button's own BM_CLICK when it has
// one), so that the caller does not wait for what the click sets off.
void Press(HWND dialog, int id);
// A key press on the window that has the keyboard focus in `dialog`'s thread.
void PressKey(HWND dialog, UINT vk);
// The position of the progress control `id` of `dialog`; -1 when it does not answer.
int ProgressPos(HWND dialog, int id);

// Puts the mouse on the middle of control `id` of `dialog`.
void HoverOver(HWND dialog, int id);

// The window as it stands on the screen: `pixels` gets width*height values 0x00RRGGBB,
// rows from the top.
bool CaptureWindow(HWND window, int& width, int& height, std::vector<uint32_t>& pixels);

// Saves the window as it stands on the screen into a PNG; the pixels outside its
// window region are left transparent, so the file shows the window's outline.
bool SaveScreenshot(HWND window, const std::string& path);

}  // namespace qvtest::gui
