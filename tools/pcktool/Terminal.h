// The little the tool needs from the console, one implementation file per platform
// (TerminalPosix.cpp, TerminalWin32.cpp), so the commands stay free of platform tests.
#pragma once

#include <string>
#include <vector>

namespace term {

// The command line's arguments as code page 936 bytes, like every name in the tool. On
// Windows they are taken from the wide command line, since the C runtime's argv holds
// them in the system's code page, which garbles a Chinese path on a Western Windows; a
// path with a character the code page lacks comes in its short form. On POSIX they are
// converted from the locale's character set; `inexact` gets the index of the first one
// that holds a character the code page lacks (-1 when there is none).
std::vector<std::string> Arguments(int argc, char** argv, int* inexact);

// Whether standard error is an interactive terminal: the progress bar is drawn only
// there, never into a file or a pipe.
bool StderrIsTerminal();

// Makes standard output carry bytes unchanged (no newline translation on Windows).
void SetStdoutBinary();

}  // namespace term
