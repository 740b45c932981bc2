// The main dialog's message handling and its side of the update run: message boxes,
// the message drain, repainting, the text lines and the progress bar.
#include "ui/UpdateDialog.h"

#include "app/Texts.h"
#include "ui/AboutBox.h"

namespace {

constexpr RECT kCounterArea{338, 200, 438, 220};
constexpr RECT kStatusArea{240, 200, 480, 220};
constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

}  // namespace

LRESULT CBackdrop::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = Default(msg, wp, lp);
  if (msg == WM_PAINT && m_painter) {
    win::WindowDC dc(m_hWnd);
    if (dc) m_painter(m_owner, dc.Get());
  }
  return result;
}

CUpdateDialog::CUpdateDialog(HWND parent) : win::CDialog(IDD_UPDATE, parent), m_run(*this) {
  m_hIcon = LoadIconW(win::Instance(), MAKEINTRESOURCEW(IDI_PROGRAM));
}

CUpdateDialog::~CUpdateDialog() = default;

// ---- IUpdateWindow ----

int CUpdateDialog::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  HWND owner = (flags & plat::kMbNoOwner) ? nullptr : m_hWnd && IsWindow(m_hWnd) ? m_hWnd : GetActiveWindow();
  const std::wstring wideCaption = plat::Wide(caption);
  return MessageBoxW(owner, plat::Wide(text).c_str(), caption.empty() ? nullptr : wideCaption.c_str(),
                     flags & ~plat::kMbNoOwner);
}

void CUpdateDialog::DrainMessages() { win::PumpMessages(); }

void CUpdateDialog::Repaint() {
  if (m_hWnd) RedrawWindow(m_hWnd, nullptr, nullptr, kRedrawNow | RDW_ALLCHILDREN);
}

void CUpdateDialog::PaintNow() {
  if (m_hWnd) SendMessageW(m_hWnd, WM_PAINT, 0, 0);
}

void CUpdateDialog::PaintTextLines(const std::string& version, const std::string& text, EraseArea area) {
  if (!m_hWnd) return;
  m_shownVersion = version;
  if (m_progress && text != m_shownText) {
    // The status line is painted, not a control; it is also the progress bar's name, so
    // that screen readers (and the tests' window driver) can read what the run is doing.
    SetWindowTextW(m_progress, plat::Wide(text).c_str());
  }
  m_shownText = text;
  if (area != EraseArea::None && m_background.Hwnd()) {
    // The picture control lies at 0,0, so client coordinates are the same for both.
    RECT rc = area == EraseArea::Counter ? kCounterArea : kStatusArea;
    if (area == EraseArea::Counter) rc.left = CounterLeft(text);
    RedrawWindow(m_background.Hwnd(), &rc, nullptr, kRedrawNow);
  }
  win::WindowDC dc(m_hWnd);
  if (dc) DrawTextLines(dc.Get());
}

void CUpdateDialog::SetProgress(int position) {
  if (m_progress) SendMessageW(m_progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CUpdateDialog::Close() {
  if (m_hWnd) SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

// ---- messages ----

bool CUpdateDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_ERASEBKGND:
      // The picture control covers the whole window; erasing under it only flickers.
      if (!m_bmpBackground) return false;
      result = TRUE;
      return true;
    case WM_SYSCOMMAND:
      return OnSysCommand(static_cast<UINT>(wp), lp);
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<LRESULT>(m_hIcon);
      return true;
    case WM_LBUTTONDOWN: {
      result = DefaultHandling(msg, wp, lp);
      // A press anywhere on the picture drags the window, as a caption would.
      POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      ClientToScreen(m_hWnd, &pt);
      PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
      return true;
    }
    case WM_CLOSE:
      g_bAbort = true;
      EndDialog(IDCANCEL);
      return true;
    case WM_DESTROY: {
      // The picture control may hold a copy of the bitmap of its own; that copy is ours to free.
      if (HWND bg = m_background.Hwnd()) {
        auto shown = reinterpret_cast<HBITMAP>(SendMessageW(bg, STM_SETIMAGE, IMAGE_BITMAP, 0));
        if (shown && shown != m_bmpBackground.Get()) DeleteObject(shown);
      }
      return false;
    }
    default:
      return win::CDialog::OnMessage(msg, wp, lp, result);
  }
}

bool CUpdateDialog::OnCommand(UINT id, UINT code, HWND control) {
  if (id == IDC_UPDATE) {
    m_run.OnUpdate();
    return true;
  }
  return win::CDialog::OnCommand(id, code, control);
}

void CUpdateDialog::OnCancel() {
  Repaint();
  // Asked also when no run is under way: the player may have pressed Exit by mistake.
  const int answer =
      MessageBox(win::LoadStr(texts::kTextAskExit), win::LoadStr(texts::kTextCaption), MB_YESNO | MB_ICONINFORMATION);
  if (answer == IDYES) {
    g_bAbort = true;
    EndDialog(IDCANCEL);
  }
}

bool CUpdateDialog::OnSysCommand(UINT command, LPARAM) {
  if ((command & 0xFFF0) != IDM_ABOUT) return false;
  CAboutBox about(m_hWnd);
  about.DoModal();
  return true;
}
