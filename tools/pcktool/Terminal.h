// The little the tool needs from the console, one implementation file per platform
// (TerminalPosix.cpp, TerminalWin32.cpp), so the commands stay free of platform tests.
#pragma once

namespace term {

// Whether standard error is an interactive terminal: the progress bar is drawn only
// there, never into a file or a pipe.
bool StderrIsTerminal();

// Makes standard output carry bytes unchanged (no newline translation on Windows).
void SetStdoutBinary();

}  // namespace term
