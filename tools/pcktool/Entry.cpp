// pcktool's entry point; everything else is in the command library.
#include <string>
#include <vector>

#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Terminal.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = term::Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return PcktoolMain(static_cast<int>(args.size()), pointers.data());
}
