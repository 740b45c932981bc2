// The writing file system of the patcher, the counterpart of CFileSource: a path below
// the game folder lands inside an existing package, inside a package made for it, or in
// a plain folder. Packages opened for writing are kept until the target is destroyed,
// so each one is opened once and its index committed once, at destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/DataStream.h"
#include "io/Error.h"
#include "io/Limits.h"
#include "fs/FileSource.h"

class CPckJournal;
class PckWriter;

// Where a file written through the target ends up.
struct Landing {
  bool inPackage = false;
  bool create = false;      // the package does not exist yet and is made for the file
  std::string path;         // a plain file: its path
  std::string base, inner;  // a package entry: the package and the path inside it
};

// What the choice of a landing asks of the disk. The patch check answers for the game
// as it will be once the files before have been written; the target asks the disk.
class CLandingView {
 public:
  virtual ~CLandingView() = default;
  // The three files of a package exist.
  virtual bool PackageExists(const std::string& base) const;
  // Anything exists at the path.
  virtual bool Exists(const std::string& path) const;
};

class CFileTarget {
 public:
  static constexpr size_t kMaxPassword = kMaxPasswordBytes;
  static constexpr uint32_t kNewPackageBlockSize = 65536;
  // A package that does not exist yet may be created for a file meant for one.
  static constexpr uint32_t kFlagCreatePackages = 1;

  CFileTarget();
  // Destroys every writer, which commits its package.
  virtual ~CFileTarget();
  CFileTarget(const CFileTarget&) = delete;
  CFileTarget& operator=(const CFileTarget&) = delete;

  // The order of the virtual operations is part of the interface.

  // Keeps the first kMaxPassword bytes; null or "" clears.
  virtual void SetPassword(const char* text);
  // 0 or -1. A zero-length stream removes what is at the path instead: a package entry
  // (a file, or a folder with its subtree), or a plain folder.
  virtual int PutFile(const std::string& path, DataStream& stream, bool intoPackage, int codec);
  // 0; -1 when a plain file cannot be deleted; -2 when its package does not open; -3
  // when the package has no such entry.
  virtual int RemoveFile(const std::string& path);
  virtual int Reserved(int) { return 0; }
  // Gives every open package its hook; 0.
  virtual int FlushAll();

  // Commits and closes every package opened so far (what destruction does), and says
  // whether all of them were written: 0, or -1 when any index could not be committed
  // (Error() says which and why).
  int CloseAll();

  void SetFlags(uint32_t flags) { m_nFlags = flags; }
  // Keeps every package below `root` (the game folder): nothing at or above it is taken
  // for a package or made into one. "" (the default) sets no limit.
  void SetRoot(const std::string& root) { m_root = root; }
  // Packages created from now on are listed in `journal` until their first index has
  // landed, so that a stopped run's half-made package is removed by the next one.
  void SetJournal(CPckJournal* journal) { m_journal = journal; }
  // Batched plain files: each is written to its temporary and left for the system to
  // write out, and the batch lands together (every temporary put on the disk, then each
  // renamed over its file, each rename synced) when it is full, before any
  // other change to a plain path, and at CloseAll. A stop before that leaves the old
  // files and the batch's temporaries, which the journal lists for the next run to
  // delete. Off (the default), a plain file has landed when PutFile returns.
  void SetBatchPlainFiles(bool on);
  // The landings of the files this run will write, in the order it writes them. No
  // temporary takes the name of one of them, of a package file they go into or of a
  // folder on their way; and with a journal, the temporaries of the plain files that
  // will share a batch are listed with one write, before the first of them is made.
  void ReserveLandings(const std::vector<Landing>& landings);

  // Where PutFile(path, ..., intoPackage, ...) writes, as `view` sees the disk; none
  // when the file cannot be written at all.
  std::optional<Landing> Land(const std::string& path, bool intoPackage, const CLandingView& view) const;
  // Writes the stream where `landing` says: 0 or -1.
  int Put(const Landing& landing, DataStream& stream, int codec);

  // The package that a file at `path` should go into when none holds it yet: the child,
  // on the way to the file, of the deepest existing folder that is not the file's own.
  static std::optional<PackagePath> SplitNewPackagePath(const std::string& path, size_t rootLength = 0,
                                                        const CLandingView& view = CLandingView());
  // The deepest complete package that holds `path`, below the first rootLength bytes.
  static std::optional<PackagePath> FindPackage(const std::string& path, size_t rootLength = 0,
                                                const CLandingView& view = CLandingView());

  // Why the last failed call failed ("cannot write bld.dat: No space left on device").
  const CError& Error() const { return m_error; }

  uint32_t m_nFlags = 0;

 protected:
  // The writer of the package at `base`, opened for editing (made first when `create`
  // is set and no part of it exists); null when it cannot be had.
  PckWriter* OpenPackage(const std::string& base, bool create);
  int WritePlainFile(const std::string& path, DataStream& stream);
  // Lands the batched plain files: 0, or -1 (Error() says which file and why), when
  // none of those not yet renamed is kept. Their temporaries leave the journal.
  int LandPlainFiles();
  int BatchPlainFile(const std::string& path, DataStream& stream);
  // A name for the temporary of `path` that no planned file, no temporary of this batch
  // and nothing on the disk has; "" when none is free or fits.
  std::string PickTemp(const std::string& path) const;
  // Picks the temporaries of `path` and of the planned plain files after it that the
  // batch still has `room` for, and lists them in the journal with one write.
  int ListTemps(const std::string& path, size_t room);

 private:
  struct CPendingFile;
  int Fail(CError why);
  int Fail(std::string why);

  std::string m_password;
  std::string m_root;
  CPckJournal* m_journal = nullptr;
  std::vector<std::string> m_created;  // packages listed in the journal by this target
  CError m_error;
  // Keys are folded (ASCII letters without case, "\\" as "/").
  std::unordered_map<std::string, std::unique_ptr<PckWriter>> m_writers;
  bool m_batchPlainFiles = false;
  std::vector<std::unique_ptr<CPendingFile>> m_pending;
  // Folded: the planned paths, the package files they go into, the folders on their way.
  std::unordered_set<std::string> m_reserved;
  std::vector<std::string> m_plainOrder;  // the planned plain files, in order
  size_t m_plainNext = 0;                 // where the search for the next one starts
  // The batch's temporaries: by the path of their file those picked and not yet made,
  // the folded names of all of them, and those the journal lists.
  std::unordered_map<std::string, std::string> m_pickedTemps;
  std::unordered_set<std::string> m_tempKeys;
  std::vector<std::string> m_listedTemps;
};
