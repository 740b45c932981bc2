// What both platform files share about failures: the record of the last OS error and
// the test hook that makes file operations fail as a failing disk would.
#include "platform/FaultInternal.h"

#include <cerrno>
#include <cstring>

namespace plat {

namespace {
thread_local OsError t_lastError;
FaultHook& Hook() {
  static FaultHook hook;
  return hook;
}
}  // namespace

const OsError& LastError() { return t_lastError; }

void NoteCrtError() {
  const int code = errno;
  detail::SetLastError(code, std::strerror(code));
}

void SetFaultHook(FaultHook hook) { Hook() = std::move(hook); }

bool FaultInjected(FileOp op, const std::string& path) {
  if (!Hook()) return false;
  const Fault fault = Hook()(op, path);
  if (fault == Fault::None) return false;
  detail::RaiseFault(fault);
  return true;
}

namespace detail {
void SetLastError(int code, std::string text) {
  t_lastError.code = code;
  t_lastError.text = std::move(text);
}
}  // namespace detail

}  // namespace plat
