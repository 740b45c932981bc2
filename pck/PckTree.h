// The index as a whole: parsing the bytes of an .idx, checking that its records form a
// well-made tree over a given name table, and encoding it again. The reader and the
// editing writer both refuse an index that fails these checks, so neither ever follows
// a span or a name offset out of its table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pck/PckFormat.h"

// Header and records of an .idx image. False when the header is short or not valid, or
// when the records end in a partial one.
bool PckParseIndex(std::string_view bytes, PckHeader& header, std::vector<PckRecord>& records,
                   std::string* why = nullptr);

// Checks the tree: record 0 is the root folder, every folder is closed by its own end
// record and the root's end is the last record, every span matches the records between
// a folder and its end, no record has an unknown type, and every file and folder name
// lies inside the name table. An index without records passes (it holds nothing).
bool PckCheckTree(const std::vector<PckRecord>& records, std::string_view nameTable,
                  std::string* why = nullptr);

// The name at a name offset: the zero-terminated text after the length byte, cut to the
// entry's length. Empty when the offset is outside the table.
std::string_view PckNameAt(std::string_view nameTable, uint32_t offset);

// The bytes of a name entry: length byte, name, zero.
std::string PckEncodeNameEntry(std::string_view name);

// Header and records as the bytes of an .idx.
std::string PckEncodeIndex(const PckHeader& header, const std::vector<PckRecord>& records);

// Children by name, for every folder at once. Keys fold ASCII letters, so lookups follow
// the package's name rule; the first child inserted under a name wins.
class CPckChildMap {
 public:
  bool Insert(uint32_t folder, std::string_view name, uint32_t child);
  // The child, or -1.
  int64_t Find(uint32_t folder, std::string_view name) const;
  void Erase(uint32_t folder, std::string_view name);
  void Clear() { m_map.clear(); }
  void Reserve(size_t n) { m_map.reserve(n); }
  size_t Size() const { return m_map.size(); }

 private:
  static std::string Key(uint32_t folder, std::string_view name);
  std::unordered_map<std::string, uint32_t> m_map;
};
