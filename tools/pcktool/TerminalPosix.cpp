// Console helpers on POSIX: arguments arrive in the locale's character set and are
// turned into code page 936 like every name the platform layer hands out; there is no
// text mode.
#include "tools/pcktool/Terminal.h"

#include <unistd.h>

#include "platform/Platform.h"

namespace term {

std::vector<std::string> Arguments(int argc, char** argv, int* inexact) {
  std::vector<std::string> args;
  if (inexact) *inexact = -1;
  for (int i = 0; i < argc; ++i) {
    bool exact = true;
    args.push_back(plat::FromSystemText(argv[i], &exact));
    if (!exact && inexact && *inexact < 0) *inexact = i;
  }
  return args;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void SetStdoutBinary() {}

}  // namespace term
