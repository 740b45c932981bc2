#include "tests/support/ProcessRunner.h"

#include <sys/wait.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "tests/support/TempDir.h"

namespace qvtest {

namespace {

// Single quotes keep every character but the quote itself literal in the shell.
std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

RunResult RunTool(const std::string& exe, const std::vector<std::string>& args, const std::string& scratchDir) {
  const std::string out = scratchDir + "/stdout", err = scratchDir + "/stderr";
  std::string line = Quote(exe);
  for (const std::string& a : args) line += ' ' + Quote(plat::ToConsoleText(a));
  line += " >" + Quote(out) + " 2>" + Quote(err);
  const int status = std::system(line.c_str());
  RunResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(out);
  r.err = Text(ReadFile(err));
  return r;
}

std::string Text(const std::string& s) { return plat::FromSystemText(s); }

}  // namespace qvtest
