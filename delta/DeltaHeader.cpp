// The delta header, written and read byte by byte.
#include "delta/DeltaHeader.h"

#include <cstring>

namespace {

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void Put32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

}  // namespace

void EncodeDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaHeaderSize]) {
  std::memcpy(out, kDeltaMagic, 8);
  Put32(out + 8, header.version);
  Put32(out + 12, header.baseSize);
  std::memcpy(out + 16, header.baseMd5, 16);
  Put32(out + 32, header.resultSize);
  std::memcpy(out + 36, header.resultMd5, 16);
}

bool DecodeDeltaHeader(const uint8_t* data, size_t length, DeltaHeader& out, std::string& why) {
  if (length < kDeltaHeaderSize) {
    why = "the delta is shorter than its " + std::to_string(kDeltaHeaderSize) + "-byte header";
    return false;
  }
  if (std::memcmp(data, kDeltaMagic, 8) != 0) {
    why = "the file is no delta (its magic is wrong)";
    return false;
  }
  out.version = Get32(data + 8);
  if (out.version != kDeltaVersion && out.version != kDeltaVersionDifference) {
    why = "the delta has version " + std::to_string(out.version) + ", which this program does not know";
    return false;
  }
  out.baseSize = Get32(data + 12);
  std::memcpy(out.baseMd5, data + 16, 16);
  out.resultSize = Get32(data + 32);
  std::memcpy(out.resultMd5, data + 36, 16);
  if (out.version == kDeltaVersionDifference && out.resultSize != out.baseSize) {
    why = "the delta is a difference, but its result is not of its base's size";
    return false;
  }
  return true;
}

bool DeltaBaseMatches(const DeltaHeader& header, uint64_t size, const uint8_t md5[16], std::string& why) {
  if (size != header.baseSize) {
    why = "the delta applies to a file of " + std::to_string(header.baseSize) + " bytes, this one has " +
          std::to_string(size);
    return false;
  }
  if (std::memcmp(md5, header.baseMd5, 16) != 0) {
    why = "the delta applies to another content of this size (the MD5 differs)";
    return false;
  }
  return true;
}
