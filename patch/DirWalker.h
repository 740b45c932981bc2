// Visits every file and folder below a folder, depth first, in the order the folder
// iterator delivers them. Folders are listed through OpenDirThroughSource, so a walk
// covers plain folders and the inside of packages alike. The walker writes, logs and
// counts nothing: derived classes decide what each callback does.
#pragma once

#include <string>

#include "io/Limits.h"

class CDirWalker {
 public:
  virtual ~CDirWalker() = default;
  // A negative result from any callback is an error that ends the walk.
  virtual int OnFile(const char* name) = 0;
  virtual int OnFolder(const char* name) = 0;
  virtual int OnEnterFolder(const char* path) { (void)path; return 0; }
  virtual int OnLeaveFolder(const char* path) { (void)path; return 0; }

  // 0 on success (a cancelled walk included), -1 on failure.
  int Walk(const std::string& path, bool recursive);

  // Paths are limited like the platform's: a child path of more than this many bytes
  // fails the walk instead of being cut to a path that names something else.
  static constexpr size_t kMaxPath = kMaxPathBytes;

 protected:
  bool m_bCancel = false;        // set by a derived class to stop the walk
  bool m_bSkip = false;          // set in OnFolder: do not descend into that folder
  int m_nDepth = 0;
  std::string m_strCurrent;      // the folder being listed
};
