// Byte-exact trailer encodings and the builder that appends carried files to an image.
#include "payload/PayloadFormat.h"

#include <cstdio>
#include <cstring>

#include "io/Digest.h"
#include "io/File.h"
#include "pck/PckFormat.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

PayloadHeader PayloadHeader::Make(uint32_t imageLength, uint16_t count) {
  PayloadHeader h;
  std::memcpy(h.magic, kPayloadMagic, kPayloadMagicLength);
  h.imageLength = imageLength;
  h.count = count;
  return h;
}

void PayloadHeader::Encode(uint8_t out[kPayloadHeaderSize]) const {
  std::memcpy(out, magic, kPayloadMagicLength);
  PutLE32(out + 10, imageLength);
  out[14] = uint8_t(count);
  out[15] = uint8_t(count >> 8);
}

PayloadHeader PayloadHeader::Decode(const uint8_t in[kPayloadHeaderSize]) {
  PayloadHeader h;
  std::memcpy(h.magic, in, kPayloadMagicLength);
  h.imageLength = GetLE32(in + 10);
  h.count = uint16_t(in[14] | in[15] << 8);
  return h;
}

std::string PayloadEntry::Name() const {
  const void* zero = std::memchr(name, 0, kPayloadNameField);
  size_t length = zero ? size_t(static_cast<const char*>(zero) - name) : kPayloadNameField;
  return std::string(name, length);
}

bool PayloadEntry::SetName(std::string_view text) {
  if (text.size() > kPayloadMaxName || text.find('\0') != std::string_view::npos) return false;
  std::memset(name, 0, kPayloadNameField);
  std::memcpy(name, text.data(), text.size());
  return true;
}

void PayloadEntry::Encode(uint8_t out[kPayloadEntrySize]) const {
  PutLE32(out, distance);
  PutLE32(out + 4, size);
  std::memcpy(out + 8, name, kPayloadNameField);
}

PayloadEntry PayloadEntry::Decode(const uint8_t in[kPayloadEntrySize]) {
  PayloadEntry e;
  e.distance = GetLE32(in);
  e.size = GetLE32(in + 4);
  std::memcpy(e.name, in + 8, kPayloadNameField);
  return e;
}

uint32_t PayloadCheckValue(const uint8_t* trailer) { return Crc32(trailer, kPayloadCheckedBytes); }

std::vector<uint8_t> EncodePayloadTrailer(uint32_t imageLength, const std::vector<PayloadEntry>& entries) {
  const size_t count = entries.size();
  // A trailer without a first entry would leave the check value nothing to cover.
  std::vector<uint8_t> out(size_t(PayloadTrailerSize(count < 1 ? 1 : count)), 0);
  PayloadHeader::Make(imageLength, uint16_t(count)).Encode(out.data());
  for (size_t i = 0; i < count; ++i) entries[i].Encode(out.data() + kPayloadHeaderSize + kPayloadEntrySize * i);
  const size_t tail = out.size() - kPayloadTailSize;
  PutLE32(out.data() + tail, uint32_t(out.size()));
  PutLE32(out.data() + tail + 4, PayloadCheckValue(out.data()));
  return out;
}

// ---- builder ----

bool CPayloadBuilder::Add(const std::string& name, const std::string& sourcePath, std::string& why) {
  if (!plat::IsSafeName(name)) {
    why = "\"" + name + "\" is not a bare file name that is safe on a disk";
    return false;
  }
  if (name.size() > kPayloadMaxName) {
    why = "\"" + name + "\" is longer than " + std::to_string(kPayloadMaxName) + " bytes";
    return false;
  }
  if (m_files.size() >= kPayloadMaxEntries) {
    why = "more than " + std::to_string(kPayloadMaxEntries) + " files";
    return false;
  }
  for (const File& f : m_files) {
    if (PckNamesEqual(f.name, name)) {
      why = "two files are named \"" + name + "\"";
      return false;
    }
  }
  m_files.push_back({name, sourcePath});
  return true;
}

namespace {

bool SizeOfFile(const std::string& path, uint64_t& size, std::string& why) {
  plat::FileInfo info;
  if (!plat::StatPath(path, info)) {
    why = path + ": no such file";
    return false;
  }
  if (info.isDir) {
    why = path + ": is a folder";
    return false;
  }
  size = uint64_t(info.size);
  return true;
}

// Copies exactly `length` bytes of the file at `path` to `out`.
bool AppendFile(const std::string& path, uint64_t length, CFile& out, std::string& why) {
  CFile in;
  if (!in.Open(path, "rb")) {
    why = in.Error();
    return false;
  }
  std::vector<uint8_t> buffer(65536);
  while (length > 0) {
    const size_t want = length < buffer.size() ? size_t(length) : buffer.size();
    if (!in.ReadExact(buffer.data(), want)) {
      why = path + ": shorter than it was a moment ago, or unreadable";
      return false;
    }
    if (!out.WriteAll(buffer.data(), want)) {
      why = out.Error();
      return false;
    }
    length -= want;
  }
  return true;
}

}  // namespace

bool CPayloadBuilder::Write(const std::string& imagePath, const std::string& outPath, std::string& why) const {
  if (m_files.empty()) {
    why = "no files to carry";
    return false;
  }
  uint64_t imageLength = 0;
  if (!SizeOfFile(imagePath, imageLength, why)) return false;
  if (imageLength > UINT32_MAX) {
    why = imagePath + ": the image is 4 GiB or larger";
    return false;
  }
  std::vector<uint64_t> sizes(m_files.size());
  uint64_t dataBytes = 0;
  for (size_t i = 0; i < m_files.size(); ++i) {
    if (!SizeOfFile(m_files[i].path, sizes[i], why)) return false;
    dataBytes += sizes[i];
  }
  // The first entry's distance spans every data byte and the trailer.
  const uint64_t payloadBytes = dataBytes + PayloadTrailerSize(m_files.size());
  if (payloadBytes > UINT32_MAX) {
    why = "the carried files and the trailer reach 4 GiB";
    return false;
  }

  std::vector<PayloadEntry> entries(m_files.size());
  uint64_t distance = payloadBytes;
  for (size_t i = 0; i < m_files.size(); ++i) {
    entries[i].distance = uint32_t(distance);
    entries[i].size = uint32_t(sizes[i]);
    entries[i].SetName(m_files[i].name);  // checked by Add
    distance -= sizes[i];
  }
  const std::vector<uint8_t> trailer = EncodePayloadTrailer(uint32_t(imageLength), entries);

  // Written beside the output and renamed over it: OUT may be IMAGE itself, and a failed
  // build leaves whatever OUT was.
  const std::string scratch = outPath + ".payload-new";
  bool ok = false;
  {
    CFile out;
    if (!out.Create(scratch)) {
      why = out.Error();
      return false;
    }
    ok = AppendFile(imagePath, imageLength, out, why);
    for (size_t i = 0; ok && i < m_files.size(); ++i) ok = AppendFile(m_files[i].path, sizes[i], out, why);
    if (ok && !(out.WriteAll(trailer.data(), trailer.size()) && out.Flush() && out.Close())) {
      why = out.Error();
      ok = false;
    }
  }
  if (ok && !plat::ReplaceFile(scratch, outPath)) {
    why = OsErrorText("replace", outPath);
    ok = false;
  }
  if (!ok && plat::FileExists(scratch)) plat::DeleteFile(scratch);
  return ok;
}
