// The checked file handle: every file the program writes (packages, plain files of a
// patch, the released payload, the journal) goes through it. A C runtime FILE with
// 64-bit positions and all-or-nothing reads and writes, whose first failure sticks: a
// write that the C runtime only buffered and that fails later (a full disk found at the
// next seek or flush) fails every Flush and Close after it, so no commit can ever rest
// on bytes that never reached the disk. Every write, flush and close asks the platform's
// fault hook first, so tests can make any of them fail.
//
// Each open file has a 64 KiB buffer of its own, and a file being written asks the
// system every few MiB to start putting what it has on the disk, so that the flush that
// commits it does not wait for all of it at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "io/Error.h"

class CFile {
 public:
  CFile() = default;
  ~CFile() { Close(); }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  CFile(CFile&& other) noexcept;
  CFile& operator=(CFile&& other) noexcept;

  // An existing file with fopen's modes ("rb", "rb+", "ab", ...).
  bool Open(const std::string& path, const char* mode);
  // A new file for reading and writing. Whatever had the name (a stale temporary, a
  // planted link) is removed first, and the file is then created exclusively, never
  // through a link.
  bool Create(const std::string& path);
  // A new file under a name that nothing has yet: fails, touching nothing, when a file,
  // a folder or a link already has it.
  bool CreateNew(const std::string& path);
  // Closes the file; false when anything written since it opened may be missing from
  // it (an earlier write error, or the close itself failed).
  bool Close();
  bool IsOpen() const { return m_file != nullptr; }
  const std::string& Path() const { return m_path; }

  bool Seek(uint64_t offset);
  bool SeekEnd();
  int64_t Tell();
  int64_t Length();  // seeks to the end and back

  // True only when all `length` bytes were read / written.
  bool ReadExact(void* buffer, size_t length);
  bool WriteAll(const void* buffer, size_t length);
  // Reads the whole file into `out`; false on a read error.
  bool ReadAll(std::string& out);
  // Puts everything written so far on the disk; false when it cannot, or when any
  // earlier write failed.
  bool Flush();
  // Hands everything written so far to the system and asks it to start writing it to
  // the disk, without waiting; false when any write failed. Flush still has to follow
  // before anything may rest on the bytes.
  bool StartFlush();
  // Cuts the file to `length` bytes.
  bool Truncate(uint64_t length);

  // True once a write, seek, flush or close has failed.
  bool Failed() const { return m_failed; }
  // What failed first and why: "cannot write bld.nam: No space left on device".
  const std::string& Error() const { return m_error.text; }
  const CError& ErrorRecord() const { return m_error; }

 private:
  bool Fail(const char* what);
  void Buffer();

  static constexpr size_t kBufferBytes = 64u << 10;
  static constexpr uint64_t kWriteBackBytes = 8u << 20;

  FILE* m_file = nullptr;
  std::unique_ptr<char[]> m_buffer;  // outlives m_file
  uint64_t m_unstarted = 0;  // bytes written since the last write-back was started
  std::string m_path;
  bool m_failed = false;
  CError m_error;
};

// OsFailure(what, path).text: "cannot replace bld.dat: Permission denied".
std::string OsErrorText(const std::string& what, const std::string& path);
