// The index of a package in memory, shared by the reader and the writer: the records in
// index order, the name table, each record's parent, and every folder's children by name
// for lookups in constant time. The reader builds one from what it loaded and only reads
// it; the editing writer changes it in place, so children are keyed by ids that stay
// with a record however far insertions and deletions move it in the table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pck/PckFormat.h"
#include "pck/PckTree.h"

class PckDirIterator;

class CPckIndex {
 public:
  // Takes the records (already checked by PckCheckTree) and the name table, and indexes
  // every folder's children; false (with `why`) when two children of one folder share a
  // name, which no lookup could tell apart.
  bool Build(std::vector<PckRecord> records, std::string names, std::string* why = nullptr);
  void Clear();

  const std::vector<PckRecord>& Records() const { return m_records; }
  PckRecord& Record(size_t index) { return m_records[index]; }
  size_t Size() const { return m_records.size(); }
  bool Empty() const { return m_records.empty(); }
  const std::string& Names() const { return m_names; }
  // The name of a record; "" for the root and for indices outside the table.
  std::string_view Name(int index) const;

  // Record index of the entry at a path ("" is the root), or -1. Names compare as the
  // package's names do; a name before the last must be a folder.
  int Find(std::string_view path) const;
  int FindChild(int folder, std::string_view name) const;
  // Follows `path` as far as it exists: the last record found (0 when the first name is
  // missing) with the names not found in `rest`, joined with "/"; -1 when a name before
  // the last resolves to a file.
  int FindDeepest(std::string_view path, std::string& rest) const;
  // The children of a folder record; null for anything else.
  std::unique_ptr<PckDirIterator> OpenDir(int index) const;

  // ---- changes ----
  // Appends a name entry's bytes to the name table; its offset.
  uint64_t AppendName(const std::string& entry);
  // Makes the name table `length` bytes long (after bytes reached the file but not the
  // table, so that later offsets agree with the file).
  void PadNames(size_t length);
  // Appends a record at the end of the table (sequential building) under `parent` (-1
  // for the root); a file or folder is entered among the parent's children by `name`.
  uint32_t Append(const PckRecord& record, int64_t parent, std::string_view name);
  // Puts records at `at` under `parent`, keeping ids, parents, spans and counts right;
  // the first of them is entered among the parent's children by `name`.
  void Insert(size_t at, const std::vector<PckRecord>& records, uint32_t parent, std::string_view name);
  // Removes record `index` and, for a folder, everything below it; the sizes of the
  // files removed, for the dead-byte count.
  uint64_t Erase(size_t index);

 private:
  void AdjustAncestors(uint32_t parent, int64_t spanDelta, int64_t childDelta);

  std::vector<PckRecord> m_records;
  std::string m_names;
  std::vector<int64_t> m_parents;     // parent record of each record, -1 for the root
  std::vector<uint32_t> m_ids;        // stable id of each record
  std::vector<uint32_t> m_indexOfId;  // record index of each id; kGone once removed
  CPckChildMap m_children;            // (folder id, name) -> child id
};
