// What the update run needs of its window. The Win32 dialog implements it with
// RedrawWindow, GDI text, the progress control and MessageBoxA; the console updater
// with a status line and a bar on the terminal; tests with a scripted window that
// records every call.
#pragma once

#include <string>

#include "platform/Platform.h"

// The part of the status area to erase before the text lines are painted again.
enum class EraseArea {
  None,     // draw over what is there
  Counter,  // the counter digits of the progress text (338,200)-(438,220)
  Status,   // the whole status line (240,200)-(480,220)
};

class IUpdateWindow : public plat::IMessageUi {
 public:
  // Invalidates, erases and repaints the whole window at once.
  virtual void Repaint() = 0;
  // Has the window paint itself now (WM_PAINT): the status line and the version line.
  virtual void PaintNow() = 0;
  // Paints the version line at (25,25) and `text` at (240,200) in white, after erasing
  // `area` of the background.
  virtual void PaintTextLines(const std::string& version, const std::string& text, EraseArea area) = 0;
  // The progress bar position, 0..100 (a larger value shows a full bar).
  virtual void SetProgress(int position) = 0;
  // Asks the window to close (WM_CLOSE): that sets the abort flag and ends the program.
  virtual void Close() = 0;
};
