// pcktool diff: the patch that turns one game folder into another.
//
// The game's packages are compared entry by entry through their stored sizes and MD5s,
// so unchanged entries are never decoded and changed ones are copied into the patch
// block for block as they are stored; plain files are compared by content. What the
// new game no longer has becomes an empty file in the patch (an entry or folder of a
// package) or a line of Delete.txt (a plain file or folder, or a whole package). Before
// anything is kept, the patch is checked against the old game exactly as the updater
// checks it, so a patch that would fail on the player's machine is never handed out.
//
// A changed file that the old game has goes as a delta of its decoded content against
// the old one, under "~delta/", its own path and the old content's MD5, where that is
// worth it (README, "Delta patches"); --no-delta carries every file whole.
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "io/Digest.h"
#include "io/File.h"
#include "io/FileStream.h"
#include "patch/PatchCheck.h"
#include "patch/PatchRelease.h"
#include "payload/PayloadFormat.h"
#include "pck/PckCodecs.h"
#include "pck/PckEntryLayout.h"
#include "pck/PckJournal.h"
#include "pck/PckWriter.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "tools/pcktool/Commands.h"
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/Tool.h"

namespace {

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

std::string ParentKey(const std::string& key) {
  const size_t slash = key.rfind('/');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

// Marks the folders that hold something.
void NoteChildren(Things& things) {
  for (auto& [key, thing] : things) {
    const std::string parent = ParentKey(key);
    if (!parent.empty())
      if (auto it = things.find(parent); it != things.end()) it->second.hasChildren = true;
  }
}

// A file of the patch-to-be and where its content comes from.
struct Node {
  enum Source : uint8_t { kFolder, kEntry, kDisk, kEmpty } source = kFolder;
  PckReader* reader = nullptr;
  int index = -1;
  std::string disk;
  uint32_t size = 0;
  // What a changed file replaces, for a delta: an entry of the old package or an old
  // plain file.
  bool replaces = false;
  PckReader* oldReader = nullptr;
  int oldIndex = -1;
  std::string oldDisk;
  uint32_t oldSize = 0;
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
      : m_old(std::move(oldRoot)), m_new(std::move(newRoot)), m_password(std::move(password)) {}

  // Works out the patch; false after reporting what a patch cannot express.
  bool Run();
  const Node& Root() const { return m_root; }
  const std::vector<std::string>& Deletes() const { return m_deletes; }
  void PrintSummary(uint64_t patchBytes) const;
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
  bool Refuse(const std::string& what) { return Fail("diff", what), false; }
  bool LoadContent(const Node& node, bool old, const std::string& where, std::vector<uint8_t>& out);
  uint64_t WholeCost(const Node& node, const std::vector<uint8_t>& content);

  std::string m_old, m_new, m_password;
  Game m_oldGame, m_newGame;
  std::vector<std::unique_ptr<PckReader>> m_readers;
  Node m_root;
  std::vector<std::string> m_deletes;
  std::vector<PackageCounts> m_counts;
  PackageCounts m_plain{"plain files"};
  int m_emptyFolders = 0;
  uint64_t m_files = 0, m_bytes = 0;
  bool m_deltasTried = false;
  int m_deltas = 0;
  uint64_t m_deltaBytes = 0, m_wholeBytes = 0;  // what the deltas cost, what they replace
};

// Why the updater would not delete exactly this path from a line of Delete.txt, or null.
// It reads at most 255 characters a line (CR LF included), trims blanks at both ends,
// takes "*" and "?" as wildcards and "\\" as a separator.
const char* DeleteLineProblem(const std::string& path) {
  if (path.size() > 253) return "its path is too long for a line of Delete.txt";
  if (path.find_first_of(" \t") == 0 || path.find_last_of(" \t") == path.size() - 1)
    return "Delete.txt cannot name a path that begins or ends with a blank";
  if (plat::HasWildcards(path)) return "Delete.txt would take its \"*\" or \"?\" for a wildcard";
  for (size_t at : plat::SeparatorPositions(path))
    if (path[at] == '\\') return "Delete.txt would take the \"\\\" in its name for a folder";
  return nullptr;
}

bool CGameDiff::ScanTop(Game& game) {
  plat::CFolderFind find;
  plat::FindData data;
  if (!find.First(game.root, data)) return Fail(game.root, "cannot list the folder"), false;
  do {
    if (!data.exact) return Fail(game.root + "/" + data.name, kNameOutsideCodePage), false;
    if (data.name != "." && data.name != "..") game.top.push_back(data.name);
  } while (find.Next(data));
  // A stopped run's change that the journal still lists leaves packages half swapped,
  // and settling it would change the folder, which diff only reads.
  // The patch's own folder of deltas: a game that had it could not be patched.
  for (const std::string& name : game.top)
    if (PckNamesEqual(name, kDeltaFolder))
      return Refuse(ShowName(game.root + "/" + name) + ": the name " + kDeltaFolder +
                    " is reserved for the deltas a patch carries; a game cannot have it");
  for (const std::string& name : game.top)
    if (name == kPckJournalName)
      return Refuse(ShowName(game.root + "/" + name) +
                    ": a stopped run left a change of the packages here unfinished; let the updater or a pcktool "
                    "command on one of them (verify) settle it first");
  for (const char* const* p = g_packageNames; *p; ++p) {
    std::string parts[3];
    const char* exts[3] = {".idx", ".nam", ".dat"};
    int found = 0;
    for (const std::string& name : game.top)
      for (int k = 0; k < 3; ++k) {
        const size_t n = std::strlen(exts[k]);
        if (name.size() > n && PckNamesEqual(name.substr(name.size() - n), exts[k]) &&
            PckNamesEqual(name.substr(0, name.size() - n), *p) && parts[k].empty()) {
          parts[k] = name;
          ++found;
        }
      }
    if (found == 0) continue;
    if (found < 3) return Fail(game.root + "/" + *p, "the package is incomplete (one of its three files is missing)"), false;
    game.packages[*p] = game.root + "/" + parts[0].substr(0, parts[0].size() - 4);
    for (const std::string& part : parts) game.packageFiles.push_back(PckFoldName(part));
  }
  return true;
}

bool CGameDiff::LoadEntries(const std::string& base, std::unique_ptr<PckReader>& reader, Things& out) {
  reader = std::make_unique<PckReader>();
  if (!OpenPackage(*reader, base, m_password)) return false;
  WalkRecords(*reader, [&](int index, const PckRecord& r, const std::string& path) {
    if (r.type == kPckFolderEnd) return true;
    Thing t;
    t.path = path;
    t.folder = r.type == kPckFolder;
    t.size = r.size;
    std::memcpy(t.digest, r.digest, 16);
    t.index = index;
    out[PckFoldName(path)] = t;
    return true;
  });
  NoteChildren(out);
  return true;
}

bool CGameDiff::ListPlain(const Game& game, const std::string& dir, const std::string& rel, int depth, Things& out) {
  plat::CFolderFind find;
  plat::FindData data;
  if (!find.First(dir, data)) return Fail(dir, "cannot list the folder"), false;
  std::vector<plat::FindData> children;
  do {
    if (!data.exact) return Fail(dir + "/" + data.name, kNameOutsideCodePage), false;
    if (data.name != "." && data.name != "..") children.push_back(data);
  } while (find.Next(data));
  find.Close();
  for (const plat::FindData& c : children) {
    const std::string folded = PckFoldName(c.name);
    // The packages' own files, and what the tools leave while they hold the folder.
    if (depth == 0 && (std::find(game.packageFiles.begin(), game.packageFiles.end(), folded) != game.packageFiles.end() ||
                       folded == "pck.lock"))
      continue;
    const std::string path = dir + "/" + c.name, relPath = rel.empty() ? c.name : rel + "/" + c.name;
    if (depth + 1 > kPckMaxPathNames) return Fail(path, "lies too many folders deep"), false;
    Thing t;
    t.path = relPath;
    t.folder = c.isDir;
    if (!c.isDir) {
      plat::FileInfo info;
      if (!plat::StatPath(path, info)) return Fail(path, "cannot be read"), false;
      if (info.size > INT32_MAX) return Fail(path, "is larger than 2 GiB, which a patch cannot carry"), false;
      t.size = uint32_t(info.size);
    }
    out[PckFoldName(relPath)] = t;
    if (c.isDir && !ListPlain(game, path, relPath, depth + 1, out)) return false;
  }
  return true;
}

Node& CGameDiff::Place(const std::string& path) {
  Node* node = &m_root;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    Node& child = node->children[path.substr(start, slash == std::string::npos ? std::string::npos : slash - start)];
    if (slash == std::string::npos) return child;
    node = &child;
    start = slash + 1;
  }
}

// Whether two plain files hold the same bytes.
bool SameContent(const std::string& a, const std::string& b, uint32_t size) {
  CFile fa, fb;
  if (!fa.Open(a, "rb") || !fb.Open(b, "rb")) return false;
  std::vector<char> x(64u << 10), y(64u << 10);
  for (uint32_t left = size; left > 0;) {
    const size_t n = std::min<size_t>(left, x.size());
    if (!fa.ReadExact(x.data(), n) || !fb.ReadExact(y.data(), n) || std::memcmp(x.data(), y.data(), n) != 0)
      return false;
    left -= uint32_t(n);
  }
  return true;
}

bool CGameDiff::DiffPackage(const std::string& name) {
  auto o = m_oldGame.packages.find(name), n = m_newGame.packages.find(name);
  PackageCounts counts{name};
  if (n == m_newGame.packages.end()) {
    // The whole package goes: its three files, before anything is released.
    for (const char* ext : {".idx", ".nam", ".dat"})
      m_deletes.push_back(o->second.substr(m_old.size() + 1) + ext);
    counts.state = " (removed)";
    m_counts.push_back(counts);
    return true;
  }
  Things olds, news;
  std::unique_ptr<PckReader> oldReader, newReader;
  if (o != m_oldGame.packages.end() && !LoadEntries(o->second, oldReader, olds)) return false;
  if (!LoadEntries(n->second, newReader, news)) return false;
  if (o == m_oldGame.packages.end()) {
    counts.state = " (new)";
    // The package is made by the release; nothing of the old game may stand in its way.
    for (const std::string& top : m_oldGame.top)
      if (PckNamesEqual(top, name))
        return Refuse("the old game has " + ShowName(top) + " where the new one has the package " + name +
                      ": a patch cannot turn a plain file or folder into a package");
  }
  for (const auto& [key, e] : news) {
    const std::string where = name + "/" + e.path;
    auto old = olds.find(key);
    const Thing* was = old == olds.end() ? nullptr : &old->second;
    if (was && was->path != e.path)
      return Refuse(ShowName(where) + " is spelled " + ShowName(name + "/" + was->path) +
                    " in the old game: a patch cannot change the case of a name");
    if (was && was->folder != e.folder)
      return Refuse(ShowName(where) + (e.folder ? " was a file and is a folder" : " was a folder and is a file") +
                    ": a patch cannot change what a path is");
    if (e.folder) {
      if (!was && !e.hasChildren)
        return Refuse(ShowName(where) + " is a new empty folder: a patch carries files only");
      continue;
    }
    if (was && was->size == e.size && std::memcmp(was->digest, e.digest, 16) == 0) continue;
    if (e.size == 0)
      return Refuse(ShowName(where) + " is empty: the release takes an empty file for a deletion");
    Node& node = Place(where);
    node.source = Node::kEntry;
    node.reader = newReader.get();
    node.index = e.index;
    node.size = e.size;
    if (was) {
      node.replaces = true;
      node.oldReader = oldReader.get();
      node.oldIndex = was->index;
      node.oldSize = was->size;
    }
    ++(was ? counts.replaced : counts.added);
    ++m_files;
    m_bytes += e.size;
  }
  for (const auto& [key, e] : olds) {
    if (news.count(key)) continue;
    ++counts.removed;
    // One empty file removes a folder with all below it.
    const std::string parent = ParentKey(key);
    if (!parent.empty() && !news.count(parent)) continue;
    Place(name + "/" + e.path).source = Node::kEmpty;
    ++m_files;
  }
  m_readers.push_back(std::move(oldReader));
  m_readers.push_back(std::move(newReader));
  m_counts.push_back(counts);
  return true;
}

bool CGameDiff::DiffPlain() {
  Things olds, news;
  if (!ListPlain(m_oldGame, m_old, "", 0, olds) || !ListPlain(m_newGame, m_new, "", 0, news)) return false;
  NoteChildren(news);
  for (const auto& [key, f] : news) {
    auto old = olds.find(key);
    const Thing* was = old == olds.end() ? nullptr : &old->second;
    if (f.folder && key.find('/') == std::string::npos)
      for (const char* const* p = g_packageNames; *p; ++p)
        if (PckNamesEqual(f.path, *p))
          return Refuse("the new game has a plain folder " + ShowName(f.path) +
                        ", named like a package: the release would write its files into the package");
    if (was && was->path != f.path)
      return Refuse(ShowName(f.path) + " is spelled " + ShowName(was->path) +
                    " in the old game: a patch cannot change the case of a name");
    if (was && was->folder != f.folder)
      return Refuse(ShowName(f.path) + (f.folder ? " was a file and is a folder" : " was a folder and is a file") +
                    ": a patch cannot change what a path is");
    if (f.folder) {
      if (!was && !f.hasChildren) ++m_emptyFolders;
      continue;
    }
    // The version file always comes from the new game: it says what the patch makes.
    const bool version = IsVersionFile(f.path);
    if (!version && was && was->size == f.size && SameContent(m_old + "/" + was->path, m_new + "/" + f.path, f.size))
      continue;
    Node& node = Place(f.path);
    node.source = Node::kDisk;
    node.disk = m_new + "/" + f.path;
    node.size = f.size;
    if (!version && was) {
      node.replaces = true;
      node.oldDisk = m_old + "/" + was->path;
      node.oldSize = was->size;
    }
    if (!version) ++(was ? m_plain.replaced : m_plain.added);
    ++m_files;
    m_bytes += f.size;
  }
  if (!news.count(PckFoldName("CVer.txt")))
    return Refuse(ShowName(m_new) + " has no CVer.txt: the updater needs the new version's");
  for (const auto& [key, f] : olds) {
    if (news.count(key)) continue;
    const std::string parent = ParentKey(key);
    if (!parent.empty() && !news.count(parent)) continue;  // its folder goes as a whole
    if (const char* why = DeleteLineProblem(f.path))
      return Refuse(ShowName(m_old + "/" + f.path) + " is gone from the new game, but " + why);
    std::string line = f.path;
    std::replace(line.begin(), line.end(), '/', '\\');
    m_deletes.push_back(line);
    ++m_plain.removed;
  }
  return true;
}

bool CGameDiff::Run() {
  m_oldGame.root = m_old;
  m_newGame.root = m_new;
  if (!ScanTop(m_oldGame) || !ScanTop(m_newGame)) return false;
  for (const char* const* p = g_packageNames; *p; ++p)
    if ((m_oldGame.packages.count(*p) || m_newGame.packages.count(*p)) && !DiffPackage(*p)) return false;
  return DiffPlain();
}

// ---- deltas ----

// A delta pays when it costs at most four fifths of the whole file and at least 1 KiB
// less: below that the saving does not make up for the player's extra work (decoding the
// old file, applying the delta) and for a patch that then needs exactly the old file.
constexpr uint64_t kDeltaMinSaving = 1024;

// What an entry of `bytes` costs in the patch stored as it is (a delta does not compress):
// its header, and per block a table slot and a block header.
uint64_t StoredCost(uint64_t bytes) {
  const uint64_t blocks = (bytes + kPckDefaultBlockSize - 1) / kPckDefaultBlockSize;
  return kPckEntryHeaderSize + blocks * (4 + kPckBlockHeaderSize) + bytes;
}

// The decoded content of one side of a changed file: a package entry through the block
// workers, checked against its MD5, or a plain file.
bool CGameDiff::LoadContent(const Node& node, bool old, const std::string& where, std::vector<uint8_t>& out) {
  PckReader* reader = old ? node.oldReader : node.reader;
  const uint32_t size = old ? node.oldSize : node.size;
  out.clear();
  if (node.source == Node::kDisk) {
    const std::string& path = old ? node.oldDisk : node.disk;
    CFile file;
    out.resize(size);
    if (!file.Open(path, "rb") || !file.ReadExact(out.data(), size)) return Fail(path, "cannot be read"), false;
    return true;
  }
  const int index = old ? node.oldIndex : node.index;
  out.reserve(size);
  int result = -1;
  reader->VerifyEntries(
      {index}, [&](size_t, const uint8_t* data, uint32_t length) { return out.insert(out.end(), data, data + length), true; },
      [&](size_t, int r, uint32_t) { result = r; });
  if (result == 0 && out.size() == size) return true;
  return Refuse(ShowName((old ? m_old : m_new) + "/" + where) +
                ": the entry does not decode to its recorded MD5, and a delta needs its content");
}

// What the file costs in the patch whole: a package entry its stored extent in the new
// package (the patch copies it as stored), a plain file its blocks as the patch's writer
// compresses them.
uint64_t CGameDiff::WholeCost(const Node& node, const std::vector<uint8_t>& content) {
  if (node.source == Node::kEntry) {
    PckEntryLayout layout;
    const PckReader& r = *node.reader;
    if (PckReadEntryLayout(node.reader->DataReader(), uint64_t(r.DataLength()), r.Records()[size_t(node.index)],
                           r.Header().blockSize, layout) != PckLayoutRead::Ok)
      return 0;  // the patch check reports the damage
    uint64_t end = layout.tableEnd;
    for (const PckStoredBlock& b : layout.blocks) end = std::max(end, b.End());
    return end - layout.start;
  }
  CBlockEncoder encoder(kPckDefaultBlockSize);
  uint64_t cost = kPckEntryHeaderSize;
  for (size_t at = 0; at < content.size(); at += kPckDefaultBlockSize) {
    const uint32_t n = uint32_t(std::min<size_t>(kPckDefaultBlockSize, content.size() - at));
    encoder.Encode(PckCodec::Lzo1x, content.data() + at, n);
    cost += 4 + kPckBlockHeaderSize + encoder.PayloadLength();
  }
  return cost;
}

// Every changed file that replaces one of the old game, with its parent and its path.
struct Replacement {
  Node* parent;
  std::string name, where;
};
void ListReplacements(Node& node, const std::string& where, std::vector<Replacement>& out) {
  for (auto& [name, child] : node.children) {
    const std::string path = where.empty() ? name : where + "/" + name;
    if (child.source == Node::kFolder) ListReplacements(child, path, out);
    if (child.replaces) out.push_back({&node, name, path});
  }
}
// Drops the folders that the deltas left without a file.
void PruneEmptyFolders(Node& node) {
  for (auto it = node.children.begin(); it != node.children.end();) {
    if (it->second.source == Node::kFolder) PruneEmptyFolders(it->second);
    if (it->second.source == Node::kFolder && it->second.children.empty())
      it = node.children.erase(it);
    else
      ++it;
  }
}

bool CGameDiff::MakeDeltas(int level, const std::string& scratch, const std::string& patchBase) {
  m_deltasTried = true;
  std::vector<Replacement> list;
  ListReplacements(m_root, "", list);
  uint64_t total = 0;
  for (const Replacement& r : list) total += uint64_t(r.parent->children.at(r.name).size);
  CProgress progress(list.size(), total);
  std::vector<uint8_t> oldContent, newContent, delta;
  for (const Replacement& r : list) {
    Node& node = r.parent->children.at(r.name);
    const uint32_t size = node.size;
    // "~delta/<path>/<the old content's MD5>", the MD5's 32 hex digits counted here.
    std::string rel = std::string(kDeltaFolder) + "/" + r.where + "/" + std::string(32, '0');
    // Where the check of the patch (below) would find the delta's path too long or too
    // deep, the file goes whole.
    const bool fits = patchBase.size() + 1 + rel.size() <= kMaxPathBytes && m_old.size() + 1 + rel.size() <= kMaxPathBytes &&
                      size_t(std::count(rel.begin(), rel.end(), '/')) < size_t(kPckMaxPathNames);
    // A plain file's cost needs its content; an entry's is known without decoding it.
    const bool plain = node.source == Node::kDisk;
    if (fits && plain && !LoadContent(node, false, r.where, newContent)) return false;
    const uint64_t whole = fits ? WholeCost(node, newContent) : 0;
    const uint64_t most = std::min(whole * 4 / 5, whole > kDeltaMinSaving ? whole - kDeltaMinSaving : 0);
    std::string file;
    if (most > StoredCost(kDeltaHeaderSize)) {
      if (!plain && !LoadContent(node, false, r.where, newContent)) return false;
      if (!LoadContent(node, true, r.where, oldContent)) return false;
      const uint64_t limit = most - (StoredCost(most) - most);  // the delta's own bytes
      CError error;
      const int made = MakeDelta(oldContent.data(), oldContent.size(), newContent.data(), newContent.size(), level,
                                 size_t(limit), delta, error);
      if (made < 0) return Fail(r.where, error.text), false;
      if (made == 0 && StoredCost(delta.size()) <= most) file = scratch + "/" + std::to_string(m_deltas + 1);
    }
    if (!file.empty()) {
      DeltaHeader header;
      std::string why;
      if (!DecodeDeltaHeader(delta.data(), delta.size(), header, why)) return Fail(r.where, why), false;
      rel = rel.substr(0, rel.size() - 32) + Md5Hex(header.baseMd5);
      CFile out;
      if (!out.Create(file) || !out.WriteAll(delta.data(), delta.size()) || !out.Close())
        return Fail(file, out.Failed() ? out.Error() : plat::LastError().text), false;
      int32_t stamp = 0;
      if (node.source == Node::kEntry) {
        stamp = node.reader->Records()[size_t(node.index)].stamp;
      } else {
        std::unique_ptr<FileStream> s = OpenFileStream(node.disk, "rb");
        if (!s) return Fail(node.disk, "cannot be opened"), false;
        stamp = s->Stamp();
      }
      ++m_deltas;
      m_deltaBytes += StoredCost(delta.size());
      m_wholeBytes += whole;
      m_bytes = m_bytes - size + delta.size();
      Node& d = Place(rel);
      d.source = Node::kDisk;
      d.disk = file;
      d.size = uint32_t(delta.size());
      d.delta = true;
      d.stamp = stamp;
      r.parent->children.erase(r.name);
    }
    progress.AddBytes(size);
    progress.FileDone();
  }
  progress.Finish();
  PruneEmptyFolders(m_root);
  return true;
}

// The folder the deltas are written into before they go into the patch. What an earlier,
// stopped run left there goes first; it goes once the patch is written, before the patch
// takes its place, so that a run that reports success leaves nothing behind.
bool RemoveScratchFolder(const std::string& dir) {
  if (!plat::FileExists(dir)) return true;
  plat::CFolderFind find;
  plat::FindData data;
  std::vector<std::string> files;
  if (find.First(dir, data)) do {
      if (!data.isDir) files.push_back(dir + "/" + data.name);
    } while (find.Next(data));
  find.Close();
  bool ok = true;
  for (const std::string& f : files) ok = plat::DeleteFile(f) && ok;
  return plat::RemoveDir(dir) && ok;
}
struct CScratchFolder {
  explicit CScratchFolder(std::string dir) : path(std::move(dir)) { RemoveScratchFolder(path); }
  ~CScratchFolder() { RemoveScratchFolder(path); }
  std::string path;
};

void CGameDiff::PrintSummary(uint64_t patchBytes) const {
  for (const PackageCounts& c : m_counts)
    printf("%s%s: %d added, %d replaced, %d removed\n", c.name.c_str(), c.state, c.added, c.replaced, c.removed);
  printf("plain files: %d added, %d replaced, %d removed\n", m_plain.added, m_plain.replaced, m_plain.removed);
  if (m_emptyFolders > 0) printf("not carried: %d new empty plain folders\n", m_emptyFolders);
  if (m_deltasTried)
    printf("deltas: %d files, %llu bytes in place of %llu stored whole\n", m_deltas,
           (unsigned long long)m_deltaBytes, (unsigned long long)m_wholeBytes);
  printf("patch: %llu files, %llu bytes of content, %llu bytes in patch.idx/.nam/.dat; Delete.txt: %zu lines\n",
         (unsigned long long)m_files, (unsigned long long)m_bytes, (unsigned long long)patchBytes, m_deletes.size());
}

// A file on its way into the patch: counted for the bar, and a delta with the time stamp
// of the file it stands for.
class CStampedStream : public CProgressStream {
 public:
  CStampedStream(DataStream& inner, CProgress& progress, bool stamped, int32_t stamp)
      : CProgressStream(inner, progress), m_stamped(stamped), m_stamp(stamp) {}
  int32_t Stamp() override { return m_stamped ? m_stamp : CProgressStream::Stamp(); }

 private:
  bool m_stamped;
  int32_t m_stamp;
};

// Writes the planned tree into the writer opened by the caller.
bool WriteNode(PckWriter& w, const Node& node, CProgress& progress, const std::string& where) {
  for (const auto& [name, child] : node.children) {
    const std::string path = where.empty() ? name : where + "/" + name;
    if (child.source == Node::kFolder) {
      if (w.BeginDir(name) != 0) return Fail(path, w.LastError()), false;
      if (!WriteNode(w, child, progress, path)) return false;
      w.EndDir();
      continue;
    }
    std::unique_ptr<DataStream> source;
    char nothing = 0;
    if (child.source == Node::kEntry)
      source = child.reader->OpenEntry(child.index);
    else if (child.source == Node::kDisk)
      source = OpenFileStream(child.disk, "rb");
    else
      source = std::make_unique<MemoryStream>(&nothing, 0);
    if (!source) return Fail(child.source == Node::kDisk ? child.disk : path, "cannot be opened"), false;
    CStampedStream counted(*source, progress, child.delta, child.stamp);
    // A delta does not compress: it goes as it is.
    if (w.AppendFile(name, counted, int(child.delta ? PckCodec::Stored : PckCodec::Lzo1x)) != 0)
      return Fail(path, w.LastError()), false;
    progress.FileDone();
  }
  return true;
}

bool WriteDeleteList(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  const std::string temp = path + ".new";
  CFile file;
  const bool ok = file.Create(temp) && file.WriteAll(text.data(), text.size()) && file.Flush() && file.Close();
  if (!ok || !plat::ReplaceFile(temp, path)) {
    const std::string why = file.Failed() ? file.Error() : plat::LastError().text;
    plat::DeleteFile(temp);
    return Fail(path, why), false;
  }
  return true;
}

uint64_t PackageBytes(const std::string& base) {
  uint64_t total = 0;
  for (const std::string& f : {PckIndexName(base), PckNameTableName(base), PckDataName(base)}) {
    plat::FileInfo info;
    if (plat::StatPath(f, info)) total += uint64_t(info.size);
  }
  return total;
}

}  // namespace

int RunDiff(const Options& opt) {
  const std::string& oldRoot = opt.operands[0];
  const std::string& newRoot = opt.operands[1];
  const std::string& out = opt.operands[2];
  for (const std::string& dir : {oldRoot, newRoot})
    if (!plat::IsFolder(dir)) return Fail(dir, "is not a folder");

  CGameDiff diff(oldRoot, newRoot, opt.password);
  if (!diff.Run()) return kExitFailed;

  if (!plat::IsFolder(out) && !plat::MakeFolders(out)) return Fail(out, "cannot create the folder");
  plat::CFolderLock lock;
  if (!TakeFolder(out, lock)) return kExitFailed;
  const std::string base = out + "/patch", scratch = ScratchBase(base);
  RemovePackageFiles(scratch);
  std::unique_ptr<CScratchFolder> deltas;
  if (!opt.noDelta) {
    deltas = std::make_unique<CScratchFolder>(base + ".pcktool-deltas");
    if (!plat::MakeDir(deltas->path)) return Fail(deltas->path, plat::LastError().text);
    if (!diff.MakeDeltas(opt.deltaLevel < 0 ? kDeltaDefaultLevel : opt.deltaLevel, deltas->path, scratch))
      return kExitFailed;
  }
  PckWriter w;
  w.SetPassword(opt.password.c_str());
  if (w.Create(scratch) != 0) return Fail(base, w.LastError());
  {
    CProgress progress(diff.Files(), diff.Bytes());
    const bool ok = w.BeginDir("") == 0 && WriteNode(w, diff.Root(), progress, "");
    if (!ok) {
      w.Abandon();
      RemovePackageFiles(scratch);
      return kExitFailed;
    }
    w.EndDir();
  }
  w.Close();
  if (w.CommitFailed()) {
    RemovePackageFiles(scratch);
    return Fail(base, w.LastError());
  }
  if (deltas && !RemoveScratchFolder(deltas->path)) {
    const std::string why = plat::LastError().text;
    RemovePackageFiles(scratch);
    return Fail(deltas->path, "cannot be removed: " + why);
  }
  // The updater's own check, against the old game: what it would refuse is not made.
  // The old game is only read (it may be a read-only copy), never opened for writing.
  // It applies every delta to the old game's file and compares the result with the new
  // file's MD5.
  CPatchPlan plan;
  CError problem;
  if (CheckPatchPackage(scratch, g_packageNames, oldRoot, CFileTarget::kFlagCreatePackages, opt.password.c_str(),
                        nullptr, plan, problem, GameAccess::ReadOnly) != 0) {
    RemovePackageFiles(scratch);
    return Fail("diff", "the updater would refuse this patch on the old game: " + problem.text);
  }
  // An earlier run's Delete.txt goes before the new patch lands, so that a stop in
  // between leaves a patch without a Delete.txt rather than one with another's.
  const std::string deleteList = out + "/Delete.txt";
  if (plat::FileExists(deleteList) && !plat::DeleteFile(deleteList)) return Fail(deleteList, plat::LastError().text);
  if (!SwapIntoPlace(scratch, base)) return kExitFailed;
  if (!WriteDeleteList(deleteList, diff.Deletes())) return kExitFailed;
  diff.PrintSummary(PackageBytes(base));

  if (!opt.updaterImage.empty()) {
    CPayloadBuilder builder;
    std::string why;
    for (const std::string& f : {PckIndexName(base), PckNameTableName(base), PckDataName(base), deleteList})
      if (!builder.Add(f.substr(f.rfind('/') + 1), f, why)) return Fail(f, why);
    bool signatureRemoved = false;
    if (!builder.Write(opt.updaterImage, opt.updaterExe, why, &signatureRemoved)) return Fail(opt.updaterExe, why);
    if (signatureRemoved) NoteSignatureRemoved("diff", opt.updaterImage, opt.updaterExe);
    printf("built %s\n", Shown(opt.updaterExe).c_str());
  }
  return kExitOk;
}
