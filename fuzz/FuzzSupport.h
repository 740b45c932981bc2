// What the fuzz harnesses share: cutting one input into parts, a scratch folder per
// process, whole-file helpers and a check that stops the run with a message. The
// checks are always on (no NDEBUG): a broken invariant is a finding like a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qvfuzz {

// Parts of one input are joined by this text. A separator survives the fuzzer's
// insertions and deletions inside a part, which length prefixes would not.
inline constexpr std::string_view kPartSeparator = "\n=QV=PART=\n";

// The input cut at the first `count - 1` separators; missing parts are empty and the
// last part takes the rest, separators included.
std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count);
std::string JoinParts(const std::vector<std::string>& parts);

// A folder of this process only, made at first use and removed at exit. It lies under
// $QV_FUZZ_SCRATCH, else /dev/shm (the package and payload code flush every file to the
// disk, which costs nothing there), else $TMPDIR or /tmp.
const std::string& ScratchDir();

void WriteBytes(const std::string& path, std::string_view bytes);
// The whole file; false when it cannot be read.
bool ReadBytes(const std::string& path, std::string& out);
void MakeDirs(const std::string& path);
// Removes a file or a folder with everything below it; missing is fine.
void RemoveAll(const std::string& path);
// Every file and folder below `root`: relative path -> "f" and the file's content, "d"
// for a folder, "l" and the target for a symbolic link (never followed).
std::map<std::string, std::string> Snapshot(const std::string& root);

[[noreturn]] void Fail(const char* file, int line, const char* what);

}  // namespace qvfuzz

#define QV_FUZZ_CHECK(cond)                                     \
  do {                                                          \
    if (!(cond)) ::qvfuzz::Fail(__FILE__, __LINE__, #cond);     \
  } while (0)
