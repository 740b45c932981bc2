#include "tests/support/ProcessRunner.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/WideText.h"
#include "tests/support/TempDir.h"

namespace qvtest {

namespace {

// Not escaped: an argument holding '"' or ending in a backslash would reach the tool
// split or changed, and callers pass only paths and plain words.
std::string Quote(const std::string& s) { return "\"" + s + "\""; }

HANDLE Capture(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(plat::Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

}  // namespace

// Started directly rather than through cmd.exe, which would double the processes that
// Wine has to start.
RunResult RunTool(const std::string& exe, const std::vector<std::string>& args, const std::string& scratchDir) {
  const std::string out = scratchDir + "/stdout", err = scratchDir + "/stderr";
  std::string line = Quote(WinePath(exe));
  for (const std::string& a : args) line += ' ' + Quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = Capture(out);
  si.hStdError = Capture(err);
  PROCESS_INFORMATION pi{};
  DWORD code = DWORD(-1);
  std::wstring wide = plat::Wide(line);
  if (CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(si.hStdOutput);
  CloseHandle(si.hStdError);
  RunResult r;
  r.code = int(code);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

}  // namespace qvtest
