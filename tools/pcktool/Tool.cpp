// Shared helpers of the commands.
#include "tools/pcktool/Tool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Platform.h"
#include "tools/pcktool/Progress.h"

int Fail(std::string_view subject, std::string_view problem) {
  CProgress::EraseActive();
  std::string line = "pcktool: ";
  if (!subject.empty()) line += ShowName(subject) + ": ";
  // Library texts may quote names; they must not break the one line either.
  line += ShowName(problem);
  line += '\n';
  fputs(line.c_str(), stderr);
  fflush(stderr);
  return kExitFailed;
}

std::string ShowName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty()) out += '/';
  out.append(name);
  return out;
}

std::string ErrnoText() { return std::strerror(errno); }

namespace {

// Names the file a reader's failure is about: its texts either start with the file's
// name or speak of the name table or the data file; everything else is the index.
int ReportOpenFailure(const std::string& base, const std::string& why) {
  const std::string prefix = "cannot open ";
  if (why.compare(0, prefix.size(), prefix) == 0) return Fail(why.substr(prefix.size()), "cannot be opened");
  if (why.find("name table") != std::string::npos && why.find("record") == std::string::npos)
    return Fail(PckNameTableName(base), why);
  if (why.find("data file") != std::string::npos) return Fail(PckDataName(base), why);
  return Fail(PckIndexName(base), why);
}

}  // namespace

bool OpenPackage(PckReader& reader, const std::string& base, const std::string& password) {
  for (const std::string& file : {PckIndexName(base), PckDataName(base), PckNameTableName(base)}) {
    plat::FileInfo info;
    if (!plat::StatPath(file, info)) return Fail(file, "no such file"), false;
    if (info.isDir) return Fail(file, "is a folder"), false;
  }
  reader.SetPassword(password.c_str());
  if (reader.Open(base) != 0) return ReportOpenFailure(base, reader.LastError()), false;
  return true;
}

std::string ScratchBase(const std::string& base) { return base + ".pcktool-new"; }

void RemovePackageFiles(const std::string& base) {
  for (const std::string& file :
       {PckIndexName(base), PckIndexName(base) + ".new", PckDataName(base), PckNameTableName(base)})
    if (plat::FileExists(file)) plat::DeleteFile(file);
}

bool MovePackage(const std::string& from, const std::string& to, std::string& why) {
  const std::string idx = PckIndexName(to);
  if (plat::FileExists(idx) && !plat::DeleteFile(idx)) {
    why = "cannot remove the old " + idx;
    return false;
  }
  const std::pair<std::string, std::string> moves[] = {
      {PckDataName(from), PckDataName(to)},
      {PckNameTableName(from), PckNameTableName(to)},
      {PckIndexName(from), idx},
  };
  for (const auto& [src, dst] : moves) {
    if (!plat::ReplaceFile(src, dst)) {
      why = "cannot rename " + src + " to " + dst;
      return false;
    }
  }
  return true;
}
