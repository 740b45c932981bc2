// windows.h for the Win32 side of the platform layer and the Win32 front end. It maps
// DeleteFile, GetProfileString, MessageBox and ReplaceFile to their ...A functions;
// in this program those names are our own (the platform contract and the dialog's
// window interface), so the macros are removed right after it, in one place.
#pragma once

// The platform contract first: it declares the names before windows.h could rename them.
#include "platform/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef DeleteFile
#undef GetProfileString
#undef MessageBox
#undef ReplaceFile
