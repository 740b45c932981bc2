#include "tests/support/ProcessRunner.h"

#include <string>

#include "platform/WindowsApi.h"
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
  // Files of their own for every run: under load Wine may still hold the last child's
  // handles for a moment after it ended, and a second CREATE_ALWAYS would then fail.
  static int runs = 0;
  const std::string suffix = std::to_string(++runs);
  const std::string out = scratchDir + "/stdout" + suffix, err = scratchDir + "/stderr" + suffix;
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
  // Wine under load now and then fails to start a process with ERROR_INTERNAL_ERROR
  // (1359); that says nothing about the tool, so the start is tried again.
  bool started = false;
  DWORD startError = 0;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    startError = started ? 0 : GetLastError();
    if (!started && startError != ERROR_INTERNAL_ERROR) break;
  }
  if (started) {
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
  r.err = started ? Text(ReadFile(err)) : "cannot start " + exe + ": Windows error " + std::to_string(startError);
  plat::DeleteFile(out);
  plat::DeleteFile(err);
  return r;
}

// The tools write code page 936 as it is; only text mode's carriage returns go.
std::string Text(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '\r') out += c;
  return out;
}

}  // namespace qvtest
