#include "patch/DirWalker.h"

#include <cstring>

#include "fs/FileSource.h"

int CDirWalker::Walk(const std::string& path, bool recursive) {
  m_strCurrent = path;
  if (OnEnterFolder(path.c_str()) < 0) return -1;
  std::unique_ptr<DirIterator> it = OpenDirThroughSource(path);
  if (!it) return -1;
  ++m_nDepth;
  int result = 0;
  if (!m_bCancel) {
    while (DirEntry* e = it->Next()) {
      if (e->kind == kDirEntryFolder) {
        if (std::strcmp(e->name, ".") == 0 || std::strcmp(e->name, "..") == 0) continue;
        if (OnFolder(e->name) < 0) {
          result = -1;
          break;
        }
        if (recursive && !m_bSkip) {
          std::string child = m_strCurrent + "/" + e->name;
          int r = child.size() > kMaxPath ? -1 : Walk(child, recursive);
          m_strCurrent = path;
          if (r < 0) {
            result = r;
            break;
          }
        }
        m_bSkip = false;
      } else if (OnFile(e->name) < 0) {
        result = -1;
        break;
      }
      if (m_bCancel) break;
    }
  }
  --m_nDepth;
  it.reset();
  if (result == 0 && OnLeaveFolder(path.c_str()) < 0) return -1;
  return result;
}
