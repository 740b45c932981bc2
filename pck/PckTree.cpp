#include "pck/PckTree.h"

bool PckParseIndex(std::string_view bytes, PckHeader& header, std::vector<PckRecord>& records,
                   std::string* why) {
  auto fail = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  records.clear();
  if (bytes.size() < kPckHeaderSize) return fail("index shorter than its 64-byte header");
  header = PckHeader::Decode(reinterpret_cast<const uint8_t*>(bytes.data()));
  if (!header.IsValid()) return fail("index header has a wrong magic text or version");
  size_t body = bytes.size() - kPckHeaderSize;
  if (body % kPckRecordSize != 0) return fail("index ends in a partial record");
  records.reserve(body / kPckRecordSize);
  for (size_t off = kPckHeaderSize; off < bytes.size(); off += kPckRecordSize)
    records.push_back(PckRecord::Decode(reinterpret_cast<const uint8_t*>(bytes.data() + off)));
  return true;
}

std::string_view PckNameAt(std::string_view nameTable, uint32_t offset) {
  if (offset >= nameTable.size()) return {};
  size_t len = static_cast<unsigned char>(nameTable[offset]);
  std::string_view entry = nameTable.substr(offset + 1, len);
  size_t zero = entry.find('\0');
  return zero == std::string_view::npos ? entry : entry.substr(0, zero);
}

namespace {
bool NameInside(std::string_view nameTable, uint32_t offset) {
  if (offset >= nameTable.size()) return false;
  size_t len = static_cast<unsigned char>(nameTable[offset]);
  return len >= 1 && uint64_t(offset) + 1 + len <= nameTable.size();
}
}  // namespace

bool PckCheckTree(const std::vector<PckRecord>& records, std::string_view nameTable, std::string* why) {
  auto fail = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  if (records.empty()) return true;
  if (records[0].type != kPckFolder) return fail("record 0 is not the root folder");
  std::vector<size_t> open;  // indices of folders not yet closed
  for (size_t i = 0; i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (i > 0 && open.empty()) return fail("record " + std::to_string(i) + " lies after the root's end");
    switch (r.type) {
      case kPckFile:
      case kPckFolder:
        if (i > 0 && !NameInside(nameTable, r.nameOffset))
          return fail("record " + std::to_string(i) + " has a name outside the name table");
        if (r.type == kPckFolder) open.push_back(i);
        break;
      case kPckFolderEnd: {
        if (open.empty()) return fail("record " + std::to_string(i) + " closes no folder");
        size_t f = open.back();
        open.pop_back();
        if (uint64_t(f) + records[f].Span() + 1 != i)
          return fail("folder record " + std::to_string(f) + " has a wrong span");
        break;
      }
      default:
        return fail("record " + std::to_string(i) + " has unknown type " + std::to_string(r.type));
    }
  }
  if (!open.empty()) return fail("folder record " + std::to_string(open.back()) + " is never closed");
  return true;
}

std::string PckEncodeNameEntry(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out.push_back(static_cast<char>(static_cast<uint8_t>(name.size() + 1)));
  out.append(name);
  out.push_back('\0');
  return out;
}

std::string PckEncodeIndex(const PckHeader& header, const std::vector<PckRecord>& records) {
  std::string out(kPckHeaderSize + kPckRecordSize * records.size(), '\0');
  auto* p = reinterpret_cast<uint8_t*>(out.data());
  header.Encode(p);
  p += kPckHeaderSize;
  for (const PckRecord& r : records) {
    r.Encode(p);
    p += kPckRecordSize;
  }
  return out;
}

std::string CPckChildMap::Key(uint32_t folder, std::string_view name) {
  std::string key(4, '\0');
  PutLE32(reinterpret_cast<uint8_t*>(key.data()), folder);
  return key + PckFoldName(name);
}

bool CPckChildMap::Insert(uint32_t folder, std::string_view name, uint32_t child) {
  return m_map.emplace(Key(folder, name), child).second;
}

int64_t CPckChildMap::Find(uint32_t folder, std::string_view name) const {
  auto it = m_map.find(Key(folder, name));
  return it == m_map.end() ? -1 : int64_t(it->second);
}

void CPckChildMap::Erase(uint32_t folder, std::string_view name) { m_map.erase(Key(folder, name)); }
