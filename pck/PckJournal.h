// The journal of a folder's packages, and the package swap that it makes safe.
//
// Putting a rebuilt package in place of an old one changes three files, and no rename
// changes three files at once; a package being created exists in part before its first
// index lands. So before such a change a record of it is written to the folder's
// journal ("pck.journal") and put on the disk, and it is dropped once the change is
// complete. Whoever opens the folder for writing next (the updater at the start of every
// run, pcktool before every change) settles what the journal still lists: a swap whose
// new index landed is finished, any other swap is rolled back to the old package, and a
// package whose first index never landed is removed, and a temporary file that a
// stopped run made (or was about to make) is deleted. The journal, never a guess from
// leftover file names, says what state the files are in; a file whose name merely looks
// like a leftover is never touched.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/Error.h"

inline constexpr char kPckJournalName[] = "pck.journal";

struct PckJournalEntry {
  enum Kind : uint8_t { kCreate = 1, kSwap = 2, kTemp = 3 };
  Kind kind = kCreate;
  std::string base;     // the package; kTemp: the temporary file
  std::string scratch;  // kSwap: the complete new set that replaces it
  // kSwap: which of base.idx, base.nam, base.dat (bits 0, 1, 2) existed before the swap
  uint8_t existed = 0;

  bool operator==(const PckJournalEntry&) const = default;
};

class CPckJournal {
 public:
  // The journal of `folder` ("" for the working directory). Package paths given to it
  // are kept relative to that folder when they lie in it.
  explicit CPckJournal(std::string folder);

  const std::string& Path() const { return m_path; }
  // Adds an entry and puts the journal on the disk before returning. False (with
  // Error()) when it could not be written; the change must then not be made.
  bool Add(const PckJournalEntry& entry);
  // Adds several entries with one write of the journal.
  bool Add(const std::vector<PckJournalEntry>& entries);
  // Drops an entry whose change is complete; the file goes with the last entry.
  bool Drop(const PckJournalEntry& entry);
  // Drops several entries with one write of the journal.
  bool Drop(const std::vector<PckJournalEntry>& entries);
  // Settles every entry that a stopped run left: swaps and creations first, then the
  // temporaries (but for the scratch files of a swap that could not be settled, which
  // that swap's next attempt still needs). True when nothing is left to do; false (with
  // Error()) when an entry could not be settled, which then stays listed for the next
  // attempt.
  bool Recover();
  // The entries now on the disk (empty when there is no journal).
  std::vector<PckJournalEntry> Entries();
  const CError& Error() const { return m_error; }

 private:
  bool Load(std::vector<PckJournalEntry>& out);
  bool Store(const std::vector<PckJournalEntry>& entries);
  // Loads the entries, lets `change` add or remove some, and stores them if it did.
  bool Rewrite(const std::function<void(std::vector<PckJournalEntry>&)>& change);
  std::string Relative(const std::string& path) const;
  PckJournalEntry Stored(const PckJournalEntry& entry) const;
  std::string Resolve(const std::string& path) const;

  std::string m_folder;
  std::string m_path;
  CError m_error;
};

// Puts the complete package `scratch` (its three files flushed) in place of `base`,
// listed in `journal` for the length of the swap. The old index is moved aside first
// and the new one moved in last, so the new package exists from the moment its index
// lands; before that, a failed step moves the old files back. True when the new package
// is in place; false with `error` ("cannot replace bld.dat: Permission denied") when
// the old one was kept and `scratch` deleted (or, should even moving it back fail, is
// kept under "<base>.<ext>.old" for the journal's recovery to restore, which still
// needs what is left of `scratch`).
bool PckSwapIn(const std::string& scratch, const std::string& base, CPckJournal& journal, CError* error);

// Deletes whatever exists of the files of package set `base`, the index last (.nam,
// .dat, .idx.new, .idx). False with `error` when one could not be deleted.
bool PckRemoveFiles(const std::string& base, CError* error = nullptr);
