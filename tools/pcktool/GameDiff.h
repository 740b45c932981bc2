// The comparison of two game folders that `pcktool diff` makes a patch of: what the
// new game has that the old one lacks or holds otherwise, package entry by package entry
// and plain file by plain file, as a tree of the patch-to-be. Several old games may be
// compared with one new one and their trees joined, so that one patch serves them all.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pck/PckReader.h"
#include "tools/pcktool/Tool.h"

// Something that exists in one of the two games: a package entry or a plain path.
struct Thing {
  std::string path;  // as spelled, "/"-joined, relative to the package or the game
  bool folder = false;
  bool hasChildren = false;
  uint32_t size = 0;
  uint8_t digest[16] = {};
  int index = -1;    // the record, for a package entry
};
// Keyed by the folded path: the game's file systems and packages ignore ASCII case.
using Things = std::map<std::string, Thing>;

// A file of the patch-to-be and where its content comes from.
struct Node {
  enum Source : uint8_t { kFolder, kEntry, kDisk, kEmpty } source = kFolder;
  PckReader* reader = nullptr;
  int index = -1;
  std::string disk;
  uint32_t size = 0;
  // What a changed file replaces, for a delta: an entry of an old package or an old
  // plain file, one for each old game that has it with another content.
  struct Base {
    PckReader* reader = nullptr;
    int index = -1;
    std::string disk;
    uint32_t size = 0;
  };
  std::vector<Base> bases;
  bool wholeOnly = false;  // an old game lacks it (or it is the version file): it goes whole
  // A delta, made into `disk`: stored as it is, with the stamp of the file it stands for.
  bool delta = false;
  int32_t stamp = 0;
  std::map<std::string, Node> children;  // byte order of the names
};

struct PackageCounts {
  std::string name;
  int added = 0, replaced = 0, removed = 0;
  const char* state = "";  // "", " (new)", " (removed)"
};

class CGameDiff {
 public:
  CGameDiff(std::string oldRoot, std::string newRoot, std::string password)
      : m_old(std::move(oldRoot)), m_new(std::move(newRoot)), m_password(std::move(password)), m_longestOld(m_old.size()) {}

  // Works out the patch; false after reporting what a patch cannot express.
  bool Run();
  const Node& Root() const { return m_root; }
  // Joins the patch of `other` (another old game against the same new one) to this one:
  // its files, the old contents they replace, its removals and its lines of Delete.txt.
  // `other` is left empty.
  bool Absorb(CGameDiff& other);
  const std::vector<std::string>& Deletes() const { return m_deletes; }
  void PrintSummary(uint64_t patchBytes) const;
  // "bld: 1 added, 2 replaced, 0 removed", a line for each package and the plain files.
  std::vector<std::string> CountLines() const;
  uint64_t Files() const { return m_files; }
  uint64_t Bytes() const { return m_bytes; }
  // Turns the changed files worth it into deltas made at `level`, each written into a
  // file of `scratch`; `patchBase` and the old game bound the paths the check allows.
  bool MakeDeltas(int level, const std::string& scratch, const std::string& patchBase);

 private:
  struct Game {
    std::string root;
    std::vector<std::string> top;                  // the names in the game folder
    std::map<std::string, std::string> packages;   // list name -> base on the disk
    std::vector<std::string> packageFiles;         // their files' names, folded
  };
  bool ScanTop(Game& game);
  bool LoadEntries(const std::string& base, std::unique_ptr<PckReader>& reader, Things& out);
  bool ListPlain(const Game& game, const std::string& dir, const std::string& rel, int depth, Things& out);
  bool DiffPackage(const std::string& name);
  bool DiffPlain();
  Node& Place(const std::string& path);
  void Recount();
  bool Refuse(const std::string& what) { return Fail("diff", what), false; }
  // The decoded content of the new file (base null) or of one of the old ones.
  bool LoadContent(const Node& node, const Node::Base* base, const std::string& where, std::vector<uint8_t>& out);
  uint64_t WholeCost(const Node& node, const std::vector<uint8_t>& content);

  std::string m_old, m_new, m_password;
  Game m_oldGame, m_newGame;
  std::vector<std::unique_ptr<PckReader>> m_readers;
  Node m_root;
  std::vector<std::string> m_deletes;
  std::vector<PackageCounts> m_counts;
  std::vector<std::string> m_otherCounts;  // the lines of the old games absorbed
  size_t m_longestOld = 0;                 // the longest old game's folder, for the paths
  PackageCounts m_plain{"plain files"};
  int m_emptyFolders = 0;
  uint64_t m_files = 0, m_bytes = 0;
  bool m_deltasTried = false;
  int m_deltas = 0;
  uint64_t m_deltaBytes = 0, m_wholeBytes = 0;  // what the deltas cost, what they replace
};
