// What the commands share: exit codes, the one-line error report, opening a package for
// reading, walking its records with their paths, and moving a finished package into
// place.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pck/PckReader.h"
#include "platform/Platform.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Why a name listed on the disk is refused (plat::FindData::exact is false): a package
// holds code page 936 names only, and a stand-in would be stored as if it were the name.
inline constexpr const char* kNameOutsideCodePage =
    "the name holds a character that code page 936 lacks (shown as '?'); a package cannot store it";

// Writes "pcktool: SUBJECT: PROBLEM" as one line on standard error (after erasing a
// progress bar), converted for the terminal, and returns kExitFailed.
int Fail(std::string_view subject, std::string_view problem);

// A name or path for messages and listings: control bytes appear as \xNN, so a crafted
// name can neither break a line nor forge one.
std::string ShowName(std::string_view name);

// ShowName as the terminal shows it (the locale's character set on POSIX), for a name
// printed on its own. Text composed for Fail stays code page 936: Fail converts it.
std::string Shown(std::string_view name);

// Tells on standard error that the signed updater image `image` lost its signature when
// `out` was built from it, and that `out` must be signed now.
void NoteSignatureRemoved(std::string_view command, std::string_view image, std::string_view out);

// "dir/name", or just the name under the root.
std::string JoinPath(std::string_view dir, std::string_view name);

// The C runtime's text for errno.
std::string ErrnoText();

// Checks that the package's three files exist, sets the password and loads it; on
// failure reports which file is wrong and returns false.
bool OpenPackage(PckReader& reader, const std::string& base, const std::string& password);

// Calls visit(index, record, path) for every record after the root in index order;
// a folder end comes with the path of the folder it closes. Stops when visit returns
// false and returns false then.
template <class Visit>
bool WalkRecords(const PckReader& reader, Visit&& visit) {
  const auto& records = reader.Records();
  std::string path;
  std::vector<size_t> open;  // path length before each open folder's name
  for (size_t i = 1; i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (r.type == kPckFolderEnd) {
      if (open.empty()) continue;  // the root's own end
      if (!visit(int(i), r, std::as_const(path))) return false;
      path.resize(open.back());
      open.pop_back();
      continue;
    }
    size_t before = path.size();
    path = JoinPath(path, reader.Name(int(i)));
    if (!visit(int(i), r, std::as_const(path))) return false;
    if (r.type == kPckFolder)
      open.push_back(before);
    else
      path.resize(before);
  }
  return true;
}

// A scratch base beside `base` for building a package before it replaces the real one.
std::string ScratchBase(const std::string& base);
// Deletes whatever exists of the package's files (and a writer's half-written index).
void RemovePackageFiles(const std::string& base);

// Takes the folder of package `base` for a change: waits (saying so) while another
// program holds it, then settles what a stopped run left in its journal. False after
// reporting why the folder cannot be had.
bool TakeFolderOf(const std::string& base, plat::CFolderLock& lock);
bool TakeFolder(const std::string& folder, plat::CFolderLock& lock);
// The folder that holds package `base` ("" for the working directory).
std::string FolderOf(const std::string& base);
// Puts the complete scratch package in place of `base` through the folder's journal;
// reports and returns false when the old package had to be kept.
bool SwapIntoPlace(const std::string& scratch, const std::string& base);
