// The updater's main window: the skinned dialog 102 that shows the run's progress and
// hosts the update run (CUpdateDlg), for which it is the IUpdateWindow.
#pragma once

#include <string>

#include "app/UpdateDlg.h"
#include "ui/SkinButton.h"
#include "ui/Win32Base.h"

// Control and command ids of dialog 102 and its system menu.
enum : UINT {
  IDD_UPDATE = 102,
  IDD_ABOUT = 100,
  IDC_PROGRESS = 1000,
  IDC_UPDATE = 1001,
  IDC_BACKGROUND = 1004,
  IDM_ABOUT = 0x10,
  IDB_UPDATE_HOT = 129,
  IDB_UPDATE = 130,
  IDB_EXIT_HOT = 131,
  IDB_EXIT = 132,
  IDB_BACKGROUND = 133,
  IDI_PROGRAM = 134,
};

// The background picture control. It paints the two text lines again after itself,
// because as the topmost child it would otherwise cover what the dialog drew.
class CBackdrop : public win::CSubclassedWnd {
 public:
  using Painter = void (*)(void* owner, HDC dc);
  void SetPainter(Painter painter, void* owner) {
    m_painter = painter;
    m_owner = owner;
  }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  Painter m_painter = nullptr;
  void* m_owner = nullptr;
};

class CUpdateDialog : public win::CDialog, public IUpdateWindow {
 public:
  explicit CUpdateDialog(HWND parent = nullptr);
  ~CUpdateDialog() override;

  // ---- IUpdateWindow ----
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void DrainMessages() override;
  void Repaint() override;
  void PaintNow() override;
  void PaintTextLines(const std::string& version, const std::string& text, EraseArea area) override;
  void SetProgress(int position) override;
  void Close() override;

  CUpdateDlg& Run() { return m_run; }

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  bool OnCommand(UINT id, UINT code, HWND control) override;
  void OnCancel() override;
  void OnOK() override {}

  void BuildWindowRegion();
  void OnPaint();
  bool OnSysCommand(UINT command, LPARAM param);

 private:
  void SetUpButton(CSkinButton& button, UINT id, UINT hotId, UINT normalId, int tooltipId, int x);
  void ReadVersionLine();
  void DrawTextLines(HDC dc) const;
  HFONT TextFont() const;
  int CounterLeft(const std::string& text) const;
  static void PaintBackdropLines(void* self, HDC dc);

  CUpdateDlg m_run;
  std::string m_strGameDir;
  win::Region m_rgnWindow;
  CSkinButton m_btnExit;
  CSkinButton m_btnUpdate;
  CBackdrop m_background;
  HWND m_progress = nullptr;
  HICON m_hIcon = nullptr;  // shared resource icon, never destroyed
  win::Icon m_smallIcon;
  win::Bitmap m_bmpBackground;
  // What the text lines showed last, for the picture control to paint again.
  std::string m_shownVersion, m_shownText;
  mutable win::Font m_textFont;  // the text lines' font, made on first use
};
