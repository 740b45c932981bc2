// Shared helpers of the commands.
#include "tools/pcktool/Tool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pck/PckJournal.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Progress.h"

int Fail(std::string_view subject, std::string_view problem) {
  CProgress::EraseActive();
  std::string line = "pcktool: ";
  if (!subject.empty()) line += ShowName(subject) + ": ";
  // Library texts may quote names; they must not break the one line either.
  line += ShowName(problem);
  line += '\n';
  fputs(plat::ToConsoleText(line).c_str(), stderr);
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

std::string Shown(std::string_view name) { return plat::ToConsoleText(ShowName(name)); }

void NoteSignatureRemoved(std::string_view command, std::string_view image, std::string_view out) {
  CProgress::EraseActive();
  fprintf(stderr,
          "pcktool: %s: note: %s was signed; the signature was removed, since appending the patch invalidates it. "
          "Sign %s now.\n",
          std::string(command).c_str(), Shown(image).c_str(), Shown(out).c_str());
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty()) out += '/';
  out.append(name);
  return out;
}

std::string ErrnoText() { return std::strerror(errno); }

namespace {

// One line for a package that does not open: the file it is about, and what is wrong
// with it (the operating system's reason, or the damage found in it).
int ReportOpenFailure(const std::string& base, const CError& error) {
  const std::string file = error.file.empty() ? PckIndexName(base) : error.file;
  if (error.IsOsFailure()) return Fail(file, "cannot be opened" + (error.reason.empty() ? "" : ": " + error.reason));
  return Fail(file, error.text);
}

}  // namespace

bool OpenPackage(PckReader& reader, const std::string& base, const std::string& password) {
  // A package that a stopped run left half swapped reads as it should only once the
  // folder's journal is settled; whoever comes next settles it.
  if (plat::FileExists(CPckJournal(FolderOf(base)).Path())) {
    plat::CFolderLock lock;
    if (!TakeFolderOf(base, lock)) return false;
  }
  for (const std::string& file : {PckIndexName(base), PckDataName(base), PckNameTableName(base)}) {
    plat::FileInfo info;
    if (!plat::StatPath(file, info)) return Fail(file, plat::LastError().text), false;
    if (info.isDir) return Fail(file, "is a folder"), false;
  }
  reader.SetPassword(password.c_str());
  if (reader.Open(base) != 0) return ReportOpenFailure(base, reader.Error()), false;
  return true;
}

std::string ScratchBase(const std::string& base) { return base + ".pcktool-new"; }

void RemovePackageFiles(const std::string& base) { PckRemoveFiles(base); }

std::string FolderOf(const std::string& base) { return plat::ParentFolder(base, /*keepRoot=*/true); }

bool TakeFolderOf(const std::string& base, plat::CFolderLock& lock) { return TakeFolder(FolderOf(base), lock); }

bool TakeFolder(const std::string& folder, plat::CFolderLock& lock) {
  const std::string shown = folder.empty() ? "." : folder;
  // Another pcktool or an updater may be changing packages here; wait for it a while.
  constexpr int kWaitMs = 60000, kStepMs = 100;
  for (int waited = 0; !lock.TryAcquire(folder); waited += kStepMs) {
    if (waited == 0) {
      CProgress::EraseActive();
      fprintf(stderr, "pcktool: %s: another program is changing packages in this folder; waiting...\n",
              Shown(shown).c_str());
    }
    if (waited >= kWaitMs) return Fail(shown, "another program is still changing packages in this folder"), false;
    plat::SleepMs(kStepMs);
  }
  CPckJournal journal(folder);
  if (!journal.Recover()) return Fail(journal.Path(), "cannot finish what a stopped run began: " + journal.Error().text), false;
  return true;
}

bool SwapIntoPlace(const std::string& scratch, const std::string& base) {
  CPckJournal journal(FolderOf(base));
  CError why;
  if (PckSwapIn(scratch, base, journal, &why)) return true;
  Fail(base, why.text + "; the old package is kept");
  return false;
}
