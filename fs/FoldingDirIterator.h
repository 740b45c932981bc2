// A disk folder listing in which every complete package (<base>.idx, .nam and .dat side
// by side) shows up once, as a subfolder named after its base, so that the game's
// packages can be browsed like the folders they stand for.
#pragma once

#include <string>

#include "io/DiskDirIterator.h"

class PackageFoldingDirIterator : public DiskDirIterator {
 public:
  PackageFoldingDirIterator() = default;
  explicit PackageFoldingDirIterator(const std::string& path) { Open(path); }
  // Hides DiskDirIterator::Open: the folder is needed here to test for packages.
  void Open(const std::string& path);
  // Entries in disk order. A package's .nam becomes a folder entry (value 0) named after
  // the base; its .idx and .dat are passed over. Anything else, and the three files of
  // an incomplete package, come through unchanged.
  DirEntry* Next() override;

 private:
  std::string m_folder;
};
