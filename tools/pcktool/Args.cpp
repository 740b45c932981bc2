// Command-line parsing shared by every command.
#include "tools/pcktool/Args.h"

#include <cstring>

#include "delta/Delta.h"
#include "io/Workers.h"

int CodecFromName(const std::string& name) {
  if (name == "stored") return int(PckCodec::Stored);
  if (name == "zlib") return int(PckCodec::Zlib);
  if (name == "lzo") return int(PckCodec::Lzo1x);
  return -1;
}

std::string UsageLine(const CommandDef& def) {
  std::string line = std::string("usage: pcktool ") + def.name + " " + def.operands;
  if (def.options & kOptCodec) line += " [--codec stored|zlib|lzo]";
  if (def.options & kOptBlockSize) line += " [--block-size N]";
  if (def.options & kOptPassword) line += " [--password TEXT]";
  if (def.options & kOptNoCreate) line += " [--no-create]";
  if (def.options & kOptUpdater) line += " [--updater IMAGE EXE]";
  if (def.options & kOptThreads) line += " [--threads N]";
  if (def.options & kOptDelta) line += " [--no-delta | --delta-level N]";
  if (def.options & kOptFrom) line += " [--from OLDER]...";
  return line;
}

namespace {

// Decimal only, without sign or blanks, so that "0x10", "-1" or "64k" are refused
// rather than read as something the user did not mean.
bool ParseBlockSize(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 9) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v < 1 || v > kPckMaxBlockSize) return false;
  out = uint32_t(v);
  return true;
}

}  // namespace

bool ParseArgs(const CommandDef& def, int argc, char** argv, int first, Options& out,
               std::string& error) {
  out = Options();
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    std::string word = argv[i];
    // "-" alone and anything after "--" are operands, so names that start with a dash
    // stay reachable.
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      out.operands.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      out.help = true;
      continue;
    }
    if (word == "--no-create" && (def.options & kOptNoCreate)) {
      out.noCreate = true;
      continue;
    }
    // Deltas are made unless --no-delta says not to; --delta, once needed for them, is
    // still taken so that a publisher's scripts keep working.
    if ((word == "--delta" || word == "--no-delta") && (def.options & kOptDelta)) {
      out.noDelta = word == "--no-delta";
      continue;
    }
    if (word == "--updater" && (def.options & kOptUpdater)) {
      if (i + 2 >= argc) {
        error = "--updater needs IMAGE and EXE";
        return false;
      }
      out.updaterImage = argv[++i];
      out.updaterExe = argv[++i];
      continue;
    }
    std::string name = word, value;
    bool hasValue = false;
    if (size_t eq = word.find('='); word.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = word.substr(0, eq);
      value = word.substr(eq + 1);
      hasValue = true;
    }
    unsigned bit = 0;
    if (name == "--password") bit = kOptPassword;
    if (name == "--codec") bit = kOptCodec;
    if (name == "--block-size") bit = kOptBlockSize;
    if (name == "--threads") bit = kOptThreads;
    if (name == "--delta-level") bit = kOptDelta;
    if (name == "--from") bit = kOptFrom;
    if (bit == 0 || !(def.options & bit)) {
      error = "unknown option " + name;
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (bit == kOptPassword) {
      out.password = value;
    } else if (bit == kOptFrom) {
      out.from.push_back(value);
    } else if (bit == kOptCodec) {
      out.codec = CodecFromName(value);
      if (out.codec < 0) {
        error = "unknown codec \"" + value + "\" (stored, zlib or lzo)";
        return false;
      }
    } else if (bit == kOptThreads) {
      uint32_t n = 0;
      // 0 is allowed here: no block workers, everything on the tool's own thread.
      if (value != "0" && !ParseBlockSize(value, n)) n = 1000;
      if (n > CWorkers::kMaxThreads) {
        error = "thread count \"" + value + "\" is not a whole number from 0 to " +
                std::to_string(CWorkers::kMaxThreads);
        return false;
      }
      out.threads = int(n);
    } else if (bit == kOptDelta) {
      uint32_t n = 0;
      if (!ParseBlockSize(value, n) || n < uint32_t(kDeltaMinLevel) || n > uint32_t(kDeltaMaxLevel)) {
        error = "delta level \"" + value + "\" is not a whole number from " + std::to_string(kDeltaMinLevel) +
                " to " + std::to_string(kDeltaMaxLevel);
        return false;
      }
      out.deltaLevel = int(n);
    } else if (!ParseBlockSize(value, out.blockSize)) {
      error = "block size \"" + value + "\" is not a whole number from 1 to " +
              std::to_string(kPckMaxBlockSize);
      return false;
    }
  }
  if (out.help) return true;
  if (out.deltaLevel >= 0 && out.noDelta) {
    error = "--delta-level and --no-delta do not go together";
    return false;
  }
  const int given = int(out.operands.size());
  const bool atLeast = def.operandCount < 0;  // the command checks the rest itself
  const int expected = atLeast ? -def.operandCount : def.operandCount;
  if (atLeast ? given < expected : given != expected) {
    error = std::string(given < expected ? "missing" : "too many") + " operands: expects " + def.operands;
    return false;
  }
  return true;
}
