// A minimal Windows executable for the payload tests, written byte by byte: a DOS header,
// "PE\0\0", a COFF header, an optional header (PE32 or PE32+) with 16 data directories
// and one section whose raw data ends the image. FakeSign does to such a file what an
// Authenticode signer does: zero padding to 8 bytes, a certificate table at the end, the
// security directory pointed at it and a new checksum.
#pragma once

#include <cstdint>
#include <string>

#include "pck/PckFormat.h"
#include "tests/support/TempDir.h"

namespace qvtest {

inline constexpr size_t kPeHeaderOffset = 0x80;          // e_lfanew
inline constexpr size_t kPeOptionalHeader = 0x80 + 24;   // after "PE\0\0" and the COFF header
inline constexpr size_t kPeHeadersSize = 0x200;          // the section's data starts here
inline constexpr uint32_t kPeImageChecksum = 0x1234567;  // what the unsigned image carries

inline void SetLE16(std::string& s, size_t at, uint16_t v) {
  s[at] = char(v & 0xFF);
  s[at + 1] = char(v >> 8);
}
inline void SetLE32(std::string& s, size_t at, uint32_t v) { ::PutLE32(reinterpret_cast<uint8_t*>(&s[at]), v); }
inline uint32_t LE32At(const std::string& s, size_t at) {
  return ::GetLE32(reinterpret_cast<const uint8_t*>(s.data() + at));
}

// Offsets of fields that tests forge, for either optional header.
inline size_t PeDirectoryCountField(bool pe32Plus) { return kPeOptionalHeader + (pe32Plus ? 108 : 92); }
inline size_t PeSecurityEntry(bool pe32Plus) { return PeDirectoryCountField(pe32Plus) + 4 + 8 * 4; }
inline size_t PeChecksumField() { return kPeOptionalHeader + 64; }
inline bool IsPe32Plus(const std::string& pe) {
  return uint8_t(pe[kPeOptionalHeader]) == 0x0B && uint8_t(pe[kPeOptionalHeader + 1]) == 0x02;
}

// The image: headers up to 0x200, then `sectionBytes` of section data, whose last
// `trailingZeros` bytes are zero (as a linker pads a section), then, with `symbols`, a
// COFF string table as an unstripped image ends: its length and one name and its zero.
inline std::string MinimalPe(bool pe32Plus, size_t sectionBytes = 0x200, size_t trailingZeros = 0,
                             bool symbols = false) {
  std::string pe(kPeHeadersSize, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  SetLE32(pe, 0x3C, uint32_t(kPeHeaderOffset));
  pe.replace(kPeHeaderOffset, 4, std::string("PE\0\0", 4));
  const size_t coff = kPeHeaderOffset + 4;
  const uint16_t optionalSize = pe32Plus ? 0xF0 : 0xE0;
  SetLE16(pe, coff, pe32Plus ? 0x8664 : 0x14C);  // machine
  SetLE16(pe, coff + 2, 1);                      // one section
  SetLE16(pe, coff + 16, optionalSize);
  SetLE16(pe, kPeOptionalHeader, pe32Plus ? 0x20B : 0x10B);
  SetLE32(pe, kPeOptionalHeader + 60, uint32_t(kPeHeadersSize));  // SizeOfHeaders
  SetLE32(pe, PeChecksumField(), kPeImageChecksum);
  SetLE32(pe, PeDirectoryCountField(pe32Plus), 16);
  const size_t section = kPeOptionalHeader + optionalSize;
  pe.replace(section, 5, ".text");
  SetLE32(pe, section + 16, uint32_t(sectionBytes));     // SizeOfRawData
  SetLE32(pe, section + 20, uint32_t(kPeHeadersSize));  // PointerToRawData
  std::string data = PseudoRandom(sectionBytes, 77);
  data.replace(sectionBytes - trailingZeros, trailingZeros, std::string(trailingZeros, '\0'));
  if (!symbols) return pe + data;
  SetLE32(pe, coff + 8, uint32_t(pe.size() + data.size()));  // PointerToSymbolTable, no symbols
  std::string strings("\0\0\0\0.debug_info", 15);
  strings += '\0';
  SetLE32(strings, 0, uint32_t(strings.size()));
  return pe + data + strings;
}

// Signs `file` as osslsigncode does, with a certificate table of random bytes behind a
// WIN_CERTIFICATE header. Returns the table's offset.
inline size_t FakeSign(std::string& file, uint32_t tableSize = 0x5B0) {
  file.append((8 - file.size() % 8) % 8, '\0');
  const size_t table = file.size();
  std::string certificate = PseudoRandom(tableSize, 78);
  SetLE32(certificate, 0, tableSize);
  SetLE16(certificate, 4, 0x0200);  // revision 2
  SetLE16(certificate, 6, 0x0002);  // PKCS#7 signed data
  file += certificate;
  const size_t entry = PeSecurityEntry(IsPe32Plus(file));
  SetLE32(file, entry, uint32_t(table));
  SetLE32(file, entry + 4, tableSize);
  SetLE32(file, PeChecksumField(), 0x7654321);
  return table;
}

}  // namespace qvtest
