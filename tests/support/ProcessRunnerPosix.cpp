#include "tests/support/ProcessRunner.h"

#include <sys/wait.h>

#include <cstdlib>

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
  for (const std::string& a : args) line += ' ' + Quote(a);
  line += " >" + Quote(out) + " 2>" + Quote(err);
  const int status = std::system(line.c_str());
  RunResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

}  // namespace qvtest
