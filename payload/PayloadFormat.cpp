// Byte-exact trailer encodings, the scan for a signed executable's certificate table,
// and the builder that appends carried files to an image.
#include "payload/PayloadFormat.h"

#include <cstdio>
#include <cstring>

#include "io/Digest.h"
#include "io/File.h"
#include "io/FileStream.h"
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

// ---- the certificate table of a signed Windows executable ----

namespace {

// Offsets in the PE headers (the Microsoft PE/COFF layout).
constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kDosNewHeaderField = 0x3C;  // e_lfanew: where "PE\0\0" is
constexpr uint64_t kCoffHeaderSize = 20;
constexpr uint64_t kCoffSectionCount = 2;      // in the COFF header
constexpr uint64_t kCoffSymbolTable = 8;       // PointerToSymbolTable
constexpr uint64_t kCoffSymbolCount = 12;      // NumberOfSymbols
constexpr uint64_t kCoffSymbolSize = 18;
constexpr uint64_t kCoffOptionalSize = 16;     // SizeOfOptionalHeader
constexpr uint64_t kOptSizeOfHeaders = 60;
constexpr uint64_t kOptCheckSum = 64;
constexpr uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr uint64_t kSecurityDirectory = 4;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionRawSize = 16;  // SizeOfRawData, then PointerToRawData
// A certificate table holds at least one WIN_CERTIFICATE header.
constexpr uint64_t kMinCertificateTable = 8;
// Signers pad the file to an 8-byte boundary before the table.
constexpr uint32_t kMaxSignerPadding = 7;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The end of the image's own bytes: the headers, every section's raw data and the COFF
// symbol and string tables that an unstripped image carries after them. 0 when any of
// them cannot be read (then no zero byte counts as padding).
uint64_t RawDataEnd(const ByteReader& read, const uint8_t* coff, uint64_t sectionTable, uint64_t headersSize) {
  uint64_t end = headersSize;
  const uint16_t sections = Le16(coff + kCoffSectionCount);
  for (uint16_t i = 0; i < sections; ++i) {
    uint8_t raw[8];
    if (!read(sectionTable + kSectionHeaderSize * i + kSectionRawSize, raw, sizeof raw)) return 0;
    const uint64_t size = GetLE32(raw), pointer = GetLE32(raw + 4);
    if (size != 0 && pointer + size > end) end = pointer + size;
  }
  const uint64_t symbols = GetLE32(coff + kCoffSymbolTable);
  if (symbols != 0) {
    // The string table follows the symbols and begins with its own length.
    const uint64_t strings = symbols + kCoffSymbolSize * GetLE32(coff + kCoffSymbolCount);
    uint8_t length[4];
    if (!read(strings, length, sizeof length)) return 0;
    const uint64_t stringsEnd = strings + (GetLE32(length) < 4 ? 4 : GetLE32(length));
    if (stringsEnd > end) end = stringsEnd;
  }
  return end;
}

}  // namespace

uint64_t PeCertificateTable::UnsignedLength() const {
  // Padding makes the table start on an 8-byte boundary: a table elsewhere had none, and
  // where the image's own bytes end is unknown no zero byte is known to be padding.
  uint64_t padding = zerosBefore;
  if (tableOffset % 8 != 0 || rawDataEnd == 0)
    padding = 0;
  else if (tableOffset - padding < rawDataEnd)
    padding = rawDataEnd < tableOffset ? tableOffset - rawDataEnd : 0;
  return tableOffset - padding;
}

PeCertificateTable ScanPeCertificateTable(uint64_t fileSize, const ByteReader& read) {
  // Every read is checked against the file's size first, so a reader that trusts its
  // arguments is never asked for bytes beyond it.
  auto get = [&](uint64_t offset, uint8_t* out, size_t length) {
    return offset <= fileSize && length <= fileSize - offset && read(offset, out, length);
  };
  PeCertificateTable t;
  uint8_t dos[kDosHeaderSize];
  if (!get(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return t;
  const uint64_t pe = GetLE32(dos + kDosNewHeaderField);
  uint8_t coff[4 + kCoffHeaderSize + 2];  // signature, COFF header, optional header magic
  if (!get(pe, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return t;
  const uint64_t optionalSize = Le16(coff + 4 + kCoffOptionalSize);
  const uint16_t magic = Le16(coff + 4 + kCoffHeaderSize);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return t;
  t.isPe = true;

  const uint64_t opt = pe + 4 + kCoffHeaderSize;
  const uint64_t countField = magic == kPe32Magic ? 92 : 108;  // NumberOfRvaAndSizes
  const uint64_t directories = countField + 4;
  const uint64_t entry = directories + 8 * kSecurityDirectory;
  // The entry must lie inside the optional header as the COFF header sizes it.
  if (optionalSize < entry + 8) return t;
  uint8_t header[kOptCheckSum + 4];
  uint8_t count[4], directory[8];
  if (!get(opt, header, sizeof header) || !get(opt + countField, count, 4) || GetLE32(count) <= kSecurityDirectory ||
      !get(opt + entry, directory, sizeof directory))
    return t;
  const uint64_t tableOffset = GetLE32(directory), tableSize = GetLE32(directory + 4);
  // The table must follow the headers and end exactly at the end of the file; the sum
  // of two 32-bit values cannot wrap in 64 bits.
  if (tableSize < kMinCertificateTable || tableOffset < opt + entry + 8 || tableOffset + tableSize != fileSize)
    return t;

  t.found = true;
  t.checksumOffset = opt + kOptCheckSum;
  t.directoryOffset = opt + entry;
  t.tableOffset = tableOffset;
  t.tableSize = tableSize;
  uint8_t before[kMaxSignerPadding] = {};
  const uint32_t look = uint32_t(tableOffset < kMaxSignerPadding ? tableOffset : kMaxSignerPadding);
  if (get(tableOffset - look, before, look))
    while (t.zerosBefore < look && before[look - 1 - t.zerosBefore] == 0) ++t.zerosBefore;
  t.rawDataEnd = RawDataEnd(get, coff + 4, opt + optionalSize, GetLE32(header + kOptSizeOfHeaders));
  return t;
}

PeCertificateTable ScanPeCertificateTable(const uint8_t* data, size_t size) {
  return ScanPeCertificateTable(size, [data](uint64_t offset, uint8_t* out, size_t length) {
    std::memcpy(out, data + offset, length);  // bounds checked by the scan
    return true;
  });
}

PeCertificateTable ScanPeCertificateTable(FILE* file, uint64_t fileSize) {
  return ScanPeCertificateTable(fileSize, [file](uint64_t offset, uint8_t* out, size_t length) {
    return plat::SeekFile(file, int64_t(offset), SEEK_SET) == 0 && fread(out, 1, length, file) == length;
  });
}

std::vector<uint64_t> PayloadEndCandidates(const PeCertificateTable& table, uint64_t fileSize) {
  if (!table.found) return {fileSize};
  std::vector<uint64_t> ends;
  for (uint32_t k = 0; k <= table.zerosBefore; ++k) ends.push_back(table.tableOffset - k);
  return ends;
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

// A run of bytes that the copy of an image writes as zeros.
struct ZeroedField {
  uint64_t offset, length;
};

// Copies exactly `length` bytes of the file at `path` to `out`, writing zeros over the
// `zeroed` fields.
bool AppendFile(const std::string& path, uint64_t length, CFile& out, std::string& why,
                const std::vector<ZeroedField>& zeroed = {}) {
  CFile in;
  if (!in.Open(path, "rb")) {
    why = in.Error();
    return false;
  }
  std::vector<uint8_t> buffer(65536);
  for (uint64_t at = 0; at < length;) {
    const size_t want = length - at < buffer.size() ? size_t(length - at) : buffer.size();
    if (!in.ReadExact(buffer.data(), want)) {
      why = path + ": shorter than it was a moment ago, or unreadable";
      return false;
    }
    for (const ZeroedField& z : zeroed) {
      const uint64_t from = z.offset > at ? z.offset : at;
      const uint64_t to = z.offset + z.length < at + want ? z.offset + z.length : at + want;
      if (from < to) std::memset(buffer.data() + (from - at), 0, size_t(to - from));
    }
    if (!out.WriteAll(buffer.data(), want)) {
      why = out.Error();
      return false;
    }
    at += want;
  }
  return true;
}

// The certificate table of the image at `path` (found is false for any other file).
bool ScanImage(const std::string& path, uint64_t size, PeCertificateTable& table, std::string& why) {
  UniqueFile file(plat::OpenFile(path, "rb"));
  if (!file) {
    why = OsErrorText("open", path);
    return false;
  }
  table = ScanPeCertificateTable(file.get(), size);
  return true;
}

}  // namespace

bool CPayloadBuilder::Write(const std::string& imagePath, const std::string& outPath, std::string& why,
                            bool* signatureRemoved) const {
  if (signatureRemoved) *signatureRemoved = false;
  if (m_files.empty()) {
    why = "no files to carry";
    return false;
  }
  uint64_t imageFileSize = 0;
  PeCertificateTable signature;
  if (!SizeOfFile(imagePath, imageFileSize, why) || !ScanImage(imagePath, imageFileSize, signature, why))
    return false;
  // A signature covers the image as it was signed; with files appended it no longer
  // verifies, so the copy leaves it out: no table, an empty security directory, and no
  // checksum (0 is valid; the signer writes a new one).
  const uint64_t copied = signature.found ? signature.UnsignedLength() : imageFileSize;
  std::vector<ZeroedField> zeroed;
  if (signature.found) zeroed = {{signature.checksumOffset, 4}, {signature.directoryOffset, 8}};

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
  // Zeros after a PE image make the whole file a multiple of 8 bytes, so that a signer
  // appends its table right after the trailer. Other images stay as they are.
  const uint64_t padding = signature.isPe ? (8 - (copied + payloadBytes) % 8) % 8 : 0;
  const uint64_t imageLength = copied + padding;
  if (imageLength > UINT32_MAX) {
    why = imagePath + ": the image is 4 GiB or larger";
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
    const uint8_t zeros[8] = {};
    ok = AppendFile(imagePath, copied, out, why, zeroed);
    if (ok && !out.WriteAll(zeros, size_t(padding))) {
      why = out.Error();
      ok = false;
    }
    for (size_t i = 0; ok && i < m_files.size(); ++i) ok = AppendFile(m_files[i].path, sizes[i], out, why);
    if (ok && !(out.WriteAll(trailer.data(), trailer.size()) && out.Flush() && out.Close())) {
      why = out.Error();
      ok = false;
    }
  }
  // The image's run permission is given to the finished file before it takes OUT's
  // name, so OUT never appears as a program that cannot be started.
  if (ok && !plat::CopyRunPermission(imagePath, scratch)) {
    why = OsErrorText("give the run permission to", outPath);
    ok = false;
  }
  if (ok && !plat::ReplaceFile(scratch, outPath)) {
    why = OsErrorText("replace", outPath);
    ok = false;
  }
  if (!ok && plat::FileExists(scratch)) plat::DeleteFile(scratch);
  if (ok && signatureRemoved) *signatureRemoved = signature.found;
  return ok;
}
