// The About box: the template carries everything it shows.
#include "ui/AboutBox.h"

#include "ui/UpdateDialog.h"

CAboutBox::CAboutBox(HWND parent) : win::CDialog(IDD_ABOUT, parent) {}
