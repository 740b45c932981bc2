// A thin Win32 application and dialog layer: owning wrappers for GDI and kernel
// handles, an application object, modal dialogs from templates with message routing,
// subclassed controls that receive the notifications reflected by their dialog,
// string loading and tooltips.
#pragma once

#include "platform/WindowsApi.h"
#include "platform/WideText.h"

#include <commctrl.h>

#include <string>
#include <utility>

namespace win {

// ---- owning handles ----

// An owned handle of type H released by Free; movable, not copyable.
template <typename H, typename Free>
class Owned {
 public:
  Owned() = default;
  explicit Owned(H handle) : m_h(handle) {}
  ~Owned() { Reset(); }
  Owned(Owned&& other) noexcept : m_h(std::exchange(other.m_h, H{})) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_h, H{}));
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  H Get() const { return m_h; }
  explicit operator bool() const { return m_h != H{}; }
  void Reset(H handle = H{}) {
    if (m_h) Free{}(m_h);
    m_h = handle;
  }
  // Gives up ownership, e.g. when the system takes the handle over.
  H Release() { return std::exchange(m_h, H{}); }

 private:
  H m_h{};
};

struct GdiFree {
  void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
struct DcFree {
  void operator()(HDC h) const { DeleteDC(h); }
};
struct HandleFree {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
struct IconFree {
  void operator()(HICON h) const { DestroyIcon(h); }
};
struct CursorFree {
  void operator()(HCURSOR h) const { DestroyCursor(h); }
};
struct MenuFree {
  void operator()(HMENU h) const { DestroyMenu(h); }
};
struct WindowFree {
  void operator()(HWND h) const { DestroyWindow(h); }
};

using Bitmap = Owned<HBITMAP, GdiFree>;
using Region = Owned<HRGN, GdiFree>;
using Font = Owned<HFONT, GdiFree>;
using Brush = Owned<HBRUSH, GdiFree>;
using MemoryDC = Owned<HDC, DcFree>;
using KernelHandle = Owned<HANDLE, HandleFree>;
using Icon = Owned<HICON, IconFree>;
using Cursor = Owned<HCURSOR, CursorFree>;
using Menu = Owned<HMENU, MenuFree>;
using Window = Owned<HWND, WindowFree>;

// A window's device context from GetDC, released with ReleaseDC.
class WindowDC {
 public:
  explicit WindowDC(HWND hwnd) : m_hwnd(hwnd), m_dc(GetDC(hwnd)) {}
  ~WindowDC() {
    if (m_dc) ReleaseDC(m_hwnd, m_dc);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC Get() const { return m_dc; }
  explicit operator bool() const { return m_dc != nullptr; }

 private:
  HWND m_hwnd;
  HDC m_dc;
};

// Selects an object into a device context for the scope and puts the previous one back.
class SelectIn {
 public:
  SelectIn(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~SelectIn() {
    if (m_old) SelectObject(m_dc, m_old);
  }
  SelectIn(const SelectIn&) = delete;
  SelectIn& operator=(const SelectIn&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_old;
};

// ---- resources and helpers ----

HINSTANCE Instance();
// String `id` of the string table in the ANSI code page, "" when there is none.
std::string LoadStr(UINT id);
// Centres `hwnd` on the work area of its monitor.
void CenterWindow(HWND hwnd);
// Dispatches the queued messages without waiting; a quit message is put back.
void PumpMessages();

// ---- windows ----

// A C++ object bound to a window. Dialogs route their messages to OnMessage; subclassed
// controls receive theirs, and the notifications their dialog reflects to them.
class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND Hwnd() const { return m_hWnd; }
  // The object bound to `hwnd`, or null.
  static CWnd* FromHandle(HWND hwnd);

  // A reflected notification (WM_DRAWITEM, WM_COMMAND, WM_CTLCOLORBTN) sent to the
  // parent by this control; true when handled, with the answer in `result`.
  virtual bool OnReflect(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

 protected:
  void Bind(HWND hwnd);
  void Unbind();
  HWND m_hWnd = nullptr;
};

// A control of a dialog whose window procedure this object takes over.
class CSubclassedWnd : public CWnd {
 public:
  ~CSubclassedWnd() override;
  // Takes over control `id` of `dialog`; false when there is no such control.
  bool SubclassDlgItem(UINT id, HWND dialog);
  bool Subclass(HWND hwnd);
  void Unsubclass();

 protected:
  // The control's own handling of a message.
  virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
  // The window procedure the control had before.
  LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);
  // Called after the window is destroyed, when the binding is already gone.
  virtual void OnFinalDestroy() {}

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
};

// A modal dialog from a template in the program's resources.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, HWND parent = nullptr) : m_templateId(templateId), m_parent(parent) {}
  // Shows the dialog and returns the value given to EndDialog (-1 when it cannot be made).
  INT_PTR DoModal();
  void EndDialog(INT_PTR result);

 protected:
  // After the controls exist; true lets the system set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // A message to the dialog; return true when handled, with the answer in `result`.
  virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  // WM_COMMAND from a control or the keyboard; true when handled.
  virtual bool OnCommand(UINT id, UINT code, HWND control);
  // Esc and the cancel button.
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Enter and the OK button.
  virtual void OnOK() { EndDialog(IDOK); }
  // The handling that the dialog manager would give the message.
  LRESULT DefaultHandling(UINT msg, WPARAM wp, LPARAM lp);

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR Route(UINT msg, WPARAM wp, LPARAM lp);
  UINT m_templateId;
  HWND m_parent;
  bool m_inDefault = false;
  UINT m_defaultMsg = WM_NULL;
};

// The application object: start-up and exit handlers around the program's single run.
class CApp {
 public:
  CApp();
  virtual ~CApp();
  // The executable's file name without folder and extension.
  const std::string& AppName() const { return m_appName; }
  // Runs InitInstance (and the message loop when it returns true), then ExitInstance.
  int Run();

 protected:
  virtual bool InitInstance() = 0;
  virtual int ExitInstance() { return 0; }

 private:
  std::string m_appName;
};

// A tooltip window of comctl32 for one tool window, which it subclasses to see the mouse.
class CToolTip {
 public:
  bool IsCreated() const { return static_cast<bool>(m_wnd); }
  bool Create(HWND owner, int maxWidth);
  // Registers the tool's client rectangle as tool id 1 unless it already is one.
  void EnsureTool(HWND tool);
  // Gives tool id 1 of `tool` its current client rectangle, after the tool was resized.
  void UpdateToolRect(HWND tool);
  void SetText(HWND tool, const std::string& text);
  void Activate(bool on);
  void Destroy() { m_wnd.Reset(); }

 private:
  Window m_wnd;
};

}  // namespace win
