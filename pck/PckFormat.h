// The package format: three files with one base name, an index (.idx: a 64-byte header
// and 33-byte records listing the tree in pre-order), a name table (.nam: length-prefixed
// names, append-only) and a data file (.dat: per-file entries of a 16-byte header, a
// block table and compressed, enciphered blocks). Every integer is little-endian and
// unaligned, so the encodings below are written byte by byte and never rely on struct
// layout.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "io/Limits.h"

// ---- fixed values ----
inline constexpr char kPckMagic[] = "qellib, 2003";  // 12 letters and a zero byte
inline constexpr uint32_t kPckVersion = 2;
inline constexpr uint32_t kPckDefaultBlockSize = 0x10000;
// Largest block size a reader or writer accepts. The format allows any 32-bit value, but
// every reader allocates one block; a hostile header must not make it allocate gigabytes.
inline constexpr uint32_t kPckMaxBlockSize = 1u << 24;
inline constexpr size_t kPckHeaderSize = 64;
inline constexpr size_t kPckRecordSize = 33;
inline constexpr size_t kPckEntryHeaderSize = 16;
inline constexpr size_t kPckBlockHeaderSize = 5;
inline constexpr size_t kPckMaxNameLength = 254;  // the length byte holds name + zero
inline constexpr int kPckMaxPathNames = 64;
// Offsets into .nam and .dat, and the dead-byte count, are 32-bit in the index.
inline constexpr uint64_t kPckMaxOffset = 0xFFFFFFFFull;
inline constexpr size_t kPckMaxPassword = kMaxPasswordBytes;
// The password with which the game's packages and the patch are enciphered.
inline constexpr char kPckGamePassword[] = "pelnirodvastemuk";

// ---- little-endian helpers ----
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// ---- codecs ----
enum class PckCodec : uint8_t { Stored = 0, Zlib = 1, Lzo1x = 2 };
// The codec of a block header byte; any unknown value is read as Stored.
PckCodec PckCodecFromByte(uint8_t value);

// ---- header ----
struct PckHeader {
  char magic[16];
  uint32_t version;
  uint32_t blockSize;
  uint32_t deadBytes;
  uint8_t reserved[36];

  // The values of a new package: magic, version 2, block size 65536, no dead bytes.
  static PckHeader Default(uint32_t blockSize = kPckDefaultBlockSize);
  void Encode(uint8_t out[kPckHeaderSize]) const;
  static PckHeader Decode(const uint8_t in[kPckHeaderSize]);
  // The reader's test: magic up to its zero byte and a version of at least 2.
  bool IsValid() const;
  // A block size that this implementation can work with.
  bool HasUsableBlockSize() const { return blockSize >= 1 && blockSize <= kPckMaxBlockSize; }
};

// ---- index records ----
enum PckRecordType : uint8_t { kPckFile = 1, kPckFolder = 2, kPckFolderEnd = 3 };

struct PckRecord {
  uint8_t type = 0;
  uint32_t nameOffset = 0;
  int32_t stamp = 0;
  uint8_t digest[16] = {};
  uint32_t dataOffset = 0;  // a folder's child count
  uint32_t size = 0;        // a folder's span: records between it and its end record

  uint32_t ChildCount() const { return dataOffset; }
  uint32_t Span() const { return size; }
  void SetChildCount(uint32_t n) { dataOffset = n; }
  void SetSpan(uint32_t n) { size = n; }

  static PckRecord Folder(uint32_t nameOffset);
  static PckRecord FolderEnd() { PckRecord r; r.type = kPckFolderEnd; return r; }

  void Encode(uint8_t out[kPckRecordSize]) const;
  static PckRecord Decode(const uint8_t in[kPckRecordSize]);
};

// ---- names and files ----
// Names compare without case for ASCII letters only; the bytes of a code page 936
// character (a lead byte 0x81..0xFE and the byte after it) compare exactly.
bool PckNamesEqual(std::string_view a, std::string_view b);
// The name with its single-byte ASCII letters in upper case: two names are equal under
// PckNamesEqual exactly when their folded forms are equal byte for byte.
std::string PckFoldName(std::string_view name);
// h = h*31 + c over the bytes, a..z folded to A..Z, in 32-bit arithmetic.
uint32_t PckNameHash(std::string_view name);
// A name that can be stored: 1 to 254 bytes, no zero byte, no separator, not "." or "..".
bool PckNameIsStorable(std::string_view name);

// "<base>.idx", "<base>.nam", "<base>.dat".
std::string PckIndexName(std::string_view base);
std::string PckNameTableName(std::string_view base);
std::string PckDataName(std::string_view base);

// Blocks of a file: ceil(size / blockSize).
inline uint32_t PckBlockCount(uint32_t size, uint32_t blockSize) {
  return uint32_t((uint64_t(size) + blockSize - 1) / blockSize);
}
// The 16-byte entry header: zero, the block count, eleven zeros.
void PckEncodeEntryHeader(uint32_t blockCount, uint8_t out[kPckEntryHeaderSize]);
// Length of a whole entry whose blocks hold `payloadBytes` stored bytes.
inline uint64_t PckEntryLength(uint32_t blockCount, uint64_t payloadBytes) {
  return kPckEntryHeaderSize + 4ull * blockCount + kPckBlockHeaderSize * uint64_t(blockCount) +
         payloadBytes;
}

// Splits a path at "/" and "\\" (never inside a two-byte character). Empty names are
// kept, so leading, trailing and doubled separators give names that match nothing.
// False when the path holds more than 64 names. The empty path gives no names.
bool PckSplitPath(std::string_view path, std::vector<std::string_view>& names);
