// pcktool's entry point; everything else is in the command library.
#include "tools/pcktool/Commands.h"

int main(int argc, char** argv) { return PcktoolMain(argc, argv); }
