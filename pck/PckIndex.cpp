#include "pck/PckIndex.h"

#include "pck/PckReader.h"

namespace {
constexpr uint32_t kGone = 0xFFFFFFFFu;
}  // namespace

bool CPckIndex::Build(std::vector<PckRecord> records, std::string names, std::string* why) {
  m_records = std::move(records);
  m_names = std::move(names);
  const size_t n = m_records.size();
  m_parents.assign(n, -1);
  m_ids.resize(n);
  m_indexOfId.resize(n);
  m_children.Clear();
  m_children.Reserve(n);
  std::vector<uint32_t> open;
  for (uint32_t i = 0; i < n; ++i) {
    m_ids[i] = m_indexOfId[i] = i;
    m_parents[i] = open.empty() ? -1 : int64_t(open.back());
    const PckRecord& r = m_records[i];
    if (r.type == kPckFolderEnd) {
      open.pop_back();
      // an end record belongs to the folder it closes, inside its parent
      m_parents[i] = open.empty() ? -1 : int64_t(open.back());
      continue;
    }
    if (i > 0 && !m_children.Insert(open.back(), Name(int(i)), i)) {
      if (why)
        *why = "folder record " + std::to_string(open.back()) + " holds two children named \"" +
               std::string(Name(int(i))) + "\"";
      return false;
    }
    if (r.type == kPckFolder) open.push_back(i);
  }
  return true;
}

void CPckIndex::Clear() {
  m_records.clear();
  m_names.clear();
  m_parents.clear();
  m_ids.clear();
  m_indexOfId.clear();
  m_children.Clear();
}

std::string_view CPckIndex::Name(int index) const {
  if (index <= 0 || size_t(index) >= m_records.size()) return {};
  return PckNameAt(m_names, m_records[size_t(index)].nameOffset);
}

int CPckIndex::FindChild(int folder, std::string_view name) const {
  if (folder < 0 || size_t(folder) >= m_records.size() || m_records[size_t(folder)].type != kPckFolder) return -1;
  if (name.empty()) return -1;
  const int64_t id = m_children.Find(m_ids[size_t(folder)], name);
  if (id < 0 || m_indexOfId[size_t(id)] == kGone) return -1;
  return int(m_indexOfId[size_t(id)]);
}

int CPckIndex::Find(std::string_view path) const {
  if (m_records.empty()) return -1;
  std::vector<std::string_view> names;
  if (!PckSplitPath(path, names)) return -1;
  int cur = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    cur = FindChild(cur, names[i]);
    if (cur < 0) return -1;
    if (i + 1 < names.size() && m_records[size_t(cur)].type != kPckFolder) return -1;
  }
  return cur;
}

int CPckIndex::FindDeepest(std::string_view path, std::string& rest) const {
  rest.clear();
  if (m_records.empty()) return -1;
  std::vector<std::string_view> names;
  if (!PckSplitPath(path, names)) return -1;
  int cur = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    const int next = FindChild(cur, names[i]);
    if (next < 0) {
      for (size_t k = i; k < names.size(); ++k) {
        if (k > i) rest += '/';
        rest.append(names[k]);
      }
      return cur;
    }
    if (i + 1 < names.size() && m_records[size_t(next)].type != kPckFolder) return -1;
    cur = next;
  }
  return cur;
}

std::unique_ptr<PckDirIterator> CPckIndex::OpenDir(int index) const {
  if (index < 0 || size_t(index) >= m_records.size() || m_records[size_t(index)].type != kPckFolder) return nullptr;
  return std::make_unique<PckDirIterator>(m_records, m_names, index);
}

uint64_t CPckIndex::AppendName(const std::string& entry) {
  const uint64_t at = m_names.size();
  m_names += entry;
  return at;
}

void CPckIndex::PadNames(size_t length) {
  if (length > m_names.size()) m_names.resize(length, '\0');
}

uint32_t CPckIndex::Append(const PckRecord& record, int64_t parent, std::string_view name) {
  const uint32_t index = uint32_t(m_records.size());
  m_records.push_back(record);
  m_parents.push_back(parent);
  m_ids.push_back(index);
  m_indexOfId.push_back(index);
  if (parent >= 0 && record.type != kPckFolderEnd) m_children.Insert(m_ids[size_t(parent)], name, index);
  return index;
}

void CPckIndex::AdjustAncestors(uint32_t parent, int64_t spanDelta, int64_t childDelta) {
  PckRecord& p = m_records[parent];
  p.SetChildCount(uint32_t(int64_t(p.ChildCount()) + childDelta));
  for (int64_t a = parent; a >= 0; a = m_parents[size_t(a)]) {
    PckRecord& r = m_records[size_t(a)];
    r.SetSpan(uint32_t(int64_t(r.Span()) + spanDelta));
  }
}

void CPckIndex::Insert(size_t at, const std::vector<PckRecord>& records, uint32_t parent, std::string_view name) {
  const size_t k = records.size();
  m_records.insert(m_records.begin() + std::ptrdiff_t(at), records.begin(), records.end());
  m_parents.insert(m_parents.begin() + std::ptrdiff_t(at), k, int64_t(parent));
  const uint32_t id = uint32_t(m_indexOfId.size());
  for (size_t i = 0; i < k; ++i) m_indexOfId.push_back(uint32_t(at + i));
  std::vector<uint32_t> newIds(k);
  for (size_t i = 0; i < k; ++i) newIds[i] = id + uint32_t(i);
  m_ids.insert(m_ids.begin() + std::ptrdiff_t(at), newIds.begin(), newIds.end());
  // Records behind the insertion moved up by k: so did their ids' places and every
  // parent reference that pointed at or past the insertion point.
  for (size_t q = at + k; q < m_records.size(); ++q) {
    m_indexOfId[m_ids[q]] = uint32_t(q);
    if (m_parents[q] >= int64_t(at)) m_parents[q] += int64_t(k);
  }
  m_children.Insert(m_ids[parent], name, id);
  AdjustAncestors(parent, int64_t(k), 1);
}

uint64_t CPckIndex::Erase(size_t s) {
  const PckRecord& top = m_records[s];
  const size_t n = top.type == kPckFolder ? size_t(top.Span()) + 2 : 1;
  const uint32_t parent = uint32_t(m_parents[s]);
  uint64_t sizes = 0;
  for (size_t q = s; q < s + n; ++q) {
    const PckRecord& r = m_records[q];
    if (r.type == kPckFile) sizes += r.size;
    if (r.type == kPckFile || r.type == kPckFolder) m_children.Erase(m_ids[size_t(m_parents[q])], Name(int(q)));
    m_indexOfId[m_ids[q]] = kGone;
  }
  m_records.erase(m_records.begin() + std::ptrdiff_t(s), m_records.begin() + std::ptrdiff_t(s + n));
  m_parents.erase(m_parents.begin() + std::ptrdiff_t(s), m_parents.begin() + std::ptrdiff_t(s + n));
  m_ids.erase(m_ids.begin() + std::ptrdiff_t(s), m_ids.begin() + std::ptrdiff_t(s + n));
  for (size_t q = s; q < m_records.size(); ++q) {
    m_indexOfId[m_ids[q]] = uint32_t(q);
    if (m_parents[q] > int64_t(s)) m_parents[q] -= int64_t(n);
  }
  AdjustAncestors(parent, -int64_t(n), -1);
  return sizes;
}
