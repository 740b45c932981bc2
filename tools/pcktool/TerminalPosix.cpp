// Console helpers on POSIX: there is no text mode, so only the terminal test remains.
#include "tools/pcktool/Terminal.h"

#include <unistd.h>

namespace term {

std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void SetStdoutBinary() {}

}  // namespace term
