// CSkinButton: the owner-drawn push button of the skinned dialog. It shows one image
// while hot or pressed and another otherwise, with a transparent colour, a tooltip and
// no frame of its own; it can also act as a check box, open a drop-down menu or open a
// web address when clicked.
#pragma once

#include <string>

#include "ui/SkinLogic.h"
#include "ui/Win32Base.h"

class CSkinButton : public win::CSubclassedWnd {
 public:
  CSkinButton();
  ~CSkinButton() override;

  // Takes over control `id` of `dialog` and makes it owner-drawn.
  bool Attach(UINT id, HWND dialog);

  // Results of SetBitmaps besides skin::kBtnOk.
  enum : int { kFailedSize = 1, kFailedMask = 2 };
  // Loads the images from the program's resources (normalId 0: no normal image).
  int SetBitmaps(UINT hotId, skin::Color hotKey, UINT normalId, skin::Color normalKey);
  // Takes ownership of both bitmaps (normal may be null).
  int SetBitmaps(HBITMAP hot, skin::Color hotKey, HBITMAP normal, skin::Color normalKey);
  // Takes ownership of both icons (normal may be null); icons take precedence over bitmaps.
  void SetIcons(HICON hot, HICON normal);

  // Colour slots: background and text for hot (0, 1), normal (2, 3) and focused (4, 5).
  int OffsetColor(int slot, int shade, bool repaint);
  int SetColor(int slot, skin::Color color, bool repaint);
  void SetBorder(bool on, bool repaint);
  void SetFlat(bool on, bool repaint);
  void SetTransparent(bool on);
  void SetTrackWhenInactive(bool on) { m_trackInactive = on; }
  // Takes ownership of `cursor`; null restores the default.
  void SetCursor(HCURSOR cursor);
  void SetTooltipText(const std::string& text, bool activate);
  // At most 259 bytes of `address` are kept. A click opens it only when it is a web
  // address (see skin::IsWebAddress).
  void SetLink(const std::string& address);
  // Takes ownership of `menu`; its first submenu drops down on a click, and the chosen
  // command is posted to `target`.
  void SetMenu(HMENU menu, HWND target);

  bool IsHot() const { return m_hot; }

  bool OnReflect(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void OnFinalDestroy() override;

  virtual void DrawItem(const DRAWITEMSTRUCT& item);
  virtual void OnDrawBackground(HDC, const RECT&) {}
  virtual void OnDrawBorder(HDC dc, const RECT& rc, bool pressed);

 private:
  struct Image {
    win::Bitmap bitmap;
    win::Bitmap mask;
    int width = 0, height = 0;
  };
  void ReleaseImages();
  static int PrepareImage(Image& image, HBITMAP bitmap, skin::Color key);
  void DrawImage(HDC dc, const RECT& rc, bool hasCaption, bool pressed, bool disabled, RECT& captionRect);
  void DrawCaption(HDC dc, RECT rc, const std::string& caption, bool pressed, bool disabled);
  void PaintParentBackground(HDC dc);
  void LeaveHot();
  void OnMouseMove(WPARAM wp);
  void OnClicked();
  void Repaint();

  Image m_hotImage, m_normalImage;
  win::Icon m_hotIcon, m_normalIcon;
  skin::Color m_colors[skin::kColorSlots];
  bool m_flat = true;
  bool m_drawBorder = true;
  bool m_drawFlatFocus = false;
  bool m_transparent = false;
  bool m_hot = false;
  bool m_pressed = false;
  bool m_checkBox = false;
  bool m_checked = false;
  bool m_default = false;
  bool m_trackInactive = true;
  bool m_menuShown = false;
  win::Cursor m_cursor;
  win::CToolTip m_tooltip;
  win::Menu m_menu;
  HWND m_menuTarget = nullptr;
  std::string m_link;
  win::Bitmap m_backgroundCopy;
};
