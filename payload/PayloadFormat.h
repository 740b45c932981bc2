// The payload that the updater carries at the end of its own executable: the image,
// the carried files' bytes one after the other, then a trailer (a 16-byte header, one
// 108-byte entry per file, the trailer size and a CRC-32 of the header and the first
// entry). Every integer is little-endian and unaligned, so the encodings are written
// byte by byte. CPayloadBuilder appends files to an image; the publisher's tool uses it.
//
// A publisher signs the updater after the payload is appended. Authenticode signing
// (osslsigncode, signtool) appends a certificate table after everything in the file,
// after zero padding to an 8-byte boundary, and points the PE security directory at it;
// the trailer then ends just before the table (and its padding) rather than at the end
// of the file, and the signature's hash covers the whole payload. ScanPeCertificateTable
// finds such a table, and every distance is measured from where the payload ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// ---- fixed values ----
inline constexpr char kPayloadMagic[] = "Pelbo,2004";  // stored as its 10 letters, no zero
inline constexpr size_t kPayloadMagicLength = 10;
inline constexpr size_t kPayloadHeaderSize = 16;
inline constexpr size_t kPayloadEntrySize = 108;
inline constexpr size_t kPayloadNameField = 100;
inline constexpr size_t kPayloadMaxName = kPayloadNameField - 1;  // the zero byte needs room
inline constexpr size_t kPayloadTailSize = 8;                     // trailer size, check value
// The check value covers the header and the first entry, nothing else.
inline constexpr size_t kPayloadCheckedBytes = kPayloadHeaderSize + kPayloadEntrySize;
// Smallest trailer a reader can take apart: header, first entry and the tail.
inline constexpr uint32_t kPayloadMinTrailer = uint32_t(kPayloadCheckedBytes + kPayloadTailSize);
inline constexpr size_t kPayloadMaxEntries = 0xFFFF;  // the count is 16 bits wide
inline constexpr size_t kPayloadChunk = 4096;

// 16 + 108 * count + 8: the bytes from the trailer header to the end of the file.
inline uint64_t PayloadTrailerSize(size_t count) {
  return kPayloadHeaderSize + uint64_t(kPayloadEntrySize) * count + kPayloadTailSize;
}

struct PayloadHeader {
  char magic[kPayloadMagicLength] = {};
  uint32_t imageLength = 0;  // also the offset of the first data block
  uint16_t count = 0;

  static PayloadHeader Make(uint32_t imageLength, uint16_t count);
  void Encode(uint8_t out[kPayloadHeaderSize]) const;
  static PayloadHeader Decode(const uint8_t in[kPayloadHeaderSize]);
};

// One carried file, kept as the 108 bytes of the trailer hold it.
struct PayloadEntry {
  uint32_t distance = 0;  // from the first byte of the data to the end of the file
  uint32_t size = 0;
  char name[kPayloadNameField] = {};  // zero-terminated unless all 100 bytes are used

  // The name up to its zero byte (all 100 bytes when there is none).
  std::string Name() const;
  // Zero-fills the field and copies the name; false (field untouched) when it does not
  // fit with its zero byte.
  bool SetName(std::string_view text);

  void Encode(uint8_t out[kPayloadEntrySize]) const;
  static PayloadEntry Decode(const uint8_t in[kPayloadEntrySize]);
};

// The CRC-32 of the first 124 trailer bytes.
uint32_t PayloadCheckValue(const uint8_t* trailer);

// The whole trailer for `entries` (at least one): header, entries, size and check value.
std::vector<uint8_t> EncodePayloadTrailer(uint32_t imageLength, const std::vector<PayloadEntry>& entries);

// ---- the certificate table of a signed Windows executable ----

// Reads exactly `length` bytes at `offset` into `out`; false when the source holds fewer.
using ByteReader = std::function<bool(uint64_t offset, uint8_t* out, size_t length)>;

// What the headers of a PE file say about its certificate table. Every offset is a file
// offset and lies inside the file.
struct PeCertificateTable {
  bool isPe = false;   // "MZ", "PE\0\0" and an optional header of magic 0x10B or 0x20B
  bool found = false;  // the security directory points at a table that ends at the file's end
  uint64_t checksumOffset = 0;   // the optional header's CheckSum (4 bytes)
  uint64_t directoryOffset = 0;  // data directory entry 4 (8 bytes: file offset, size)
  uint64_t tableOffset = 0;      // the table runs from here to the end of the file
  uint64_t tableSize = 0;
  uint32_t zerosBefore = 0;  // zero bytes just before the table, at most 7
  uint64_t rawDataEnd = 0;   // end of the headers, the sections' raw data and the symbols

  // The file as it was before signing: without the table and the signer's padding. Only
  // zero bytes past the image's own data count as padding, since a section or the
  // string table may end in zeros of its own.
  uint64_t UnsignedLength() const;
};

// Parses the DOS header, the PE signature, the COFF header and the optional header of a
// file of `fileSize` bytes, reading only inside it through `read`, in 64-bit arithmetic.
// A file that is not a PE, or whose security directory is empty, points outside the file
// or does not end exactly at its end, has no table (found is false).
PeCertificateTable ScanPeCertificateTable(uint64_t fileSize, const ByteReader& read);
// The same over bytes in memory, and over an open file (its position moves).
PeCertificateTable ScanPeCertificateTable(const uint8_t* data, size_t size);
PeCertificateTable ScanPeCertificateTable(FILE* file, uint64_t fileSize);

// Where the payload may end in a file of `fileSize` bytes, most likely first: the file's
// end, or, before a certificate table, the table's offset and each offset in the zero
// padding before it. Never empty.
std::vector<uint64_t> PayloadEndCandidates(const PeCertificateTable& table, uint64_t fileSize);

// Appends files to a copy of an image. Names are checked as they are added; the output
// is written beside its final name and moved into place only when complete, so a failed
// build never leaves half a file, and OUT may be the image itself.
class CPayloadBuilder {
 public:
  // Carries the file at `sourcePath` under `name`, which must be a bare file name of at
  // most 99 bytes, not yet used (ASCII letters compare without case, as the names meet
  // on a Windows disk). False with `why` otherwise.
  bool Add(const std::string& name, const std::string& sourcePath, std::string& why);
  size_t Count() const { return m_files.size(); }

  // Writes the image, the files and the trailer to `outPath`, which gets the image's run
  // permission. False with `why` when a file cannot be read completely, the output
  // cannot be written, or the result would not fit the format's 32-bit offsets.
  //
  // A PE image is padded with zeros so that the whole output is a multiple of 8 bytes: a
  // signer then appends its certificate table right after the trailer, with no padding.
  // A signed PE image loses its signature, which could not survive the appended files
  // anyway: the certificate table and its padding are left out of the copy, and the
  // security directory and the checksum are zeroed. `signatureRemoved` tells the caller,
  // who should have OUT signed again.
  bool Write(const std::string& imagePath, const std::string& outPath, std::string& why,
             bool* signatureRemoved = nullptr) const;

 private:
  struct File {
    std::string name, path;
  };
  std::vector<File> m_files;
};
