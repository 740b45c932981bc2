// What the fuzz harnesses share: cutting one input into parts, whole-file helpers over
// the in-memory file system that the fuzzing build's platform layer works on
// (platform/PlatformMemory.h), and a check that stops the run with a message. The
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

// Files and folders of the in-memory file system (every path the program opens lives
// there in this build).
void WriteBytes(const std::string& path, std::string_view bytes);
// The whole file; false when it cannot be read.
bool ReadBytes(const std::string& path, std::string& out);
void MakeDirs(const std::string& path);
// Removes a file or a folder with everything below it; missing is fine.
void RemoveAll(const std::string& path);
// Every file and folder below `root`: relative path -> "f" and the file's content, "d"
// for a folder.
std::map<std::string, std::string> Snapshot(const std::string& root);

// A buffer kept between runs that behaves like a fresh allocation of the size asked
// for: Take(n) hands out its last n bytes (the allocation ends where they end) and
// poisons the bytes before them, so an access past either end of the n bytes is an
// AddressSanitizer finding (before the start, from the next 8-byte boundary on). Large
// allocations made anew every run cost more than most harnesses' work.
class CExactBuffer {
 public:
  explicit CExactBuffer(size_t capacity);
  ~CExactBuffer();
  CExactBuffer(const CExactBuffer&) = delete;
  CExactBuffer& operator=(const CExactBuffer&) = delete;
  // n is at most the capacity.
  uint8_t* Take(size_t n);
  uint8_t* Data() const { return m_data + m_capacity - m_size; }
  size_t Size() const { return m_size; }

 private:
  uint8_t* m_data;
  size_t m_capacity;
  size_t m_size = 0;
};
// The process's buffer number `slot` (0 to 7), made with `capacity` bytes at first use.
CExactBuffer& Scratch(int slot, size_t capacity);

[[noreturn]] void Fail(const char* file, int line, const char* what);

}  // namespace qvfuzz

#define QV_FUZZ_CHECK(cond)                                     \
  do {                                                          \
    if (!(cond)) ::qvfuzz::Fail(__FILE__, __LINE__, #cond);     \
  } while (0)
