// pcktool's entry point; everything else is in the command library.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Terminal.h"

int main(int argc, char** argv) {
  int inexact = -1;
  std::vector<std::string> args = term::Arguments(argc, argv, &inexact);
  // Names are stored and passed on as code page 936; a stand-in for a character it lacks
  // would be stored as it is or name another file.
  if (inexact > 0) {
    fprintf(stderr, "pcktool: argument %d (\"%s\") holds a character that code page 936 lacks\n", inexact,
            argv[inexact]);
    return 1;
  }
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return PcktoolMain(static_cast<int>(args.size()), pointers.data());
}
