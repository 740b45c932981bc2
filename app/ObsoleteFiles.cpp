// Delete.txt: the files and folders that a patch makes obsolete, one path a line,
// relative to the game folder.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/UpdateDlg.h"
#include "fs/FileStream.h"
#include "pck/PckFormat.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace {

// A line of Delete.txt names something inside the game folder: a relative path whose
// every part is a plain name; only the last part may hold the wildcards * and ?. Lines
// come with the patch, so "..", a drive, a leading separator or a device would let a
// patch delete anything the player can.
bool IsDeletablePath(const std::string& path) {
  if (path.empty() || plat::IsSeparator(path[0])) return false;
  std::vector<std::string_view> parts;
  if (!PckSplitPath(path, parts)) return false;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string part(parts[i]);
    if (i + 1 == parts.size())
      for (char& c : part)
        if (c == '*' || c == '?') c = 'x';
    if (!plat::IsSafeName(part)) return false;
  }
  return true;
}

std::string Trim(const char* line) {
  std::string s(line);
  const char* blank = " \t\r\n";
  size_t b = s.find_first_not_of(blank);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(blank) - b + 1);
}

}  // namespace

int DeleteObsoleteFiles(plat::IMessageUi&) {
  int refused = 0;
  {
    UniqueFile list(plat::OpenFile("Delete.txt", "r"));
    if (list) {
      // At most 255 characters a line: a longer line goes on as the next one.
      char line[256];
      while (std::fgets(line, sizeof line, list.get())) {
        std::string path = Trim(line);
        if (path.empty()) continue;
        if (!IsDeletablePath(path)) {
          ++refused;
          continue;
        }
        plat::ShellDelete(path);
      }
    }
  }
  plat::DeleteFile("Delete.txt");
  return refused;
}
