#include "patch/ObsoleteList.h"

#include <cstdio>

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

std::vector<ObsoleteLine> ReadObsoleteList(const std::string& listPath) {
  std::vector<ObsoleteLine> lines;
  UniqueFile list(plat::OpenFile(listPath, "r"));
  if (!list) return lines;
  char line[256];
  while (std::fgets(line, sizeof line, list.get())) {
    ObsoleteLine entry{Trim(line), {}, nullptr};
    if (entry.text.empty()) continue;
    entry.refusal = Refusal(entry.text, entry.path);
    if (entry.refusal) entry.path.clear();
    lines.push_back(std::move(entry));
  }
  return lines;
}

std::vector<std::string> ObsoleteTargets(const std::vector<ObsoleteLine>& lines) {
  std::vector<std::string> targets;
  for (const ObsoleteLine& line : lines) {
    if (line.refusal) continue;
    for (std::string& t : plat::ShellDeleteTargets(line.path)) targets.push_back(std::move(t));
  }
  return targets;
}
