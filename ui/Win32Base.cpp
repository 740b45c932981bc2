// The thin Win32 application and dialog layer.
#include "ui/Win32Base.h"

#include <iterator>
#include <vector>

#include "platform/WideText.h"

namespace win {

namespace {

constexpr wchar_t kBindingProp[] = L"Quorvane.CWnd";
constexpr UINT_PTR kSubclassId = 0x5156;  // any value unique to this layer

CApp* g_app = nullptr;

// Messages whose dialog procedure answer is the result itself, not DWLP_MSGRESULT.
bool AnswersDirectly(UINT msg) {
  switch (msg) {
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

// The control that sent a notification that its dialog reflects back to it, or null.
HWND ReflectTarget(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      return item && item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
    }
    case WM_COMMAND:
      return reinterpret_cast<HWND>(lp);
    case WM_CTLCOLORBTN: case WM_CTLCOLORSTATIC:
      return reinterpret_cast<HWND>(lp);
    default:
      (void)wp;
      return nullptr;
  }
}

}  // namespace

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

std::string LoadStr(UINT id) {
  // The resource holds UTF-16; the program works in code page 936 bytes, whatever the
  // system's own code page, and converts back only where a text is shown.
  wchar_t buffer[1024];
  int n = LoadStringW(Instance(), id, buffer, static_cast<int>(std::size(buffer)));
  return n > 0 ? plat::Narrow(std::wstring_view(buffer, static_cast<size_t>(n))) : std::string();
}

void CenterWindow(HWND hwnd) {
  RECT rc;
  if (!GetWindowRect(hwnd, &rc)) return;
  RECT area{};
  MONITORINFO info{};
  info.cbSize = sizeof info;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &info)) {
    area = info.rcWork;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  const int x = area.left + (area.right - area.left - w) / 2;
  const int y = area.top + (area.bottom - area.top - h) / 2;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The atom of the system's dialog class "#32770".
constexpr ULONG_PTR kDialogClassAtom = 32770;

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Swallowing the quit here would keep the program's loop running forever.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    // Keys go through the dialog manager of the window they belong to, as in a dialog's
    // own loop: Tab moves between the buttons, Esc asks to exit, Enter does nothing.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    const bool dialog = root && GetClassLongPtrW(root, GCW_ATOM) == kDialogClassAtom;
    if (dialog && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// ---- CWnd ----

CWnd::~CWnd() { Unbind(); }

CWnd* CWnd::FromHandle(HWND hwnd) {
  return hwnd ? static_cast<CWnd*>(GetPropW(hwnd, kBindingProp)) : nullptr;
}

void CWnd::Bind(HWND hwnd) {
  m_hWnd = hwnd;
  SetPropW(hwnd, kBindingProp, this);
}

void CWnd::Unbind() {
  if (m_hWnd && IsWindow(m_hWnd) && GetPropW(m_hWnd, kBindingProp) == this) RemovePropW(m_hWnd, kBindingProp);
  m_hWnd = nullptr;
}

// ---- CSubclassedWnd ----

CSubclassedWnd::~CSubclassedWnd() { Unsubclass(); }

bool CSubclassedWnd::SubclassDlgItem(UINT id, HWND dialog) { return Subclass(GetDlgItem(dialog, static_cast<int>(id))); }

bool CSubclassedWnd::Subclass(HWND hwnd) {
  if (!hwnd || m_hWnd) return false;
  if (!SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  Bind(hwnd);
  return true;
}

void CSubclassedWnd::Unsubclass() {
  if (!m_hWnd) return;
  RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
  Unbind();
}

LRESULT CSubclassedWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) { return Default(msg, wp, lp); }

LRESULT CSubclassedWnd::Default(UINT msg, WPARAM wp, LPARAM lp) { return DefSubclassProc(m_hWnd, msg, wp, lp); }

LRESULT CALLBACK CSubclassedWnd::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CSubclassedWnd*>(data);
  if (msg == WM_NCDESTROY) {
    LRESULT result = DefSubclassProc(hwnd, msg, wp, lp);
    self->Unsubclass();
    self->OnFinalDestroy();
    return result;
  }
  return self->WindowProc(msg, wp, lp);
}

// ---- CDialog ----

INT_PTR CDialog::DoModal() {
  return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(m_templateId), m_parent, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) {
  if (m_hWnd) ::EndDialog(m_hWnd, result);
}

LRESULT CDialog::DefaultHandling(UINT msg, WPARAM wp, LPARAM lp) {
  // DefDlgProc calls DialogProc again first; it must then decline this one message.
  // Only that message: others that the default handling sends on (WM_ERASEBKGND from
  // BeginPaint) still go to the dialog.
  const UINT outer = m_defaultMsg;
  const bool wasIn = m_inDefault;
  m_inDefault = true;
  m_defaultMsg = msg;
  LRESULT result = DefDlgProcW(m_hWnd, msg, wp, lp);
  m_inDefault = wasIn;
  m_defaultMsg = outer;
  return result;
}

bool CDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (msg == WM_SYSCOLORCHANGE) {
    // Only top-level windows hear of a colour change; the controls (the common
    // controls and the skinned buttons) must be told by their dialog.
    MSG change{m_hWnd, msg, wp, lp, 0, {}};
    EnumChildWindows(
        m_hWnd,
        [](HWND child, LPARAM data) -> BOOL {
          const auto* m = reinterpret_cast<const MSG*>(data);
          SendMessageW(child, WM_SYSCOLORCHANGE, m->wParam, m->lParam);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&change));
    return false;
  }
  if (msg == WM_COMMAND) {
    result = 0;
    return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
  }
  return false;
}

bool CDialog::OnCommand(UINT id, UINT, HWND) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = static_cast<CDialog*>(FromHandle(hwnd));
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lp);
    self->Bind(hwnd);
    BOOL focus = self->OnInitDialog();
    // A dialog placed at 0,0 without a placement style of its own is shown centred.
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    if (!(style & (DS_CENTER | DS_CENTERMOUSE | DS_ABSALIGN))) CenterWindow(hwnd);
    return focus;
  }
  if (!self || (self->m_inDefault && msg == self->m_defaultMsg)) return FALSE;
  INT_PTR answer = self->Route(msg, wp, lp);
  if (msg == WM_NCDESTROY) self->Unbind();
  return answer;
}

INT_PTR CDialog::Route(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (CWnd* control = FromHandle(ReflectTarget(msg, wp, lp)); control && control != this) {
    const bool handled = control->OnReflect(msg, wp, lp, result);
    // A reflected click still reaches the dialog as the control's command.
    if (handled && msg != WM_COMMAND) {
      if (AnswersDirectly(msg)) return static_cast<INT_PTR>(result);
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
      return TRUE;
    }
  }
  result = 0;
  if (!OnMessage(msg, wp, lp, result)) return FALSE;
  if (AnswersDirectly(msg)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
  return TRUE;
}

// ---- CApp ----

CApp::CApp() {
  g_app = this;
  std::string path = plat::ModuleFileName();
  size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  m_appName = dot == std::string::npos ? name : name.substr(0, dot);
}

CApp::~CApp() {
  if (g_app == this) g_app = nullptr;
}

int CApp::Run() {
  int code = 0;
  if (InitInstance()) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    code = static_cast<int>(msg.wParam);
  }
  int exitCode = ExitInstance();
  return code ? code : exitCode;
}

// ---- CToolTip ----

bool CToolTip::Create(HWND owner, int maxWidth) {
  if (m_wnd) return true;
  m_wnd.Reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                              Instance(), nullptr));
  if (!m_wnd) return false;
  SendMessageW(m_wnd.Get(), TTM_SETMAXTIPWIDTH, 0, maxWidth);
  return true;
}

namespace {
TTTOOLINFOW ToolInfo(HWND tool) {
  TTTOOLINFOW info{};
  // The old structure size is understood by every version of comctl32.
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.hwnd = tool;
  info.uId = 1;
  return info;
}
}  // namespace

void CToolTip::EnsureTool(HWND tool) {
  if (!m_wnd) return;
  TTTOOLINFOW info = ToolInfo(tool);
  if (SendMessageW(m_wnd.Get(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info))) return;
  info = ToolInfo(tool);
  info.uFlags = TTF_SUBCLASS;
  info.lpszText = const_cast<wchar_t*>(L"");
  GetClientRect(tool, &info.rect);
  SendMessageW(m_wnd.Get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTip::UpdateToolRect(HWND tool) {
  if (!m_wnd) return;
  TTTOOLINFOW info = ToolInfo(tool);
  GetClientRect(tool, &info.rect);
  SendMessageW(m_wnd.Get(), TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTip::SetText(HWND tool, const std::string& text) {
  if (!m_wnd) return;
  TTTOOLINFOW info = ToolInfo(tool);
  std::wstring wide = plat::Wide(text);
  info.lpszText = wide.data();
  SendMessageW(m_wnd.Get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void CToolTip::Activate(bool on) {
  if (m_wnd) SendMessageW(m_wnd.Get(), TTM_ACTIVATE, on ? TRUE : FALSE, 0);
}

}  // namespace win
