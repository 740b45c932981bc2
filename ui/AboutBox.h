// The About box (dialog 100), opened from the system menu.
#pragma once

#include "ui/Win32Base.h"

class CAboutBox : public win::CDialog {
 public:
  explicit CAboutBox(HWND parent);
};
