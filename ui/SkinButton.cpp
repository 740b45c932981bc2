// The owner-drawn bitmap button of the skinned dialog.
#include "ui/SkinButton.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace {

constexpr int kTooltipWidth = 400;

void FillSolid(HDC dc, const RECT& rc, COLORREF color) {
  COLORREF old = SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

}  // namespace

CSkinButton::CSkinButton() {
  for (int i = 0; i < skin::kColorSlots; ++i) {
    m_colors[i] = (i % 2 == 0) ? GetSysColor(COLOR_BTNFACE) : GetSysColor(COLOR_BTNTEXT);
  }
}

CSkinButton::~CSkinButton() = default;

bool CSkinButton::Attach(UINT id, HWND dialog) {
  if (!SubclassDlgItem(id, dialog)) return false;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE));
  const DWORD type = style & BS_TYPEMASK;
  m_checkBox = skin::IsCheckBoxType(type);
  m_default = type == BS_DEFPUSHBUTTON;
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>((style & ~static_cast<DWORD>(BS_TYPEMASK)) | BS_OWNERDRAW));
  SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return true;
}

void CSkinButton::OnFinalDestroy() {
  // The window is gone: let go of everything it used.
  ReleaseImages();
  m_cursor.Reset();
  m_tooltip.Destroy();
  m_menu.Reset();
  m_backgroundCopy.Reset();
}

// ---- images ----

void CSkinButton::ReleaseImages() {
  m_hotImage = Image{};
  m_normalImage = Image{};
  m_hotIcon.Reset();
  m_normalIcon.Reset();
}

int CSkinButton::SetBitmaps(UINT hotId, skin::Color hotKey, UINT normalId, skin::Color normalKey) {
  HINSTANCE instance = win::Instance();
  HBITMAP hot = LoadBitmapW(instance, MAKEINTRESOURCEW(hotId));
  HBITMAP normal = normalId ? LoadBitmapW(instance, MAKEINTRESOURCEW(normalId)) : nullptr;
  return SetBitmaps(hot, hotKey, normal, normalKey);
}

int CSkinButton::PrepareImage(Image& image, HBITMAP bitmap, skin::Color key) {
  image.bitmap.Reset(bitmap);
  BITMAP info{};
  if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return kFailedSize;
  image.width = info.bmWidth;
  image.height = info.bmHeight;
  const int w = image.width, h = image.height;

  // The mask is made from the pixels themselves: a colour-to-monochrome copy would also
  // compare the alpha byte on some systems and then find no key pixel at all.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down rows
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
  win::WindowDC screen(nullptr);
  if (!screen || GetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS) != h) {
    return kFailedMask;
  }
  const uint32_t dibKey = (static_cast<uint32_t>(skin::Red(key)) << 16) | (static_cast<uint32_t>(skin::Green(key)) << 8) |
                          static_cast<uint32_t>(skin::Blue(key));
  const size_t stride = static_cast<size_t>((w + 15) / 16) * 2;  // monochrome rows are WORD-aligned
  std::vector<BYTE> bits(stride * static_cast<size_t>(h), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t& p = pixels[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
      if ((p & 0xFFFFFF) != dibKey) continue;
      // Key pixels: 1 (white) in the mask, black in the image, so that OR-ing the
      // image over the masked background leaves the background there.
      bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x / 8)] |= static_cast<BYTE>(0x80 >> (x % 8));
      p = 0;
    }
  }
  image.mask.Reset(CreateBitmap(w, h, 1, 1, bits.data()));
  if (!image.mask) return kFailedMask;
  if (SetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS) != h) {
    return kFailedMask;
  }
  return skin::kBtnOk;
}

int CSkinButton::SetBitmaps(HBITMAP hot, skin::Color hotKey, HBITMAP normal, skin::Color normalKey) {
  ReleaseImages();
  int result = skin::kBtnOk;
  if (hot) result = PrepareImage(m_hotImage, hot, hotKey);
  if (result == skin::kBtnOk && normal) {
    result = PrepareImage(m_normalImage, normal, normalKey);
  } else if (normal && result != skin::kBtnOk) {
    DeleteObject(normal);
  }
  if (result != skin::kBtnOk) ReleaseImages();
  Repaint();
  return result;
}

void CSkinButton::SetIcons(HICON hot, HICON normal) {
  m_hotIcon.Reset(hot);
  m_normalIcon.Reset(normal);
  Repaint();
}

// ---- settings ----

int CSkinButton::OffsetColor(int slot, int shade, bool repaint) {
  const int result = skin::OffsetColor(m_colors, slot, shade);
  if (result != skin::kBtnOk) return result;
  if (repaint) Repaint();
  return skin::kBtnOk;
}

int CSkinButton::SetColor(int slot, skin::Color color, bool repaint) {
  if (slot < 0 || slot >= skin::kColorSlots) return skin::kBtnInvalidIndex;
  m_colors[slot] = color;
  if (repaint) Repaint();
  return skin::kBtnOk;
}

void CSkinButton::SetBorder(bool on, bool repaint) {
  m_drawBorder = on;
  if (repaint) Repaint();
}

void CSkinButton::SetFlat(bool on, bool repaint) {
  m_flat = on;
  if (repaint) Repaint();
}

void CSkinButton::SetTransparent(bool on) {
  m_transparent = on;
  m_backgroundCopy.Reset();
}

void CSkinButton::SetCursor(HCURSOR cursor) { m_cursor.Reset(cursor); }

void CSkinButton::SetTooltipText(const std::string& text, bool activate) {
  if (!m_hWnd) return;
  if (!m_tooltip.Create(m_hWnd, kTooltipWidth)) return;
  m_tooltip.EnsureTool(m_hWnd);
  m_tooltip.SetText(m_hWnd, text);
  m_tooltip.Activate(activate);
}

void CSkinButton::SetLink(const std::string& address) { m_link = skin::ClampText(address, skin::kMaxLinkBytes); }

void CSkinButton::SetMenu(HMENU menu, HWND target) {
  m_menu.Reset(menu);
  m_menuTarget = target;
}

void CSkinButton::Repaint() {
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
}

// ---- messages ----

bool CSkinButton::OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
      result = TRUE;
      return true;
    case WM_CTLCOLORBTN:
      // Nothing painted under the image: the dialog's own background shows through.
      result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
      return true;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) OnClicked();
      return false;
    default:
      return false;
  }
}

LRESULT CSkinButton::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEMOVE:
      OnMouseMove(wp);
      break;
    case WM_MOUSELEAVE:
    case WM_CANCELMODE:
      LeaveHot();
      break;
    case WM_KILLFOCUS:
      LeaveHot();
      break;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) LeaveHot();
      break;
    case WM_ENABLE:
      if (!wp) {
        LeaveHot();
        // A disabled button cannot keep the focus; hand it on. A button without the
        // focus leaves it where it is: taking it would also activate the dialog.
        if (::GetFocus() == m_hWnd) {
          HWND parent = GetParent(m_hWnd);
          HWND next = parent ? GetNextDlgTabItem(parent, m_hWnd, FALSE) : nullptr;
          ::SetFocus(next && next != m_hWnd ? next : parent);
        }
      }
      break;
    case WM_SIZE:
      // The tooltip's tool is the client rectangle: it must grow and shrink with it.
      m_tooltip.UpdateToolRect(m_hWnd);
      break;
    case WM_SETCURSOR:
      if (m_cursor) {
        ::SetCursor(m_cursor.Get());
        return TRUE;
      }
      break;
    case WM_LBUTTONDBLCLK:
      // Two quick clicks are two clicks.
      return Default(WM_LBUTTONDOWN, wp, lp);
    case WM_GETDLGCODE:
      return DLGC_BUTTON | (m_default ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case BM_SETSTYLE:
      // The dialog manager moves the default style around; the button stays owner-drawn.
      return Default(msg, (wp & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW, lp);
    case BM_SETCHECK:
      if (m_checkBox) {
        m_checked = wp == BST_CHECKED;
        Repaint();
      }
      return 0;
    case BM_GETCHECK:
      return m_checkBox && m_checked ? BST_CHECKED : BST_UNCHECKED;
    case WM_SYSCOLORCHANGE:
      m_backgroundCopy.Reset();
      Repaint();
      break;
    default:
      break;
  }
  return Default(msg, wp, lp);
}

void CSkinButton::OnMouseMove(WPARAM wp) {
  if (!m_flat) return;
  if ((wp & MK_LBUTTON) && !m_hot) return;
  POINT pt;
  GetCursorPos(&pt);
  const bool over = WindowFromPoint(pt) == m_hWnd;
  const bool active = GetActiveWindow() != nullptr || m_trackInactive;
  if (over && active) {
    if (m_hot) return;
    m_hot = true;
    Repaint();
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = m_hWnd;
    TrackMouseEvent(&track);
  } else {
    LeaveHot();
  }
}

void CSkinButton::LeaveHot() {
  if (m_flat && m_hot) {
    m_hot = false;
    Repaint();
  }
}

void CSkinButton::OnClicked() {
  ::SetFocus(m_hWnd);
  if (m_checkBox) {
    m_checked = !m_checked;
    Repaint();
  } else if (m_menu) {
    m_menuShown = true;
    Repaint();
    UpdateWindow(m_hWnd);
    RECT rc;
    GetWindowRect(m_hWnd, &rc);
    HMENU popup = GetSubMenu(m_menu.Get(), 0);
    const UINT flags = TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD;
    const BOOL command = popup ? TrackPopupMenuEx(popup, flags, rc.left, rc.bottom, m_hWnd, nullptr) : 0;
    m_menuShown = false;
    Repaint();
    if (command && m_menuTarget) PostMessageW(m_menuTarget, WM_COMMAND, MAKEWPARAM(command, 0), 0);
  } else if (skin::IsWebAddress(m_link)) {
    const std::wstring link = plat::Wide(m_link);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = m_hWnd;
    info.lpVerb = L"open";
    info.lpFile = link.c_str();
    info.nShow = SW_SHOWMAXIMIZED;
    ShellExecuteExW(&info);
  }
}

// ---- drawing ----

void CSkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  m_pressed = skin::IsDrawnPressed(selected, m_checked, m_menuShown, m_checkBox);
  const bool focus = (item.itemState & ODS_FOCUS) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  SetBkMode(dc, TRANSPARENT);

  RECT rc = item.rcItem;
  if (!m_flat && (focus || m_default)) {
    FrameRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&rc, -1, -1);
  }

  if (m_transparent) {
    PaintParentBackground(dc);
  } else {
    OnDrawBackground(dc, rc);
  }

  if (!m_pressed) {
    if (!m_flat) {
      DrawEdge(dc, &rc, EDGE_RAISED, BF_RECT);
    } else if (m_hot && m_drawBorder) {
      OnDrawBorder(dc, rc, false);
    }
  } else if (!m_flat) {
    HBRUSH shadow = GetSysColorBrush(COLOR_BTNSHADOW);
    FrameRect(dc, &rc, shadow);
  } else if (m_drawBorder) {
    OnDrawBorder(dc, rc, true);
  }

  wchar_t text[256] = {};
  const int length = GetWindowTextW(m_hWnd, text, static_cast<int>(std::size(text)));
  const std::string caption = plat::Narrow(std::wstring_view(text, length > 0 ? static_cast<size_t>(length) : 0));
  RECT captionRect = item.rcItem;
  DrawImage(dc, item.rcItem, !caption.empty(), m_pressed, disabled, captionRect);
  if (!caption.empty()) DrawCaption(dc, captionRect, caption, m_pressed, disabled);

  if (focus && (!m_flat || m_drawFlatFocus)) {
    RECT focusRect = item.rcItem;
    InflateRect(&focusRect, -3, -3);
    DrawFocusRect(dc, &focusRect);
  }
}

void CSkinButton::OnDrawBorder(HDC dc, const RECT& rc, bool pressed) {
  const COLORREF light = GetSysColor(COLOR_BTNHILIGHT), dark = GetSysColor(COLOR_BTNSHADOW);
  const COLORREF topLeft = pressed ? dark : light, bottomRight = pressed ? light : dark;
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  FillSolid(dc, RECT{rc.left, rc.top, rc.left + w - 1, rc.top + 1}, topLeft);
  FillSolid(dc, RECT{rc.left, rc.top, rc.left + 1, rc.top + h - 1}, topLeft);
  FillSolid(dc, RECT{rc.left + w - 1, rc.top, rc.right, rc.bottom}, bottomRight);
  FillSolid(dc, RECT{rc.left, rc.top + h - 1, rc.right, rc.bottom}, bottomRight);
}

void CSkinButton::DrawImage(HDC dc, const RECT& rc, bool hasCaption, bool pressed, bool disabled,
                            RECT& captionRect) {
  const bool useIcons = static_cast<bool>(m_hotIcon);
  skin::ButtonState state;
  state.pressed = pressed;
  state.hot = m_hot;
  state.checkBox = m_checkBox;
  state.hasHot = useIcons || static_cast<bool>(m_hotImage.bitmap);
  state.hasNormal = useIcons ? static_cast<bool>(m_normalIcon) : static_cast<bool>(m_normalImage.bitmap);
  const skin::ButtonImage choice = skin::ChooseImage(state);
  if (choice == skin::ButtonImage::None) return;

  const Image& image = choice == skin::ButtonImage::Hot ? m_hotImage : m_normalImage;
  int w = image.width, h = image.height;
  HICON icon = nullptr;
  if (useIcons) {
    icon = choice == skin::ButtonImage::Hot ? m_hotIcon.Get() : m_normalIcon.Get();
    ICONINFO info{};
    if (GetIconInfo(icon, &info)) {
      BITMAP bm{};
      GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
      w = bm.bmWidth;
      h = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
      if (info.hbmColor) DeleteObject(info.hbmColor);
      if (info.hbmMask) DeleteObject(info.hbmMask);
    }
  }

  int x = rc.left + (rc.right - rc.left - w) / 2;
  int y = rc.top + (rc.bottom - rc.top - h) / 2;
  if (hasCaption) {
    x = rc.left + 3;
    captionRect.left = x + w;
  }
  if (pressed && !m_checkBox) {
    ++x;
    ++y;
  }

  if (icon) {
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, w, h,
               DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    return;
  }
  if (disabled) {
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(image.bitmap.Get()), 0, x, y, w, h,
               DST_BITMAP | DSS_DISABLED);
    return;
  }
  win::MemoryDC memory(CreateCompatibleDC(dc));
  if (!memory) return;
  // The mask clears the image's pixels out of the background; the image, black where
  // it is transparent, is then OR-ed in.
  const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
  const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
  {
    win::SelectIn sel(memory.Get(), image.mask.Get());
    BitBlt(dc, x, y, w, h, memory.Get(), 0, 0, SRCAND);
  }
  SetBkColor(dc, oldBk);
  SetTextColor(dc, oldText);
  win::SelectIn sel(memory.Get(), image.bitmap.Get());
  BitBlt(dc, x, y, w, h, memory.Get(), 0, 0, SRCPAINT);
}

void CSkinButton::DrawCaption(HDC dc, RECT rc, const std::string& caption, bool pressed, bool disabled) {
  if (pressed && !m_checkBox) OffsetRect(&rc, 1, 1);
  const UINT format = DT_SINGLELINE | DT_CENTER | DT_VCENTER;
  const std::wstring wide = plat::Wide(caption);
  if (disabled) {
    RECT shifted = rc;
    OffsetRect(&shifted, 1, 1);
    SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
    DrawTextW(dc, wide.c_str(), -1, &shifted, format);
    SetTextColor(dc, GetSysColor(COLOR_3DSHADOW));
    DrawTextW(dc, wide.c_str(), -1, &rc, format);
    return;
  }
  const bool lit = m_hot || pressed;
  SetTextColor(dc, m_colors[lit ? 1 : 3]);
  DrawTextW(dc, wide.c_str(), -1, &rc, format);
}

void CSkinButton::PaintParentBackground(HDC dc) {
  RECT client, window;
  GetClientRect(m_hWnd, &client);
  GetWindowRect(m_hWnd, &window);
  HWND parent = GetParent(m_hWnd);
  if (!parent) return;
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&window), 2);
  const int w = client.right, h = client.bottom;
  win::MemoryDC memory(CreateCompatibleDC(dc));
  if (!memory) return;
  if (!m_backgroundCopy) {
    win::WindowDC parentDc(parent);
    m_backgroundCopy.Reset(CreateCompatibleBitmap(parentDc.Get(), w, h));
    if (!m_backgroundCopy) return;
    win::SelectIn sel(memory.Get(), m_backgroundCopy.Get());
    BitBlt(memory.Get(), 0, 0, w, h, parentDc.Get(), window.left, window.top, SRCCOPY);
  }
  win::SelectIn sel(memory.Get(), m_backgroundCopy.Get());
  BitBlt(dc, 0, 0, w, h, memory.Get(), 0, 0, SRCCOPY);
}
