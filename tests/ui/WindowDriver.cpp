#include "tests/ui/WindowDriver.h"

#include <commctrl.h>

#include <cstdint>

#include "platform/WideText.h"
#include "tests/support/ProcessRunner.h"
#include "tests/ui/PngFile.h"

namespace qvtest::gui {

namespace {

bool IsDialogClass(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return std::wstring(name) == L"#32770";
}

}  // namespace

bool CProcess::Start(const std::string& exe, const std::string& dir) {
  std::wstring line = plat::Wide("\"" + WinePath(exe) + "\"");
  const std::wstring cwd = plat::Wide(WinePath(dir));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  // Wine under load now and then fails a start with ERROR_INTERNAL_ERROR; try again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) Sleep(200);
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &m_pi)) return true;
    if (GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  return false;
}

CProcess::~CProcess() {
  if (!m_pi.hProcess) return;
  if (WaitForSingleObject(m_pi.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(m_pi.hProcess, 99);
    WaitForSingleObject(m_pi.hProcess, 5000);
  }
  CloseHandle(m_pi.hProcess);
  CloseHandle(m_pi.hThread);
}

bool CProcess::WaitExit(DWORD ms, DWORD* code) {
  if (!m_pi.hProcess || WaitForSingleObject(m_pi.hProcess, ms) != WAIT_OBJECT_0) return false;
  if (code) GetExitCodeProcess(m_pi.hProcess, code);
  return true;
}

std::vector<HWND> TopWindows(DWORD pid) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{pid, {}};
  EnumWindows(
      [](HWND w, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == s->pid && IsWindowVisible(w)) s->found.push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HasControl(HWND window, int controlId) { return GetDlgItem(window, controlId) != nullptr; }

HWND MainDialog(DWORD pid) {
  for (HWND w : TopWindows(pid))
    if (IsDialogClass(w) && HasControl(w, 1000)) return w;
  return nullptr;
}

HWND MessageBoxOf(DWORD pid) {
  for (HWND w : TopWindows(pid))
    if (IsDialogClass(w) && !HasControl(w, 1000)) return w;
  return nullptr;
}

std::string TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR copied = 0;
  // WM_GETTEXT is carried across processes; a hung window gives "". Read wide and given
  // back in code page 936, so that what is read does not depend on the system's code page.
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                           &copied))
    return "";
  return plat::Narrow(std::wstring_view(text, copied));
}

std::string MessageText(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (lstrcmpiW(name, L"Static") != 0) continue;
    text += TextOf(child);
  }
  return text;
}

HWND WaitForWindow(const std::function<HWND()>& probe, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    if (HWND w = probe()) return w;
    Sleep(50);
  } while (GetTickCount64() < end);
  return nullptr;
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    if (done()) return true;
    Sleep(50);
  } while (GetTickCount64() < end);
  return false;
}

void Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void PressKey(HWND dialog, UINT vk) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus) target = info.hwndFocus;
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

int ProgressPos(HWND dialog, int id) {
  HWND bar = GetDlgItem(dialog, id);
  DWORD_PTR pos = 0;
  if (!bar || !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos)) return -1;
  return static_cast<int>(pos);
}

void HoverOver(HWND dialog, int id) {
  RECT r{};
  if (HWND control = GetDlgItem(dialog, id)) GetWindowRect(control, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

bool CaptureWindow(HWND window, int& w, int& h, std::vector<uint32_t>& pixels) {
  RECT r{};
  if (!GetWindowRect(window, &r)) return false;
  w = r.right - r.left;
  h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bitmap);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  SelectObject(mem, old);

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  const int rows = GetDIBits(mem, bitmap, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return rows == h;
}

bool SaveScreenshot(HWND window, const std::string& path) {
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
  if (!CaptureWindow(window, w, h, pixels)) return false;

  HRGN region = CreateRectRgn(0, 0, 0, 0);
  const bool shaped = GetWindowRgn(window, region) != ERROR;
  std::vector<uint8_t> rgba(pixels.size() * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      const uint32_t p = pixels[i];
      rgba[i * 4 + 0] = static_cast<uint8_t>(p >> 16);
      rgba[i * 4 + 1] = static_cast<uint8_t>(p >> 8);
      rgba[i * 4 + 2] = static_cast<uint8_t>(p);
      rgba[i * 4 + 3] = !shaped || PtInRegion(region, x, y) ? 255 : 0;
    }
  }
  DeleteObject(region);
  return WritePng(path, w, h, rgba);
}

}  // namespace qvtest::gui
