// Delete.txt: the files and folders that a patch makes obsolete, one path a line,
// relative to the game folder.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/UpdateDlg.h"
#include "io/FileStream.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace {

// Why a line of Delete.txt is refused, or null when it names something inside the game
// folder; `path` is then that path, written with "/" and without "." parts, doubled or
// trailing separators: ".\\old.txt", "sub\\\\old.txt" and "sub\\" are paths in the game
// folder like any other and are deleted as the shell would. Lines come with the patch,
// so a path that leaves the folder (absolute, on a drive, on a server, or climbing out
// with "..") would let a patch delete anything the player can.
const char* Refusal(const std::string& line, std::string& path) {
  if (plat::IsSeparator(line[0])) return "绝对路径或网络路径";  // "/etc/x", "\\\\server\\x"
  std::vector<std::string> parts;
  size_t start = 0;
  std::vector<size_t> cuts = plat::SeparatorPositions(line);
  cuts.push_back(line.size());
  for (size_t cut : cuts) {
    const std::string part = line.substr(start, cut - start);
    start = cut + 1;
    // A drive ("C:\\x", "C:x") in the first part; a colon further on is the OS's to judge.
    if (parts.empty() && part.find(':') != std::string::npos) return "盘符路径";
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return "路径超出游戏目录";
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  if (parts.empty()) return "路径是游戏目录本身";
  path.clear();
  for (const std::string& p : parts) path += (path.empty() ? "" : "/") + p;
  return nullptr;
}

std::string Trim(const char* line) {
  std::string s(line);
  const char* blank = " \t\r\n";
  size_t b = s.find_first_not_of(blank);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(blank) - b + 1);
}

}  // namespace

int DeleteObsoleteFiles(plat::IMessageUi&, const std::function<void(const std::string&)>& log) {
  int refused = 0;
  {
    UniqueFile list(plat::OpenFile("Delete.txt", "r"));
    if (list) {
      // At most 255 characters a line: a longer line goes on as the next one.
      char line[256];
      while (std::fgets(line, sizeof line, list.get())) {
        std::string text = Trim(line), path;
        if (text.empty()) continue;
        if (const char* why = Refusal(text, path)) {
          ++refused;
          if (log) log("拒绝删除 " + text + ": " + why);
          continue;
        }
        plat::ShellDelete(path);
      }
    }
  }
  plat::DeleteFile("Delete.txt");
  return refused;
}
