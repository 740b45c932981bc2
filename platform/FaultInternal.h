// Inside the platform layer only: how the two platform files record an OS error and
// make an injected fault look like the real one.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace plat::detail {

// Stores the reason that LastError() reports.
void SetLastError(int code, std::string text, OsErrorKind kind);
// What an errno value means (both platforms' C runtimes set errno).
OsErrorKind ErrnoKind(int code);
// Sets the OS error variables as the failing call would have (errno, GetLastError)
// and records it. Each platform file defines it.
void RaiseFault(Fault fault);
// What FreeSpace reports for `path`, the system's answer being `real`: the test hook's
// value when one is set.
uint64_t AdjustFreeSpace(const std::string& path, uint64_t real);

}  // namespace plat::detail
