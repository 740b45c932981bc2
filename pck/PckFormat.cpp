// Byte-exact encodings of the package header, index records and entry headers.
#include "pck/PckFormat.h"

#include "platform/PathText.h"

PckCodec PckCodecFromByte(uint8_t value) {
  switch (value) {
    case 1: return PckCodec::Zlib;
    case 2: return PckCodec::Lzo1x;
    default: return PckCodec::Stored;
  }
}

PckHeader PckHeader::Default(uint32_t blockSize) {
  PckHeader h{};
  std::memcpy(h.magic, kPckMagic, sizeof kPckMagic);
  h.version = kPckVersion;
  h.blockSize = blockSize;
  h.deadBytes = 0;
  return h;
}

void PckHeader::Encode(uint8_t out[kPckHeaderSize]) const {
  std::memcpy(out, magic, 16);
  PutLE32(out + 16, version);
  PutLE32(out + 20, blockSize);
  PutLE32(out + 24, deadBytes);
  std::memcpy(out + 28, reserved, 36);
}

PckHeader PckHeader::Decode(const uint8_t in[kPckHeaderSize]) {
  PckHeader h{};
  std::memcpy(h.magic, in, 16);
  h.version = GetLE32(in + 16);
  h.blockSize = GetLE32(in + 20);
  h.deadBytes = GetLE32(in + 24);
  std::memcpy(h.reserved, in + 28, 36);
  return h;
}

bool PckHeader::IsValid() const {
  // Compare the text and its terminating zero; bytes after it are not looked at.
  return std::memcmp(magic, kPckMagic, sizeof kPckMagic) == 0 && version >= kPckVersion;
}

PckRecord PckRecord::Folder(uint32_t nameOffset) {
  PckRecord r;
  r.type = kPckFolder;
  r.nameOffset = nameOffset;
  return r;
}

void PckRecord::Encode(uint8_t out[kPckRecordSize]) const {
  out[0] = type;
  PutLE32(out + 1, nameOffset);
  PutLE32(out + 5, static_cast<uint32_t>(stamp));
  std::memcpy(out + 9, digest, 16);
  PutLE32(out + 25, dataOffset);
  PutLE32(out + 29, size);
}

PckRecord PckRecord::Decode(const uint8_t in[kPckRecordSize]) {
  PckRecord r;
  r.type = in[0];
  r.nameOffset = GetLE32(in + 1);
  r.stamp = static_cast<int32_t>(GetLE32(in + 5));
  std::memcpy(r.digest, in + 9, 16);
  r.dataOffset = GetLE32(in + 25);
  r.size = GetLE32(in + 29);
  return r;
}

namespace {
inline unsigned char FoldUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
}  // namespace

bool PckNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (plat::IsLeadByte(x) && i + 1 < a.size()) {
      // a two-byte character compares exactly, even where its second byte is a letter
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldUpper(x) != FoldUpper(y)) {
      return false;
    }
  }
  return true;
}

std::string PckFoldName(std::string_view name) {
  std::string out(name);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (plat::IsLeadByte(c) && i + 1 < out.size())
      ++i;
    else
      out[i] = static_cast<char>(FoldUpper(c));
  }
  return out;
}

uint32_t PckNameHash(std::string_view name) {
  uint32_t h = 0;
  for (unsigned char c : name) h = h * 31 + FoldUpper(c);
  return h;
}

bool PckNameIsStorable(std::string_view name) {
  if (name.empty() || name.size() > kPckMaxNameLength) return false;
  if (name.find('\0') != std::string_view::npos) return false;
  // "." and ".." would name other folders once a tree is written out to a disk.
  if (name == "." || name == "..") return false;
  return plat::LastSeparator(name) == std::string_view::npos;
}

std::string PckIndexName(std::string_view base) { return std::string(base) + ".idx"; }
std::string PckNameTableName(std::string_view base) { return std::string(base) + ".nam"; }
std::string PckDataName(std::string_view base) { return std::string(base) + ".dat"; }

void PckEncodeEntryHeader(uint32_t blockCount, uint8_t out[kPckEntryHeaderSize]) {
  std::memset(out, 0, kPckEntryHeaderSize);
  PutLE32(out + 1, blockCount);
}

bool PckSplitPath(std::string_view path, std::vector<std::string_view>& names) {
  names.clear();
  if (path.empty()) return true;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && plat::IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (i == path.size() || plat::IsSeparator(path[i])) {
      if (names.size() == kPckMaxPathNames) return false;
      names.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return true;
}
