// Console helpers on Windows, over the C runtime's low-level file functions.
#include "tools/pcktool/Terminal.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/WindowsApi.h"
#include "platform/WideText.h"

#include <shellapi.h>

namespace term {

std::vector<std::string> Arguments(int argc, char** argv, int* inexact) {
  if (inexact) *inexact = -1;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return {argv, argv + argc};
  std::vector<std::string> args;
  // A path with a character that code page 936 lacks is passed on in its short form.
  for (int i = 0; i < count; ++i) args.push_back(plat::NarrowPath(wide[i]));
  LocalFree(wide);
  return args;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// The C runtime would otherwise write every 0x0A byte of a file's content as 0x0D 0x0A.
void SetStdoutBinary() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace term
