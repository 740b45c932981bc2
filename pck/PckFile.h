// The package objects' handle on one of their files: a C runtime FILE with 64-bit
// positions and all-or-nothing reads and writes. Every write, flush and replace goes
// through here, so tests can make the k-th one fail (or stop the process there) and
// check that a package survives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace pckio {

enum class Op { Write, Flush, Replace };

// Test hook: called before every write, flush and replace; returning false makes the
// operation fail. Null in production.
using FaultHook = std::function<bool(Op)>;
void SetFaultHook(FaultHook hook);

// Replaces `to` by `from` atomically and durably (through the hook).
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace pckio

class CPckFile {
 public:
  CPckFile() = default;
  ~CPckFile() { Close(); }
  CPckFile(const CPckFile&) = delete;
  CPckFile& operator=(const CPckFile&) = delete;
  CPckFile(CPckFile&& other) noexcept : m_file(other.m_file), m_path(std::move(other.m_path)) {
    other.m_file = nullptr;
  }

  bool Open(const std::string& path, const char* mode);
  void Close();
  bool IsOpen() const { return m_file != nullptr; }
  const std::string& Path() const { return m_path; }

  bool Seek(uint64_t offset);
  bool SeekEnd();
  int64_t Tell();
  int64_t Length();  // seeks to the end and back

  // True only when all `length` bytes were read / written.
  bool ReadExact(void* buffer, size_t length);
  bool WriteAll(const void* buffer, size_t length);
  // Puts everything written so far on the disk.
  bool Flush();
  // Reads the whole file into `out`; false on a read error.
  bool ReadAll(std::string& out);

 private:
  FILE* m_file = nullptr;
  std::string m_path;
};
