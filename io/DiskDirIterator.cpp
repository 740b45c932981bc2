#include "io/DiskDirIterator.h"

#include <cstring>

void DiskDirIterator::Open(const std::string& path) {
  m_find.Close();
  m_path = path;
  m_started = false;
}

DirEntry* DiskDirIterator::Next() {
  plat::FindData data;
  for (;;) {
    bool found;
    if (!m_started) {
      m_started = true;
      found = m_find.First(m_path, data);
    } else {
      found = m_find.IsOpen() && m_find.Next(data);
    }
    if (!found) return nullptr;
    // A name longer than the entry's room cannot be opened again under a cut name, so it
    // is passed over rather than delivered wrong (no file system here makes one).
    if (data.name.size() > DirEntry::kNameRoom) continue;
    m_entry.kind = data.isDir ? kDirEntryFolder : kDirEntryFile;
    m_entry.value = data.isDir ? 0 : static_cast<int32_t>(data.sizeLow);
    std::memcpy(m_entry.name, data.name.c_str(), data.name.size() + 1);
    return &m_entry;
  }
}
