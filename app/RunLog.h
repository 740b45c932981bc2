// The plain-text logs of a run: LogLocalUpdate.txt (the run), LogPatch.txt (the patch
// pass) and LogTidy.txt (the tidy pass). A line is the formatted text and a line feed;
// every line feed is stored as CR LF, the file is opened and closed for every line, and
// a file that cannot be opened loses the line without stopping the run.
#pragma once

#include <cstdarg>

inline constexpr char kRunLogName[] = "LogLocalUpdate.txt";
inline constexpr char kPatchLogName[] = "LogPatch.txt";
inline constexpr char kTidyLogName[] = "LogTidy.txt";

void AppendLogLineV(const char* file, const char* format, va_list args);
void AppendLogLine(const char* file, const char* format, ...);
