// Delete.txt: the files and folders that a patch makes obsolete, one path a line,
// relative to the game folder. One reader for the deletion and for the check of the
// whole patch, which plans against the disk as the deletion will leave it, so that the
// two can never disagree on what a line means.
#pragma once

#include <string>
#include <vector>

struct ObsoleteLine {
  std::string text;     // the line as read, without its surrounding blanks
  std::string path;     // the path in the game folder, "/" between its parts ("" if refused)
  const char* refusal;  // why the line is not deleted (code page 936 text), or null
};

// The non-empty lines of the Delete.txt at `listPath`, in order: at most 255 characters
// a line (a longer line goes on as the next one), blanks, tabs, CR and LF trimmed from
// both ends. A path that leaves the game folder (absolute, on a drive or a server, or
// climbing out with "..") or names the folder itself is refused; ".\\", "./", doubled
// and trailing separators are normalised away. A missing file gives no lines.
std::vector<ObsoleteLine> ReadObsoleteList(const std::string& listPath);

// What deleting the lines will remove, relative to the game folder (the working
// directory): every entry each accepted line names, its wildcards matched as the
// deletion matches them; a folder stands for everything below it. Reads the disk,
// changes nothing.
std::vector<std::string> ObsoleteTargets(const std::vector<ObsoleteLine>& lines);
