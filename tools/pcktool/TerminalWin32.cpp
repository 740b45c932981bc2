// Console helpers on Windows, over the C runtime's low-level file functions.
#include "tools/pcktool/Terminal.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace term {

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// The C runtime would otherwise write every 0x0A byte of a file's content as 0x0D 0x0A.
void SetStdoutBinary() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace term
