// Lists a folder on disk; "." and ".." are delivered like any other entry.
#pragma once

#include <string>

#include "io/DataStream.h"
#include "platform/Platform.h"

class DiskDirIterator : public DirIterator {
 public:
  DiskDirIterator() = default;
  explicit DiskDirIterator(const std::string& path) { Open(path); }
  // Ends any listing in progress and remembers the folder; listing starts at Next().
  void Open(const std::string& path);
  void Close() override { m_find.Close(); }
  DirEntry* Next() override;

 private:
  std::string m_path;
  plat::CFolderFind m_find;
  bool m_started = false;
  DirEntry m_entry;
};
