// Releases a patch package into the game: every file of the patch lands at the same
// relative path below the game folder, as a plain file or as an entry of one of the
// game's packages. A top-level patch folder named like one of the game's packages
// (compared without case) is written into that package, which is created when missing.
#pragma once

#include <cstdint>
#include <string>

#include "io/Error.h"
#include "patch/DirWalker.h"

class CDeltaBases;
class CFileTarget;
class CPckJournal;
class IWalkSink;
struct CPatchPlan;

// The game's packages, in the order the tidy pass visits them; ends with a null entry.
extern const char* const g_packageNames[];

// What the update run adds to a release: the game folder's package journal, which lists
// each package the release creates until its first index has landed, and the plan of
// the patch check, from which each file takes its landing.
struct ReleaseOptions {
  CPckJournal* journal = nullptr;
  const CPatchPlan* plan = nullptr;
  // Where a failed release puts the record of what failed on the disk (the file and the
  // operating system's reason), when it was a write, a rename or an open of the game's.
  CError* error = nullptr;
};

// Copies the patch package `patchBase` (e.g. "<game>/patch") into `gameFolder` (no
// trailing separator). `packageNames` is a null-ended list; `targetFlags` bit 0 lets
// missing packages be created; `codec` is used for every entry written into a package.
// Nothing is written at or above the game folder. The version file of the patch root
// (CVer.txt) is written last, after every other file is written and every package
// committed: it is the commit point of the update, so a release that fails or stops
// leaves the game at its old version and the next run does it all again.
// Returns 0 when every file was written, -1 otherwise (the first failure, a hostile
// name or an abort stops the release; what was written before stays written, and every
// changed package is committed).
int ApplyPatchPackage(const std::string& patchBase, const char* const* packageNames,
                      const std::string& gameFolder, uint32_t targetFlags, const char* password,
                      IWalkSink* sink, int codec, const ReleaseOptions& options = ReleaseOptions());

// Walks the patch package and hands every file to the target.
class CPatchWalker : public CDirWalker {
 public:
  CPatchWalker(CFileTarget& target, IWalkSink* sink, const char* const* packageNames,
               std::string gameFolder, int codec, size_t rootLength, const CPatchPlan* plan = nullptr);
  int OnFile(const char* name) override;
  int OnFolder(const char* name) override;
  int OnLeaveFolder(const char* path) override;

  // Writes the version file that the walk set aside; 0 when there is none.
  int ReleaseVersionFile();
  // The game's files that the patch's deltas apply to, read before they are replaced;
  // the caller closes them before the packages are committed.
  void SetDeltaBases(CDeltaBases* bases) { m_bases = bases; }

 private:
  bool Aborted();
  int Error(const char* format, const std::string& path);
  // Opens one file of the patch and writes it to `target`.
  int Release(const std::string& source, const std::string& target);

  CFileTarget& m_target;
  IWalkSink* m_sink;
  const char* const* m_packageNames;
  std::string m_gameFolder;
  int m_codec;
  size_t m_rootLength;
  const CPatchPlan* m_plan;
  CDeltaBases* m_bases = nullptr;
  bool m_bIntoPackage = false;
  bool m_bInDeltas = false;  // below the patch's folder of deltas
  std::string m_strTopTarget;  // how the current top-level folder is written in the game
  std::string m_strVersionSource, m_strVersionTarget;  // set aside until everything else is in
};
