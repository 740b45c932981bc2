// The extractor: reads the trailer from the end of an executable (or from just before
// the certificate table of a signed one), checks it against the file before trusting any
// offset in it, and copies each carried file out through one 4096-byte buffer.
#include "payload/PayloadExtractor.h"

#include "io/FileStream.h"
#include "io/File.h"
#include "pck/PckFormat.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

const char* PayloadResultText(int32_t code) {
  switch (code) {
    case kPayloadCannotOpen: return "the executable cannot be opened";
    case kPayloadBadTrailer: return "no readable payload (invalid trailer size, or entries outside the file)";
    case kPayloadBadCheck: return "no readable payload (trailer check value mismatch)";
    case kPayloadCannotReopen: return "the executable cannot be opened again for copying";
    case kPayloadCannotCreate: return "an output file cannot be created (or its name is unsafe or too long)";
    case kPayloadCopyFailed: return "a carried file could not be copied completely (short read or write error)";
    default: return code >= 1 ? "success" : "unknown failure";
  }
}

namespace {

bool ReadAt(FILE* f, int64_t offset, uint8_t* out, size_t length) {
  return plat::SeekFile(f, offset, SEEK_SET) == 0 && fread(out, 1, length, f) == length;
}

int64_t SizeOf(FILE* f) {
  if (plat::SeekFile(f, 0, SEEK_END) != 0) return -1;
  return plat::TellFile(f);
}

}  // namespace

CPayloadExtractor::CPayloadExtractor(plat::IMessageUi* ui) : m_ui(ui), m_savedDir(plat::GetWorkDir()) {
  const std::string module = plat::ModuleFileName();
  const std::string folder = plat::ParentFolder(module, /*keepRoot=*/true);
  // A bare module name means the program was started from the working directory.
  m_moved = folder.empty() ? !module.empty() : plat::SetWorkDir(folder);
}

CPayloadExtractor::CPayloadExtractor(const std::string& folder, plat::IMessageUi* ui)
    : m_ui(ui), m_savedDir(plat::GetWorkDir()) {
  m_moved = plat::SetWorkDir(folder);
}

CPayloadExtractor::~CPayloadExtractor() {
  if (!m_savedDir.empty()) plat::SetWorkDir(m_savedDir);
}

void CPayloadExtractor::Drain() {
  if (m_ui) m_ui->DrainMessages();
}

int32_t CPayloadExtractor::ReadDirectory(const std::string& path) {
  m_entries.clear();
  m_trailerLength = 0;
  m_storedCheck = 0;
  m_fileSize = 0;
  m_payloadEnd = 0;

  UniqueFile file(plat::OpenFile(path, "rb"));
  if (!file) return kPayloadCannotOpen;
  const int64_t fileSize = SizeOf(file.get());
  if (fileSize < 0) return kPayloadBadTrailer;
  // A signed executable carries its payload before the certificate table, maybe with a
  // few zero bytes of the signer's padding between; the first end whose trailer checks
  // is the payload's. When none does, the failure at the first end is reported.
  const PeCertificateTable table = ScanPeCertificateTable(file.get(), uint64_t(fileSize));
  int32_t first = 0;
  for (uint64_t end : PayloadEndCandidates(table, uint64_t(fileSize))) {
    const int32_t r = ReadDirectoryEndingAt(file.get(), end);
    if (r >= 1) {
      m_fileSize = uint64_t(fileSize);
      return r;
    }
    if (first == 0) first = r;
  }
  return first;
}

int32_t CPayloadExtractor::ReadDirectoryEndingAt(FILE* file, uint64_t end) {
  m_storedCheck = 0;
  uint8_t tail[kPayloadTailSize];
  if (end < kPayloadTailSize || !ReadAt(file, int64_t(end - kPayloadTailSize), tail, sizeof tail))
    return kPayloadBadTrailer;
  const uint32_t trailerSize = GetLE32(tail);
  m_storedCheck = GetLE32(tail + 4);
  // Too small to hold the header, the first entry and the tail: the check value would
  // be computed over bytes that are not a trailer.
  if (trailerSize == 0 || trailerSize > end || trailerSize < kPayloadMinTrailer) return kPayloadBadTrailer;

  const int64_t trailerStart = int64_t(end - trailerSize);
  m_buffer.assign(kPayloadCheckedBytes, 0);
  if (!ReadAt(file, trailerStart, m_buffer.data(), kPayloadCheckedBytes)) return kPayloadBadTrailer;
  if (PayloadCheckValue(m_buffer.data()) != m_storedCheck) return kPayloadBadCheck;

  // The magic is not compared: a trailer with another text but the right check value
  // is still a payload.
  const size_t count = PayloadHeader::Decode(m_buffer.data()).count;
  // Bounded above as well, so the trailer length stays a positive result and a forged
  // size cannot make us read megabytes of image as a directory.
  if (trailerSize < PayloadTrailerSize(count) || trailerSize > PayloadTrailerSize(kPayloadMaxEntries))
    return kPayloadBadTrailer;
  const size_t directoryBytes = kPayloadHeaderSize + kPayloadEntrySize * count;
  if (directoryBytes > m_buffer.size()) {
    m_buffer.resize(directoryBytes, 0);
    if (!ReadAt(file, trailerStart + int64_t(kPayloadCheckedBytes), m_buffer.data() + kPayloadCheckedBytes,
                directoryBytes - kPayloadCheckedBytes))
      return kPayloadBadTrailer;
  }

  std::vector<PayloadEntry> entries(count);
  for (size_t i = 0; i < count; ++i) {
    entries[i] = PayloadEntry::Decode(m_buffer.data() + kPayloadHeaderSize + kPayloadEntrySize * i);
    // Every entry's data must lie between the start of the file and the trailer; a
    // truncated or forged file would otherwise have us copy from before the file's
    // start, copy the trailer itself, or copy the certificate table.
    const PayloadEntry& e = entries[i];
    if (e.distance > end || e.distance < trailerSize || e.size > e.distance - trailerSize) return kPayloadBadTrailer;
  }
  for (const PayloadEntry& e : entries) {
    Drain();
    m_entries.push_back(e);
  }
  m_payloadEnd = end;
  m_trailerLength = trailerSize - 4;
  return int32_t(m_trailerLength);
}

int32_t CPayloadExtractor::CopyEntry(FILE* exe, const PayloadEntry& entry, CFile& out) {
  const int64_t start = int64_t(m_payloadEnd) - int64_t(entry.distance);
  for (uint32_t o = 0; o < entry.size; o += uint32_t(kPayloadChunk)) {
    Drain();
    const size_t chunk = entry.size - o < kPayloadChunk ? size_t(entry.size - o) : kPayloadChunk;
    if (!ReadAt(exe, start + o, m_buffer.data(), chunk)) return kPayloadCopyFailed;
    if (!out.WriteAll(m_buffer.data(), chunk)) return kPayloadCopyFailed;
    if (entry.size - o <= kPayloadChunk) break;  // o + 4096 could wrap for sizes near 4 GiB
  }
  // On the disk before it counts as written: the run goes on to apply these files.
  return out.Flush() ? kPayloadReleased : kPayloadCopyFailed;
}

int32_t CPayloadExtractor::Release(const std::string& path) {
  m_failedName.clear();
  const int32_t r = ReadDirectory(path);
  if (r < 1) return r;
  UniqueFile exe(plat::OpenFile(path, "rb"));
  if (!exe) return kPayloadCannotReopen;
  // The offsets were checked against the file as it was a moment ago.
  if (SizeOf(exe.get()) != int64_t(m_fileSize)) return kPayloadCopyFailed;

  // A name that could leave the folder, name a device or overrun the 100-byte name
  // field stops the release before anything is written.
  for (const PayloadEntry& e : m_entries) {
    const std::string name = e.Name();
    if (!plat::IsSafeName(name) || m_prefix.size() + name.size() > kPayloadMaxName) {
      m_failedName = m_prefix + name;
      return kPayloadCannotCreate;
    }
  }

  m_buffer.assign(kPayloadChunk, 0);
  for (const PayloadEntry& e : m_entries) {
    const std::string outName = m_prefix + e.Name();
    // Created anew, never through a link planted at the name.
    CFile out;
    if (!out.Create(outName)) {
      m_failedName = outName;
      return kPayloadCannotCreate;
    }
    int32_t rc = CopyEntry(exe.get(), e, out);
    if (!out.Close() && rc == kPayloadReleased) rc = kPayloadCopyFailed;
    if (rc != kPayloadReleased) {
      // Half a patch file would pass for a whole one in a later run.
      if (plat::FileExists(outName)) plat::DeleteFile(outName);
      m_failedName = outName;
      return rc;
    }
  }
  return kPayloadReleased;
}
