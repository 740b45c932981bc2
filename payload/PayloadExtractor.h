// Writes the files that an executable carries at its end (payload/PayloadFormat.h) into
// the working directory. The extractor moves the working directory for its lifetime
// (to the executable's folder, or to a folder its owner names) and moves it back when
// destroyed. Long copies keep the window alive through IMessageUi::DrainMessages: once
// per entry while the directory loads and once per 4096-byte chunk while copying.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "payload/PayloadFormat.h"

class CFile;
namespace plat {
class IMessageUi;
}

// Results of ReadDirectory and Release; a value below 1 is a failure.
enum : int32_t {
  kPayloadReleased = 1,
  kPayloadCannotOpen = 0,     // the executable cannot be opened
  kPayloadBadTrailer = -1,    // trailer size 0, beyond the file, too small for its entries,
                              // or entries whose data lies outside the file
  kPayloadBadCheck = -2,      // CRC-32 of the first 124 trailer bytes differs
  kPayloadCannotReopen = -3,  // the executable cannot be opened a second time
  kPayloadCannotCreate = -4,  // an output file cannot be created, or a name is unsafe
  kPayloadCopyFailed = -5,    // a short read from the executable or a failed write
};

// One line of English for a result code, for tools and logs.
const char* PayloadResultText(int32_t code);

class CPayloadExtractor {
 public:
  // Moves the working directory to the running executable's folder. The output prefix
  // starts as "temp"; the updater sets it to "".
  explicit CPayloadExtractor(plat::IMessageUi* ui = nullptr);
  // Moves the working directory to `folder` instead.
  CPayloadExtractor(const std::string& folder, plat::IMessageUi* ui = nullptr);
  ~CPayloadExtractor();
  CPayloadExtractor(const CPayloadExtractor&) = delete;
  CPayloadExtractor& operator=(const CPayloadExtractor&) = delete;

  // False when the working directory could not be moved (it then stays where it was).
  bool InFolder() const { return m_moved; }

  // Text put in front of every output name. It is the caller's and may hold a folder;
  // together with an entry's name it must fit in 99 bytes.
  void SetOutputPrefix(const std::string& prefix) { m_prefix = prefix; }
  const std::string& OutputPrefix() const { return m_prefix; }

  // Reads and checks the trailer of the file at `path` and loads its entries. Returns
  // the trailer size minus 4 on success, or 0, kPayloadBadTrailer, kPayloadBadCheck.
  // The payload ends at the end of the file, or, in a signed executable, before the
  // certificate table and the zero padding in front of it; entry distances count back
  // from there.
  int32_t ReadDirectory(const std::string& path);
  // ReadDirectory, then writes every entry. Every entry name is checked before the first
  // file is written: one that is not a bare, safe file name, or too long with the prefix,
  // fails the whole release with kPayloadCannotCreate. After a creation or copy failure
  // the files of earlier entries stay; an incompletely copied file is removed.
  int32_t Release(const std::string& path);

  const std::vector<PayloadEntry>& Entries() const { return m_entries; }
  uint32_t TrailerLength() const { return m_trailerLength; }
  uint32_t StoredCheck() const { return m_storedCheck; }
  // Where the payload that ReadDirectory read ends: the file's size, or less in a signed
  // executable.
  uint64_t PayloadEnd() const { return m_payloadEnd; }
  // The output name that the last failed Release could not write ("" otherwise).
  const std::string& FailedName() const { return m_failedName; }

 private:
  void Drain();
  int32_t ReadDirectoryEndingAt(FILE* file, uint64_t end);
  int32_t CopyEntry(FILE* exe, const PayloadEntry& entry, CFile& out);

  plat::IMessageUi* m_ui;
  std::vector<PayloadEntry> m_entries;
  std::vector<uint8_t> m_buffer;
  uint32_t m_trailerLength = 0;
  uint32_t m_storedCheck = 0;
  uint64_t m_fileSize = 0;
  uint64_t m_payloadEnd = 0;
  std::string m_prefix = "temp";
  std::string m_savedDir;
  std::string m_failedName;
  bool m_moved = false;
};
