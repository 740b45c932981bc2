// The command table's entry type and the parsing of the words after a command name:
// operands, --password, --codec, --block-size, --no-create, --updater, --threads,
// --no-delta, --delta-level, --from and --help.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pck/PckFormat.h"

// Options a command accepts; anything else on its command line is a usage error.
enum : unsigned {
  kOptPassword = 1u << 0,
  kOptCodec = 1u << 1,
  kOptBlockSize = 1u << 2,
  kOptNoCreate = 1u << 3,  // a flag without a value
  kOptUpdater = 1u << 4,   // two values: IMAGE EXE
  kOptThreads = 1u << 5,
  kOptDelta = 1u << 6,     // --no-delta (and --delta), flags, or --delta-level N
  kOptFrom = 1u << 7,      // --from OLD, any number of times
};

struct Options {
  std::vector<std::string> operands;
  std::string password = kPckGamePassword;  // empty: no cipher
  int codec = int(PckCodec::Lzo1x);
  uint32_t blockSize = kPckDefaultBlockSize;
  bool help = false;
  bool noCreate = false;
  std::string updaterImage, updaterExe;  // --updater IMAGE EXE
  int threads = -1;                      // --threads N; -1: one per core
  bool noDelta = false;                  // --no-delta
  int deltaLevel = -1;                   // --delta-level N; -1: the default
  std::vector<std::string> from;         // every --from OLD, in order
};

struct CommandDef {
  const char* name;
  const char* operands;  // e.g. "DIR BASE"
  int operandCount;      // a negative count: at least that many
  unsigned options;
  const char* summary;  // one line for the command list
  const char* details;  // the rest of its --help text
  int (*run)(const Options&);
};

// Parses argv[first..argc). Returns false with `error` set (one line, without the
// "pcktool: " prefix) when the words do not fit the command.
bool ParseArgs(const CommandDef& def, int argc, char** argv, int first, Options& out,
               std::string& error);

// "usage: pcktool NAME OPERANDS [options...]"
std::string UsageLine(const CommandDef& def);

// "stored", "zlib" or "lzo" as the writer's codec number; -1 for any other text.
int CodecFromName(const std::string& name);
