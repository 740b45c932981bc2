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

namespace detail {
OsErrorKind ErrnoKind(int code) {
  switch (code) {
    case ENOENT: case ENOTDIR: return OsErrorKind::NotFound;
    case EACCES: case EPERM: case EROFS: case EBUSY: case EEXIST: case EISDIR: return OsErrorKind::Access;
#ifdef ETXTBSY
    case ETXTBSY: return OsErrorKind::InUse;
#endif
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return OsErrorKind::NoSpace;
    default: return OsErrorKind::Other;
  }
}
}  // namespace detail

void NoteCrtError() {
  const int code = errno;
  detail::SetLastError(code, std::strerror(code), detail::ErrnoKind(code));
}

void SetFaultHook(FaultHook hook) { Hook() = std::move(hook); }

namespace {
std::function<uint64_t(const std::string&, uint64_t)>& SpaceHook() {
  static std::function<uint64_t(const std::string&, uint64_t)> hook;
  return hook;
}
}  // namespace

void SetFreeSpaceHook(std::function<uint64_t(const std::string& path, uint64_t real)> hook) {
  SpaceHook() = std::move(hook);
}

namespace detail {
uint64_t AdjustFreeSpace(const std::string& path, uint64_t real) {
  return SpaceHook() ? SpaceHook()(path, real) : real;
}
}  // namespace detail

bool FaultInjected(FileOp op, const std::string& path) {
  if (!Hook()) return false;
  const Fault fault = Hook()(op, path);
  if (fault == Fault::None) return false;
  detail::RaiseFault(fault);
  return true;
}

namespace detail {
void SetLastError(int code, std::string text, OsErrorKind kind) {
  t_lastError.code = code;
  t_lastError.text = std::move(text);
  t_lastError.kind = kind;
}
}  // namespace detail

}  // namespace plat
