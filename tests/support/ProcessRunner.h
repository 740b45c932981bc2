// Starts a built tool the way its users do, as a separate process, so that tests see
// its real exit status and the exact bytes it writes to standard output and error.
#pragma once

#include <string>
#include <vector>

namespace qvtest {

struct RunResult {
  int code;  // -1 when the tool could not be started or did not exit normally
  std::string out, err;
};

// Runs `exe` with `args`, each passed as one argument however it is spelled (code page
// 936 text, handed over as the system spells it, as a user's shell would). The
// output is captured in files inside `scratchDir` ("stdout" and "stderr"; on Windows
// numbered per run and removed afterwards) rather than through pipes, so a tool that
// writes more than a pipe holds cannot stall the test. A tool that cannot be started
// gives code -1 and an `err` that says why. `err` comes as Text() gives it; `out` as it
// was written (it may be a file's bytes). An `exe` given by its Unix path also works from the Windows build under Wine.
RunResult RunTool(const std::string& exe, const std::vector<std::string>& args, const std::string& scratchDir);

// A path as the Windows build sees it under Wine, where the Unix root is drive Z:; the
// build names its own files by Unix paths.
inline std::string WinePath(const std::string& p) { return !p.empty() && p[0] == '/' ? "Z:" + p : p; }

// A tool's text output as the program's own code page 936 text, without the carriage
// returns of Windows text mode, so that one expectation holds on both platforms (on
// POSIX the tools write in the locale's character set).
std::string Text(const std::string& s);

// A final line without "\n" still counts.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace qvtest
