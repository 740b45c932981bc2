// PackageFoldingDirIterator: folds the three files of each package into one folder.
#include "fs/FoldingDirIterator.h"

#include <cstring>
#include <string_view>

#include "pck/PckReader.h"

namespace {

enum class PackagePart { None, Data, Index, Names };

// Which package file a name is, by its extension. The dot is required and so is a
// non-empty base: without them "xnam" or ".nam" would fold into a folder whose name
// belongs to another package (or to nothing) and hide a real file.
PackagePart PartOf(std::string_view name) {
  if (name.size() < 5 || name[name.size() - 4] != '.') return PackagePart::None;
  std::string_view ext = name.substr(name.size() - 3);
  auto is = [ext](const char* want) {
    for (size_t i = 0; i < 3; ++i) {
      char c = ext[i];
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
      if (c != want[i]) return false;
    }
    return true;
  };
  if (is("dat")) return PackagePart::Data;
  if (is("idx")) return PackagePart::Index;
  if (is("nam")) return PackagePart::Names;
  return PackagePart::None;
}

}  // namespace

void PackageFoldingDirIterator::Open(const std::string& path) {
  m_folder = path;
  DiskDirIterator::Open(path);
}

DirEntry* PackageFoldingDirIterator::Next() {
  for (;;) {
    DirEntry* entry = DiskDirIterator::Next();
    if (!entry || entry->kind != kDirEntryFile) return entry;
    std::string_view name(entry->name);
    PackagePart part = PartOf(name);
    if (part == PackagePart::None) return entry;
    std::string full = m_folder + "/" + std::string(name);
    if (!PackageExists(full.substr(0, full.size() - 4))) return entry;
    if (part != PackagePart::Names) continue;
    entry->kind = kDirEntryFolder;
    entry->value = 0;
    entry->name[name.size() - 4] = '\0';
    return entry;
  }
}
