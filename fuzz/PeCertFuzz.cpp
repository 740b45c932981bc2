// The scan for the certificate table of a signed Windows executable, on hostile files.
// Byte 0 of an input holds switches, the rest is the file.
//   bit 0  where the headers lead to a security directory inside the file, make its
//          size end the table exactly at the file's end, so that the fuzzer gets past
//          that test and into the padding and raw data scans
// The file is scanned three ways, which must agree: from memory, through a reader that
// checks every request against the file, and from an open file. What a found table
// says must lie inside the file, and the places where a payload may end with it.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "pck/PckFormat.h"
#include "payload/PayloadFormat.h"
#include "platform/Platform.h"

namespace {

uint32_t Le32(const std::string& s, size_t at) {
  return at + 4 <= s.size() ? GetLE32(reinterpret_cast<const uint8_t*>(s.data()) + at) : 0;
}

// Sets the security directory's size to reach the end of the file (PE32 and PE32+).
void FitTable(std::string& file) {
  const uint64_t pe = Le32(file, 0x3C);
  const uint64_t magicAt = pe + 4 + 20;
  if (magicAt + 2 > file.size()) return;
  const uint16_t magic = uint16_t(uint8_t(file[magicAt]) | uint8_t(file[magicAt + 1]) << 8);
  const uint64_t entry = pe + 4 + 20 + (magic == 0x20B ? 112 : 96) + 8 * 4;
  if (entry + 8 > file.size()) return;
  const uint64_t offset = Le32(file, entry);
  if (offset > file.size()) return;
  PutLE32(reinterpret_cast<uint8_t*>(file.data()) + entry + 4, uint32_t(file.size() - offset));
}

bool Same(const PeCertificateTable& a, const PeCertificateTable& b) {
  return a.isPe == b.isPe && a.found == b.found && a.checksumOffset == b.checksumOffset &&
         a.directoryOffset == b.directoryOffset && a.tableOffset == b.tableOffset && a.tableSize == b.tableSize &&
         a.zerosBefore == b.zerosBefore && a.rawDataEnd == b.rawDataEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) FitTable(file);
  const uint64_t fileSize = file.size();

  // An exact copy, so that a read past the file is caught.
  if (file.size() > (1u << 20)) return 0;
  uint8_t* bytes = qvfuzz::Scratch(0, 1u << 20).Take(file.size());
  std::memcpy(bytes, file.data(), file.size());
  const PeCertificateTable fromMemory = ScanPeCertificateTable(bytes, file.size());

  const PeCertificateTable checked = ScanPeCertificateTable(fileSize, [&](uint64_t offset, uint8_t* out, size_t length) {
    QV_FUZZ_CHECK(offset <= fileSize && length <= fileSize - offset);
    std::memcpy(out, bytes + offset, length);
    return true;
  });
  QV_FUZZ_CHECK(Same(fromMemory, checked));

  qvfuzz::WriteBytes("/signed.exe", file);
  FILE* f = plat::OpenFile("/signed.exe", "rb");
  QV_FUZZ_CHECK(f != nullptr);
  const PeCertificateTable fromFile = ScanPeCertificateTable(f, fileSize);
  plat::CloseFile(f);
  QV_FUZZ_CHECK(Same(fromMemory, fromFile));

  const PeCertificateTable& t = fromMemory;
  const std::vector<uint64_t> ends = PayloadEndCandidates(t, fileSize);
  QV_FUZZ_CHECK(!ends.empty());
  for (uint64_t end : ends) QV_FUZZ_CHECK(end <= fileSize);
  if (!t.found) {
    QV_FUZZ_CHECK(ends.size() == 1 && ends[0] == fileSize);
    return 0;
  }
  QV_FUZZ_CHECK(t.isPe);
  QV_FUZZ_CHECK(t.tableSize > 0 && t.tableOffset + t.tableSize == fileSize);
  QV_FUZZ_CHECK(t.checksumOffset + 4 <= t.tableOffset && t.directoryOffset + 8 <= t.tableOffset);
  QV_FUZZ_CHECK(t.zerosBefore <= 7 && t.zerosBefore <= t.tableOffset);
  for (uint32_t k = 1; k <= t.zerosBefore; ++k) QV_FUZZ_CHECK(file[t.tableOffset - k] == '\0');
  const uint64_t unsignedLength = t.UnsignedLength();
  QV_FUZZ_CHECK(unsignedLength <= t.tableOffset && unsignedLength + t.zerosBefore >= t.tableOffset);
  QV_FUZZ_CHECK(ends.size() == t.zerosBefore + 1u && ends[0] == t.tableOffset);
  return 0;
}
