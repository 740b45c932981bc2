// The check of a whole patch before the game changes: every entry decodes to its stored
// MD5, every name can be stored where it lands, every path fits, and every file can be
// written where the release will put it (no file where a folder is needed, no plain
// file where a package must be made or the reverse, no package that cannot be edited).
// It works out the landing of every file as the release will meet it, the files before
// it written, and hands that plan to the release.
//
// A patch may carry a changed file as deltas, under its reserved top folder "~delta":
// "~delta/<the file's path in the patch>/<the base's MD5, 32 hex digits>", one for each
// content of the game's file it can turn into the new one. The check picks the delta
// for the content the game has (none when the game has the new content already),
// applies it to the game's file to prove that it gives what it records, and refuses the
// patch when the game has no file there or one that no delta was made for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/FileTarget.h"
#include "io/Error.h"

// One file of the patch and where it goes.
struct PlannedFile {
  std::string source;  // its path in the patch ("<patch base>/bld/ui/a.tga")
  Landing landing;
  uint32_t size = 0;
  int record = -1;     // its record in the patch's index
  uint64_t stored = 0;  // the bytes its entry takes in the patch's data file
  // A delta of the patch (under "~delta/"): `landing` is the game's file it applies to,
  // `size` the size of its result, `stored` about what the result will take.
  bool delta = false;
};

struct CPatchPlan {
  std::vector<PlannedFile> files;  // in the order of the patch, the version file last
  std::unordered_map<std::string, size_t> bySource;
  // The deltas of the patch that the release passes over: those for another base than
  // the game has, and all of a file the game already has in its new content (a run
  // stopped after it landed, or a game at the patch's version in that file).
  std::unordered_set<std::string> passed;
  uint64_t bytes = 0;

  const PlannedFile* Find(const std::string& source) const;
};

// Whether a file directly in the patch root is the version file, which the release
// writes last: it is the commit point of the whole update.
bool IsVersionFile(const std::string& name);

// What the check may do to the game folder. Before a release every package the patch
// edits is opened for writing, exactly as the release will open it, so that one that
// cannot be changed stops the update before anything is written. A publisher's check
// against a copy of the old game, which may well be read-only, opens everything for
// reading only: the same checks but the one of being writable, and nothing in the game
// is opened for writing or created.
enum class GameAccess : uint8_t { ForRelease, ReadOnly };

// Checks the patch package `patchBase` against `gameFolder` with the arguments the
// release will get. `onBlock` is called with the length of every block decoded (to
// drain the window's messages, to move a bar); when it returns false the check stops
// and fails. `deletedFirst` lists what the run deletes before the release (Delete.txt's
// targets, relative to `gameFolder`; a folder with everything below it): the plan is
// made against the disk as that deletion will leave it, so a package that Delete.txt
// removes is made anew by the files the patch has for it, and a plain folder or file it
// removes is no longer in the way. 0 and the plan, or -1 with `problem` naming the file
// and what is wrong.
int CheckPatchPackage(const std::string& patchBase, const char* const* packageNames, const std::string& gameFolder,
                      uint32_t targetFlags, const char* password, const std::function<bool(uint32_t)>& onBlock,
                      CPatchPlan& plan, CError& problem, GameAccess access = GameAccess::ForRelease,
                      const std::vector<std::string>& deletedFirst = {});
