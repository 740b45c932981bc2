// The skin of the main dialog: its set-up, the window outline cut from the background
// picture, the painting of the text lines and of the minimised icon.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <vector>

#include "app/Texts.h"
#include "io/FileStream.h"
#include "platform/PathText.h"
#include "ui/SkinLogic.h"
#include "ui/UpdateDialog.h"

namespace {

constexpr int kWidth = 588, kHeight = 455;
constexpr int kButtonTop = 390, kButtonWidth = 99, kButtonHeight = 33;
constexpr int kVersionBuffer = 256;
constexpr int kCounterLeft = 338, kStatusLeft = 240;


std::string FormatText(const std::string& format, const char* value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format.c_str(), value);
  return buffer;
}

}  // namespace

BOOL CUpdateDialog::OnInitDialog() {
  std::setlocale(LC_CTYPE, "chs");
  win::CDialog::OnInitDialog();

  SetWindowPos(m_hWnd, nullptr, 0, 0, kWidth, kHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT window;
  GetWindowRect(m_hWnd, &window);
  m_background.Subclass(GetDlgItem(m_hWnd, IDC_BACKGROUND));
  m_background.SetPainter(&CUpdateDialog::PaintBackdropLines, this);
  if (HWND bg = m_background.Hwnd()) {
    MoveWindow(bg, 0, 0, window.right - window.left, window.bottom - window.top, FALSE);
  }
  BuildWindowRegion();
  m_progress = GetDlgItem(m_hWnd, IDC_PROGRESS);
  if (m_progress) MoveWindow(m_progress, 118, 270, 354, 16, TRUE);

  const std::string about = win::LoadStr(texts::kTextAbout);
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE); menu && !about.empty()) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUT, plat::Wide(about).c_str());
  }

  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  m_smallIcon.Reset(static_cast<HICON>(LoadImageW(win::Instance(), MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(m_smallIcon ? m_smallIcon.Get() : m_hIcon));
  SetWindowTextW(m_hWnd, plat::Wide(win::LoadStr(texts::kTextTitle)).c_str());

  m_run.m_bRepaintText = false;
  m_run.m_bBusy = false;
  m_run.m_bRunLog = false;
  m_run.m_nFileCount = 0;
  Repaint();

  MessageBox(win::LoadStr(texts::kTextCloseTheGame), win::LoadStr(texts::kTextCaption), MB_OK | MB_ICONINFORMATION);

  m_run.LogRun("开始设置“背景”");
  m_bmpBackground.Reset(LoadBitmapW(win::Instance(), MAKEINTRESOURCEW(IDB_BACKGROUND)));
  if (m_bmpBackground && m_background.Hwnd()) {
    SendMessageW(m_background.Hwnd(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_bmpBackground.Get()));
  }
  m_run.LogRun("“背景”设置完成");

  m_run.LogRun("\n开始设置“更新”");
  SetUpButton(m_btnUpdate, IDC_UPDATE, IDB_UPDATE_HOT, IDB_UPDATE, texts::kTextUpdate, 133);
  m_run.LogRun("“更新”设置完成");
  m_run.LogRun("\n开始设置“退出”");
  SetUpButton(m_btnExit, IDCANCEL, IDB_EXIT_HOT, IDB_EXIT, texts::kTextExit, 357);
  m_run.LogRun("“退出”设置完成");

  m_run.LogRun("开始设置背景");
  m_run.LogRun("\n开始设置进度条信息");
  if (m_progress) SendMessageW(m_progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  m_run.LogRun("进度条信息设置完成");
  m_run.LogRun("\n开始设置输出文字的字体");
  m_run.LogRun("输出文字字体的设置完成");

  m_run.LogRun("\n开始设置文件进度信息");
  m_run.m_strStatus = win::LoadStr(texts::kTextNoProgress);
  m_run.LogRun("文件进度信息设置完成");

  ReadVersionLine();
  m_run.LogRun("版本信息( 从文件CVer.txt中读取 )设置完成");
  return TRUE;
}

void CUpdateDialog::SetUpButton(CSkinButton& button, UINT id, UINT hotId, UINT normalId, int tooltipId, int x) {
  if (!button.Attach(id, m_hWnd)) return;
  button.SetBitmaps(hotId, skin::kMagenta, normalId, skin::kMagenta);
  button.OffsetColor(0, 30, true);
  button.SetTooltipText(win::LoadStr(static_cast<UINT>(tooltipId)), true);
  button.SetBorder(false, true);
  MoveWindow(button.Hwnd(), x, kButtonTop, kButtonWidth, kButtonHeight, TRUE);
}

void CUpdateDialog::ReadVersionLine() {
  m_run.LogRun("\n开始设置版本信息( 从文件CVer.txt中读取 )");
  m_strGameDir = plat::ModuleFolder();
  m_run.LogRun("%s", m_strGameDir.c_str());
  const std::string path = m_strGameDir + "\\CVer.txt";
  m_run.LogRun("%s", path.c_str());

  // Opened only to learn whether the file is there; the profile reader reads it itself.
  UniqueFile file(plat::OpenFile(path, "r"));
  if (!file) {
    m_run.LogRun("当前目录中找不到版本信息文件CVer.txt! ， 不显示版本号！");
    m_run.LogRun("当前版本：未知");
    m_run.m_strVersion = win::LoadStr(texts::kTextVersionUnknown);
    return;
  }
  // Read more than is shown so that the cut keeps double-byte characters whole.
  char value[kVersionBuffer] = {};
  plat::GetProfileString("Ver", "CurVer", "", value, sizeof value, path);
  m_run.m_strVersion = FormatText(win::LoadStr(texts::kTextVersion), skin::ClampVersion(value).c_str());
  m_run.LogRun("%s", m_run.m_strVersion.c_str());
}

void CUpdateDialog::BuildWindowRegion() {
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int w = client.right, h = client.bottom;

  win::Bitmap bitmap(LoadBitmapW(win::Instance(), MAKEINTRESOURCEW(IDB_BACKGROUND)));
  BITMAP info{};
  std::vector<skin::Color> pixels;
  if (bitmap && GetObjectW(bitmap.Get(), sizeof info, &info)) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = info.bmWidth;
    bi.bmiHeader.biHeight = -info.bmHeight;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    pixels.resize(static_cast<size_t>(info.bmWidth) * static_cast<size_t>(info.bmHeight));
    win::WindowDC dc(m_hWnd);
    if (!dc || GetDIBits(dc.Get(), bitmap.Get(), 0, static_cast<UINT>(info.bmHeight), pixels.data(), &bi,
                         DIB_RGB_COLORS) != info.bmHeight) {
      pixels.clear();
    }
  }
  const int bw = pixels.empty() ? 0 : info.bmWidth, bh = pixels.empty() ? 0 : info.bmHeight;

  // DIB pixels are 0x00RRGGBB; the scan compares with the key in COLORREF order.
  for (auto& p : pixels) p = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);

  // The kept runs of every row, made into one region in a single call.
  std::vector<RECT> rects;
  for (int y = 0; y < h; ++y) {
    const skin::Color* row = y < bh ? pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(bw) : nullptr;
    for (const skin::Run& run : skin::OpaqueRuns(row, y < bh ? bw : 0, w)) {
      rects.push_back(RECT{run.x, y, run.x + run.length, y + 1});
    }
  }
  std::vector<BYTE> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
  auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
  header->dwSize = sizeof(RGNDATAHEADER);
  header->iType = RDH_RECTANGLES;
  header->nCount = static_cast<DWORD>(rects.size());
  header->rcBound = RECT{0, 0, w, h};
  if (!rects.empty()) std::memcpy(data.data() + sizeof(RGNDATAHEADER), rects.data(), rects.size() * sizeof(RECT));
  m_rgnWindow.Reset(ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data())));
  if (!m_rgnWindow) m_rgnWindow.Reset(CreateRectRgn(0, 0, w, h));
  // The window owns the region from now on and deletes it itself.
  if (m_rgnWindow && SetWindowRgn(m_hWnd, m_rgnWindow.Get(), TRUE)) m_rgnWindow.Release();
}

void CUpdateDialog::OnPaint() {
  if (IsIconic(m_hWnd)) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (rc.right - cx + 1) / 2, (rc.bottom - cy + 1) / 2, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return;
  }
  m_run.DrawProgressText(m_run.m_strStatus);
  DefaultHandling(WM_PAINT, 0, 0);
}

HFONT CUpdateDialog::TextFont() const {
  // Made once: the text lines are painted for every file of a run.
  if (m_textFont) return m_textFont.Get();
  LOGFONTW lf{};
  auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  if (!dialogFont || !GetObjectW(dialogFont, sizeof lf, &lf)) lf = LOGFONTW{};
  lf.lfHeight = 14;
  lf.lfCharSet = GB2312_CHARSET;
  const std::wstring face = plat::Wide(win::LoadStr(texts::kTextFont));
  std::swprintf(lf.lfFaceName, std::size(lf.lfFaceName), L"%ls", face.c_str());
  m_textFont.Reset(CreateFontIndirectW(&lf));
  return m_textFont.Get();
}

int CUpdateDialog::CounterLeft(const std::string& text) const {
  // With the dialog's font "宋体" at 14 pixels the counter digits begin at 338. With
  // another font (a Windows without it) they begin elsewhere, and erasing from 338 would
  // leave the old digits under the new ones; erase from where they really begin.
  const size_t digits = text.find_first_of("0123456789");
  win::WindowDC dc(m_hWnd);
  if (!dc || digits == std::string::npos) return kCounterLeft;
  win::SelectIn select(dc.Get(), TextFont());
  SIZE size{};
  const std::wstring before = plat::Wide(std::string_view(text).substr(0, digits));
  if (!GetTextExtentPoint32W(dc.Get(), before.c_str(), static_cast<int>(before.size()), &size)) return kCounterLeft;
  return std::min(kCounterLeft, kStatusLeft + static_cast<int>(size.cx));
}

void CUpdateDialog::DrawTextLines(HDC dc) const {
  win::SelectIn select(dc, TextFont());
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  const std::wstring version = plat::Wide(m_shownVersion), text = plat::Wide(m_shownText);
  TextOutW(dc, 25, 25, version.c_str(), static_cast<int>(version.size()));
  TextOutW(dc, 240, 200, text.c_str(), static_cast<int>(text.size()));
}

void CUpdateDialog::PaintBackdropLines(void* self, HDC dc) {
  static_cast<CUpdateDialog*>(self)->DrawTextLines(dc);
}
