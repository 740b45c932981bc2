// The commands, one function each; Main.cpp holds the table that names them.
#pragma once

#include "tools/pcktool/Args.h"

int RunCreate(const Options& opt);   // CmdBuild.cpp
int RunList(const Options& opt);     // CmdRead.cpp
int RunCat(const Options& opt);
int RunExtract(const Options& opt);
int RunVerify(const Options& opt);
int RunInfo(const Options& opt);     // CmdInfo.cpp
int RunAdd(const Options& opt);      // CmdEdit.cpp
int RunReplace(const Options& opt);
int RunDelete(const Options& opt);
int RunMkdir(const Options& opt);
int RunCompact(const Options& opt);
int RunApply(const Options& opt);    // CmdApply.cpp
int RunPayload(const Options& opt);  // CmdPayload.cpp
int RunDiff(const Options& opt);     // CmdDiff.cpp

// The whole tool as its main() runs it: parses the arguments, runs the command, and
// returns the exit status.
int PcktoolMain(int argc, char** argv);
