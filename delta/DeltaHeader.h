// The fixed header at the start of a delta: which base content it applies to and what
// it makes of it. A patch carries a changed file as a delta under the reserved folder
// "~delta/" followed by the file's own path in the patch; the entry's content is this
// header and then one zstd frame of the result, compressed with the base as its prefix.
// Every integer is little-endian; nothing is padded.
//
//   offset size  field
//        0    8  magic "qvdelta" and a zero byte
//        8    4  version: 1, one zstd frame of the result, the base as a raw-content
//                prefix; 2, one zstd frame of the bytewise difference from the base
//                (result byte minus base byte, modulo 256), for a result of the base's
//                size: a region tinted or vertices moved by one offset change every
//                byte a little, and their difference is nearly all zeros
//       12    4  base size: the content size of the file the delta applies to
//       16   16  base MD5: the MD5 of that content
//       32    4  result size: the content size the delta makes
//       36   16  result MD5: the MD5 of that content
//       52       the zstd frame, up to the end of the entry
//
// The result lands where the file's own path would have put it, in the game's codec and
// password, and keeps the time stamp of the delta entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr char kDeltaFolder[] = "~delta";      // the reserved top folder of a patch
inline constexpr char kDeltaMagic[8] = {'q', 'v', 'd', 'e', 'l', 't', 'a', 0};
inline constexpr uint32_t kDeltaVersion = 1;            // the base as a prefix
inline constexpr uint32_t kDeltaVersionDifference = 2;  // the bytewise difference
inline constexpr size_t kDeltaHeaderSize = 52;

struct DeltaHeader {
  uint32_t version = kDeltaVersion;
  uint32_t baseSize = 0;
  uint8_t baseMd5[16] = {};
  uint32_t resultSize = 0;
  uint8_t resultMd5[16] = {};
};

void EncodeDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]);
// Reads a header from the first `length` bytes of `data`; false with `why` (a sentence
// without the file's name) when they are too few, are no delta or of an unknown version,
// or a difference whose sizes differ.
bool DecodeDeltaHeader(const uint8_t* data, size_t length, DeltaHeader& out, std::string& why);
// Whether the header's base is the content of `size` bytes with MD5 `md5`; false with
// `why` saying which of the two differs.
bool DeltaBaseMatches(const DeltaHeader& header, uint64_t size, const uint8_t md5[16], std::string& why);
