// CGameDiff: two game folders compared, the tree of the patch between them.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "delta/DeltaHeader.h"
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
#include "tools/pcktool/Progress.h"
#include "tools/pcktool/GameDiff.h"
#include "tools/pcktool/Tool.h"

namespace {

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

}  // namespace

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
static bool SameContent(const std::string& a, const std::string& b, uint32_t size) {
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
    if (was)
      node.bases.push_back({oldReader.get(), was->index, std::string(), was->size});
    else
      node.wholeOnly = true;
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
    if (!version && was)
      node.bases.push_back({nullptr, -1, m_old + "/" + was->path, was->size});
    else
      node.wholeOnly = true;
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

void CGameDiff::Recount() {
  m_files = m_bytes = 0;
  const std::function<void(const Node&)> count = [&](const Node& node) {
    for (const auto& [name, child] : node.children) {
      if (child.source == Node::kFolder) {
        count(child);
        continue;
      }
      ++m_files;
      m_bytes += child.size;
    }
  };
  count(m_root);
}

namespace {

// Joins the tree `from` into `into`. Both describe the same new game, so a file in both
// is the same new file: it replaces the old contents of both, and goes whole when either
// old game lacks it. A removal is the same removal in another old game's spelling.
bool JoinTrees(Node& into, Node& from, const std::string& where) {
  for (auto& [name, child] : from.children) {
    const std::string path = where.empty() ? name : where + "/" + name;
    auto it = into.children.find(name);
    if (it == into.children.end() && child.source == Node::kEmpty) {
      it = std::find_if(into.children.begin(), into.children.end(),
                        [&](const auto& c) { return PckNamesEqual(c.first, name); });
      if (it != into.children.end() && it->second.source == Node::kEmpty) continue;
      it = into.children.end();
    }
    if (it == into.children.end()) {
      into.children.emplace(name, std::move(child));
      continue;
    }
    Node& mine = it->second;
    if (mine.source == Node::kFolder && child.source == Node::kFolder) {
      if (!JoinTrees(mine, child, path)) return false;
      continue;
    }
    if (mine.source == Node::kEmpty && child.source == Node::kEmpty) continue;
    if (mine.source != child.source || mine.source == Node::kFolder || mine.source == Node::kEmpty)
      return Fail("diff", ShowName(path) + " is a file in one old game's patch and not in another's"), false;
    mine.wholeOnly = mine.wholeOnly || child.wholeOnly;
    mine.bases.insert(mine.bases.end(), child.bases.begin(), child.bases.end());
  }
  return true;
}

}  // namespace

bool CGameDiff::Absorb(CGameDiff& other) {
  if (!JoinTrees(m_root, other.m_root, "")) return false;
  for (const std::string& line : other.m_deletes)
    if (std::none_of(m_deletes.begin(), m_deletes.end(), [&](const std::string& l) { return PckNamesEqual(l, line); }))
      m_deletes.push_back(line);
  for (auto& reader : other.m_readers) m_readers.push_back(std::move(reader));
  m_longestOld = std::max(m_longestOld, other.m_longestOld);
  m_emptyFolders = std::max(m_emptyFolders, other.m_emptyFolders);
  for (const std::string& line : other.CountLines()) m_otherCounts.push_back("from " + ShowName(other.m_old) + ": " + line);
  other.m_root = Node();
  other.m_deletes.clear();
  Recount();
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

std::vector<std::string> CGameDiff::CountLines() const {
  std::vector<std::string> lines;
  char line[400];
  for (const PackageCounts& c : m_counts) {
    snprintf(line, sizeof line, "%s%s: %d added, %d replaced, %d removed", c.name.c_str(), c.state, c.added, c.replaced,
             c.removed);
    lines.push_back(line);
  }
  snprintf(line, sizeof line, "plain files: %d added, %d replaced, %d removed", m_plain.added, m_plain.replaced,
           m_plain.removed);
  lines.push_back(line);
  return lines;
}

void CGameDiff::PrintSummary(uint64_t patchBytes) const {
  for (const std::string& line : CountLines()) printf("%s\n", line.c_str());
  for (const std::string& line : m_otherCounts) printf("%s\n", line.c_str());
  if (m_emptyFolders > 0) printf("not carried: %d new empty plain folders\n", m_emptyFolders);
  if (m_deltasTried)
    printf("deltas: %d files, %llu bytes in place of %llu stored whole\n", m_deltas,
           (unsigned long long)m_deltaBytes, (unsigned long long)m_wholeBytes);
  printf("patch: %llu files, %llu bytes of content, %llu bytes in patch.idx/.nam/.dat; Delete.txt: %zu lines\n",
         (unsigned long long)m_files, (unsigned long long)m_bytes, (unsigned long long)patchBytes, m_deletes.size());
}

