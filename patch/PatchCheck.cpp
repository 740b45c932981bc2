// CheckPatchPackage: the release's road through the patch, walked once without writing.
#include "patch/PatchCheck.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "delta/Delta.h"
#include "fs/FileSource.h"
#include "io/Digest.h"
#include "io/Limits.h"
#include "patch/DeltaBases.h"
#include "patch/DirWalker.h"
#include "pck/PckFormat.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

const PlannedFile* CPatchPlan::Find(const std::string& source) const {
  auto it = bySource.find(source);
  return it == bySource.end() ? nullptr : &files[it->second];
}

bool IsVersionFile(const std::string& name) { return PckNamesEqual(name, "CVer.txt"); }

namespace {


std::string Key(const std::string& path) { return plat::ToSlashes(path); }

// The disk as it will be once Delete.txt has run and the files before have been
// written: what the deletion removes is gone (a folder with everything below it), the
// folders that plain files make and the packages that are created are there. The check
// writes nothing, so what the disk itself says is asked once per path: the files of one
// folder share their lookups.
class CPlannedDisk : public CLandingView {
 public:
  bool PackageExists(const std::string& base) const override {
    const std::string key = Key(base);
    if (m_packages.count(key) > 0) return true;
    for (const std::string& f : {PckIndexName(base), PckNameTableName(base), PckDataName(base)})
      if (IsDeleted(f)) return false;
    return Remember(m_diskPackages, key, [&] { return CLandingView::PackageExists(base); });
  }
  bool Exists(const std::string& path) const override {
    const std::string key = Key(path);
    if (m_paths.count(key) > 0 || m_folders.count(key) > 0) return true;
    return !IsDeleted(path) && Remember(m_diskExists, key, [&] { return plat::FileExists(path); });
  }
  // A folder, or a link that leads to one: players move big folders to another drive
  // and leave a link (a junction) behind, and plain files are written through it.
  bool IsFolder(const std::string& path) const {
    const std::string key = Key(path);
    if (m_folders.count(key) > 0) return true;
    return !IsDeleted(path) && Remember(m_diskFolders, key, [&] {
      plat::FileInfo info;
      return plat::StatPath(path, info) && info.isDir;
    });
  }
  // Delete.txt removes `path` (and whatever lies below it) before the release.
  void AddDeleted(const std::string& path) { m_deleted.insert(PckFoldName(Key(path))); }
  // What the deletion removed and the plan has not made again since.
  bool IsDeleted(const std::string& path) const {
    if (m_deleted.empty()) return false;
    const std::string key = PckFoldName(Key(path));
    for (size_t cut = key.find('/'); ; cut = key.find('/', cut + 1)) {
      if (m_deleted.count(cut == std::string::npos ? key : key.substr(0, cut))) return true;
      if (cut == std::string::npos) return false;
    }
  }
  bool IsPlanned(const std::string& path) const { return m_paths.count(Key(path)) > 0; }
  void AddPackage(const std::string& base) {
    m_packages.insert(Key(base));
    for (const std::string& f : {PckIndexName(base), PckNameTableName(base), PckDataName(base)}) m_paths.insert(Key(f));
  }
  void AddFolder(const std::string& path) { m_folders.insert(Key(path)); }
  void AddFile(const std::string& path) { m_paths.insert(Key(path)); }

 private:
  template <class Ask>
  static bool Remember(std::map<std::string, bool>& answers, const std::string& key, Ask ask) {
    auto it = answers.find(key);
    if (it == answers.end()) it = answers.emplace(key, ask()).first;
    return it->second;
  }

  std::set<std::string> m_packages, m_paths, m_folders, m_deleted;
  mutable std::map<std::string, bool> m_diskPackages, m_diskExists, m_diskFolders;
};

// The tree of one game package as the release will leave it: folded inner path ->
// whether it is a folder.
struct CPlannedTree {
  std::map<std::string, bool> entries;
};

class CPatchChecker {
 public:
  CPatchChecker(const std::string& patchBase, const char* const* packageNames, const std::string& gameFolder,
                uint32_t flags, const std::function<bool(uint32_t)>& onBlock, CPatchPlan& plan, GameAccess access,
                const std::vector<std::string>& deletedFirst)
      : m_patchBase(patchBase),
        m_packageNames(packageNames),
        m_gameFolder(gameFolder),
        m_onBlock(onBlock),
        m_plan(plan),
        m_access(access) {
    m_target.SetFlags(flags);
    m_target.SetRoot(gameFolder);
    for (const std::string& path : deletedFirst) m_disk.AddDeleted(m_gameFolder + "/" + path);
  }

  int Run(const char* password, CError& problem);

 private:
  // What stops the update, about `path`: damaged content, or a file the game cannot take
  // where the patch puts it.
  bool Problem(const std::string& path, const std::string& what, ErrorKind kind = ErrorKind::BadArgument) {
    m_problem = Failure(kind, path, path + ": " + what);
    return false;
  }
  bool CheckFile(PckReader& reader, int index, const std::string& rel, const std::string& target, bool intoPackage);
  bool CheckPlain(const std::string& path, uint32_t size);
  bool CheckEntry(const Landing& landing, uint32_t size);
  CPlannedTree* LoadTree(const Landing& landing);
  // Where a file at `rel` below the patch root lands in the game (its top folder named
  // like a package goes into that package).
  std::string TargetOf(const std::string& rel, bool& intoPackage) const;
  // The deltas below the folder at record `folder`: each file's, checked and planned.
  bool PlanDeltas(PckReader& reader, int folder, const std::string& folderSource);
  bool PlanDelta(PckReader& reader, const std::string& rel, const std::vector<int>& deltas);
  // A file that comes both whole and as a delta (or as two of either) stops the update.
  bool Claim(const std::string& target, bool delta);

  const std::string& m_patchBase;
  const char* const* m_packageNames;
  const std::string& m_gameFolder;
  const std::function<bool(uint32_t)>& m_onBlock;
  CPatchPlan& m_plan;
  const GameAccess m_access;
  CFileTarget m_target;
  CPlannedDisk m_disk;
  std::map<std::string, CPlannedTree> m_trees;  // by folded package base
  CError m_problem;
  std::unique_ptr<CDeltaBases> m_bases;
  std::map<std::string, bool> m_claimed;  // folded target -> by deltas
};

int CPatchChecker::Run(const char* password, CError& problem) {
  m_plan = CPatchPlan();
  m_bases = std::make_unique<CDeltaBases>(password ? password : "");
  PckReader reader;
  reader.SetPassword(password);
  if (reader.Open(m_patchBase) != 0) {
    problem = reader.Error();
    problem.text = m_patchBase + ": " + reader.LastError();
    return -1;
  }
  const std::vector<PckRecord>& records = reader.Records();
  struct Open {
    std::string rel;     // the folder's path below the patch root ("bld/ui")
    std::string target;  // where it lies in the game
  };
  std::vector<Open> open;  // the folders being walked below the root
  bool intoPackage = false;
  int versionFile = -1;
  for (size_t i = 1; i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (r.type == kPckFolderEnd) {
      if (!open.empty()) open.pop_back();
      if (open.empty()) intoPackage = false;
      continue;
    }
    const std::string name(reader.Name(int(i)));
    const std::string rel = open.empty() ? name : open.back().rel + "/" + name;
    const std::string source = m_patchBase + "/" + rel;
    // A patch is untrusted: a name that could climb out of the game folder stops the
    // update before anything is written. Where a name becomes a file on the disk, the
    // stricter rules of disk names follow once its landing is known.
    if (!PckNameIsStorable(name)) {
      problem = Failure(ErrorKind::Damaged, source, "Unsafe name in pck:" + source + " !!!");
      return -1;
    }
    // The deltas: planned where they land, never written as files of their own.
    if (open.empty() && PckNamesEqual(name, kDeltaFolder)) {
      if (r.type != kPckFolder) {
        problem = Failure(ErrorKind::Damaged, source, source + ": not a folder of deltas (a damaged patch)");
        return -1;
      }
      if (!PlanDeltas(reader, int(i), source)) {
        problem = m_problem;
        return -1;
      }
      i += size_t(r.size) + 1;  // past its subtree and its end
      continue;
    }
    std::string target;
    if (r.type == kPckFolder && open.empty()) {
      // A top folder named like a game package goes to that package under the list's
      // own spelling, as the release writes it.
      intoPackage = false;
      target = m_gameFolder + "/" + name;
      for (const char* const* p = m_packageNames; p && *p; ++p)
        if (PckNamesEqual(*p, name)) {
          intoPackage = true;
          target = m_gameFolder + "/" + *p;
        }
    } else {
      target = (open.empty() ? m_gameFolder : open.back().target) + "/" + name;
    }
    if (source.size() > CDirWalker::kMaxPath || target.size() > kMaxPathBytes) {
      problem = Failure(ErrorKind::TooLong, source, source + ": the path is too long for the game folder " + m_gameFolder);
      return -1;
    }
    if (r.type == kPckFolder) {
      open.push_back({rel, target});
      continue;
    }
    if (open.empty() && IsVersionFile(name)) {
      versionFile = int(i);
      continue;
    }
    if (!CheckFile(reader, int(i), rel, target, intoPackage)) {
      problem = m_problem;
      return -1;
    }
  }
  if (versionFile >= 0 && !CheckFile(reader, versionFile, std::string(reader.Name(versionFile)),
                                     m_gameFolder + "/" + std::string(reader.Name(versionFile)), false)) {
    problem = m_problem;
    return -1;
  }
  // What each entry takes in the patch's data file: entries lie one after the other, so
  // each one runs to the next one's start (the last to the end of the file). The release
  // copies them as they are stored, or encodes them again much the same way, so this is
  // what a package grows by for them.
  {
    std::vector<std::pair<uint32_t, size_t>> starts;  // data offset, plan index
    for (size_t n = 0; n < m_plan.files.size(); ++n)
      if (!m_plan.files[n].delta) starts.emplace_back(records[size_t(m_plan.files[n].record)].dataOffset, n);
    std::sort(starts.begin(), starts.end());
    plat::FileInfo dat;
    const uint64_t end = plat::StatPath(PckDataName(m_patchBase), dat) ? uint64_t(dat.size) : 0;
    for (size_t k = 0; k < starts.size(); ++k) {
      const uint64_t next = k + 1 < starts.size() ? starts[k + 1].first : end;
      m_plan.files[starts[k].second].stored = next > starts[k].first ? next - starts[k].first : 0;
    }
  }
  // Every file decoded and compared with its digest: the heavy part, done last and for
  // all files at once, so that the block workers keep busy across small files.
  std::vector<int> indices;
  std::vector<std::string> sources;
  for (const PlannedFile& f : m_plan.files) {
    indices.push_back(f.record);
    sources.push_back(f.source);
  }
  bool stopped = false;
  reader.VerifyEntries(
      indices,
      [&](size_t, const uint8_t*, uint32_t length) {
        stopped = m_onBlock && !m_onBlock(length);
        return !stopped;
      },
      [&](size_t n, int result, uint32_t) {
        if (result == 0 || m_problem.Failed()) return;
        if (result == -2) Problem(sources[n], "the check was stopped");
        else Problem(sources[n], "does not decode to its stored MD5 (a damaged patch)", ErrorKind::Damaged);
      });
  if (m_problem.Failed() || stopped) {
    if (!m_problem.Failed()) Problem(m_patchBase, "the check was stopped");
    problem = m_problem;
    return -1;
  }
  return 0;
}

bool CPatchChecker::CheckFile(PckReader& reader, int index, const std::string& rel, const std::string& target,
                              bool intoPackage) {
  const std::string source = m_patchBase + "/" + rel;
  const PckRecord& r = reader.Records()[size_t(index)];

  if (!Claim(target, false)) return false;
  std::optional<Landing> landing = m_target.Land(target, intoPackage, m_disk);
  if (!landing) return Problem(target, "no package can be made for it here");
  // Every name that becomes a file or folder on the disk (a plain file and its folders,
  // a new package's files) must be one that every player's disk can take.
  const std::string& onDisk = landing->inPackage ? landing->base : landing->path;
  for (size_t at = m_gameFolder.size() + 1; at < onDisk.size();) {
    size_t end = at;
    while (end < onDisk.size() && !plat::IsSeparator(onDisk[end])) end += plat::IsLeadByte(uint8_t(onDisk[end])) ? 2 : 1;
    if (!plat::IsSafeName(onDisk.substr(at, end - at))) {
      m_problem = Failure(ErrorKind::BadArgument, source,
                          "Unsafe name in pck:" + source + " !!! (" + onDisk.substr(at, end - at) +
                              " cannot be a file name on every player's disk)");
      return false;
    }
    at = end + 1;
  }
  if (landing->inPackage ? !CheckEntry(*landing, r.size) : !CheckPlain(landing->path, r.size)) return false;

  m_plan.bySource[source] = m_plan.files.size();
  m_plan.files.push_back({source, std::move(*landing), r.size, index});
  m_plan.bytes += r.size;
  return true;
}

std::string CPatchChecker::TargetOf(const std::string& rel, bool& intoPackage) const {
  intoPackage = false;
  const size_t slash = rel.find('/');
  if (slash != std::string::npos)
    for (const char* const* p = m_packageNames; p && *p; ++p)
      if (PckNamesEqual(*p, rel.substr(0, slash))) {
        intoPackage = true;
        return m_gameFolder + "/" + *p + rel.substr(slash);
      }
  return m_gameFolder + "/" + rel;
}

bool CPatchChecker::Claim(const std::string& target, bool delta) {
  auto [it, fresh] = m_claimed.emplace(PckFoldName(Key(target)), delta);
  if (fresh || (!delta && !it->second)) return true;  // whole files may repeat, as ever
  return Problem(target, "the patch carries it both whole and as a delta, or as deltas twice", ErrorKind::Damaged);
}

bool CPatchChecker::PlanDeltas(PckReader& reader, int folder, const std::string& folderSource) {
  const std::vector<PckRecord>& records = reader.Records();
  const size_t end = size_t(folder) + 1 + records[size_t(folder)].size;
  // The files of each folder below, in the order of the patch: the deltas of one file.
  std::vector<std::pair<std::string, std::vector<int>>> files;
  std::map<std::string, size_t> byFile;
  std::vector<std::string> path;  // the folders open below ~delta
  for (size_t i = size_t(folder) + 1; i < end && i < records.size(); ++i) {
    const PckRecord& r = records[i];
    if (r.type == kPckFolderEnd) {
      if (!path.empty()) path.pop_back();
      continue;
    }
    const std::string name(reader.Name(int(i)));
    std::string rel;
    for (const std::string& p : path) rel += (rel.empty() ? "" : "/") + p;
    const std::string source = folderSource + "/" + (rel.empty() ? name : rel + "/" + name);
    if (!PckNameIsStorable(name)) return Problem(source, "Unsafe name in pck:" + source + " !!!", ErrorKind::Damaged);
    if (source.size() > CDirWalker::kMaxPath) return Problem(source, "the path is too long", ErrorKind::TooLong);
    if (r.type == kPckFolder) {
      path.push_back(name);
      continue;
    }
    if (rel.empty()) return Problem(source, "is not a delta below the path of its file (a damaged patch)", ErrorKind::Damaged);
    auto [it, fresh] = byFile.emplace(PckFoldName(rel), files.size());
    if (fresh) files.push_back({rel, {}});
    files[it->second].second.push_back(int(i));
  }
  for (const auto& [rel, deltas] : files)
    if (!PlanDelta(reader, rel, deltas)) return false;
  return true;
}

bool CPatchChecker::PlanDelta(PckReader& reader, const std::string& rel, const std::vector<int>& deltas) {
  const std::string where = m_patchBase + "/" + std::string(kDeltaFolder) + "/" + rel;
  bool intoPackage = false;
  const std::string target = TargetOf(rel, intoPackage);
  if (target.size() > kMaxPathBytes)
    return Problem(where, "the path is too long for the game folder " + m_gameFolder, ErrorKind::TooLong);
  // The version file says what the game is at; it comes whole, last.
  if (rel.find('/') == std::string::npos && IsVersionFile(rel))
    return Problem(where, "the version file cannot come as a delta (a damaged patch)", ErrorKind::Damaged);
  if (!Claim(target, true)) return false;
  std::vector<std::string> sources;
  std::vector<DeltaHeader> headers(deltas.size());
  for (size_t k = 0; k < deltas.size(); ++k) {
    sources.push_back(where + "/" + std::string(reader.Name(deltas[k])));
    std::unique_ptr<DataStream> stream = reader.OpenEntry(deltas[k]);
    CError why;
    if (!stream || ReadDeltaHeader(*stream, headers[k], why) != 0)
      return Problem(sources[k], "is not a delta this updater can read (a damaged patch)", ErrorKind::Damaged);
    if (headers[k].resultSize == 0)
      return Problem(sources[k], "makes an empty file, which a release takes for a removal (a damaged patch)",
                     ErrorKind::Damaged);
  }
  // The game's file as it is now: nothing written before the release changes it, and
  // what Delete.txt removes is not there for a delta.
  std::optional<Landing> landing = m_target.Land(target, intoPackage, m_disk);
  DeltaBaseInfo base;
  int has = 0;
  if (landing && !landing->create && !m_disk.IsDeleted(landing->inPackage ? PckIndexName(landing->base) : landing->path)) {
    has = m_bases->Identify(*landing, base, m_problem);
    if (has < 0) return false;
  }
  if (has == 0)
    return Problem(target, "the game has no such file, and the patch has only a delta for it", ErrorKind::Mismatch);
  // The new content there already: nothing to write.
  for (const DeltaHeader& h : headers)
    if (h.resultSize == base.size && std::memcmp(h.resultMd5, base.md5, 16) == 0) {
      m_plan.passed.insert(sources.begin(), sources.end());
      return true;
    }
  size_t chosen = deltas.size();
  for (size_t k = 0; k < deltas.size() && chosen == deltas.size(); ++k)
    if (headers[k].baseSize == base.size && std::memcmp(headers[k].baseMd5, base.md5, 16) == 0) chosen = k;
  if (chosen == deltas.size())
    return Problem(target,
                   "the game's copy (" + std::to_string(base.size) + " bytes, MD5 " + Md5Hex(base.md5) +
                       ") is not one this patch was made for: it may have been changed, or the game is at another "
                       "version",
                   ErrorKind::Mismatch);
  // The delta is applied now, to the game's own content, so that a damaged one, or a
  // file whose content is not what its package records, stops the update before the
  // first change. Its result is not kept: the release makes it again.
  {
    std::unique_ptr<DataStream> baseStream = m_bases->Open(*landing, m_problem);
    if (!baseStream) return false;
    std::unique_ptr<DataStream> delta = reader.OpenEntry(deltas[chosen]);
    CDeltaStream result;
    if (!delta || result.Open(*baseStream, *delta, sources[chosen]) != 0) {
      const bool baseBad = result.Error().kind == ErrorKind::BadArgument;
      return Problem(baseBad ? target : sources[chosen],
                     baseBad ? "the game's copy does not hold the content its package records"
                             : result.Error().text + " (a damaged patch)",
                     baseBad ? ErrorKind::Mismatch : ErrorKind::Damaged);
    }
    // Only drained: not zeroed first (for a small delta that cost more than decoding it).
    constexpr int32_t kDrain = 64 << 10;
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kDrain);
    for (;;) {
      const int32_t n = result.Read(buffer.get(), kDrain);
      if (n <= 0) break;
      // Kept alive, but the bar counts the patch's own bytes, not those of the result.
      if (m_onBlock && !m_onBlock(0)) return Problem(m_patchBase, "the check was stopped");
    }
    if (result.Failed()) return Problem(sources[chosen], result.Error().text + " (a damaged patch)", ErrorKind::Damaged);
  }
  const uint32_t size = headers[chosen].resultSize;
  if (landing->inPackage ? !CheckEntry(*landing, size) : !CheckPlain(landing->path, size)) return false;
  for (size_t k = 0; k < deltas.size(); ++k)
    if (k != chosen) m_plan.passed.insert(sources[k]);
  const uint64_t grown = size > base.size ? size - base.size : 0;
  m_plan.bySource[sources[chosen]] = m_plan.files.size();
  m_plan.files.push_back({sources[chosen], std::move(*landing), size, deltas[chosen], base.stored + grown, true});
  m_plan.bytes += size;
  return true;
}

bool CPatchChecker::CheckPlain(const std::string& path, uint32_t size) {
  for (size_t at : plat::SeparatorPositions(path)) {
    if (at <= m_gameFolder.size()) continue;
    const std::string folder = path.substr(0, at);
    if (m_disk.IsFolder(folder)) continue;
    if (m_disk.Exists(folder))
      return Problem(path, folder + " is in the way and is not a folder (a file or a link)");
    m_disk.AddFolder(folder);
  }
  // An empty file where the game has a folder removes the folder, as in a package.
  if (m_disk.IsFolder(path)) return size == 0 ? true : Problem(path, "is a folder");
  m_disk.AddFile(path);
  return true;
}

CPlannedTree* CPatchChecker::LoadTree(const Landing& landing) {
  const std::string key = PckFoldName(Key(landing.base));
  if (auto it = m_trees.find(key); it != m_trees.end()) return &it->second;
  CPlannedTree tree;
  if (landing.create) {
    const size_t cut = plat::LastSeparator(landing.base);
    const std::string parent = cut == std::string::npos ? std::string() : landing.base.substr(0, cut);
    if (!parent.empty() && !m_disk.IsFolder(parent))
      return Problem(landing.base, "no package can be made here: " + parent + " is not a folder"), nullptr;
    for (const std::string& f : {PckIndexName(landing.base), PckNameTableName(landing.base), PckDataName(landing.base)})
      if (m_disk.Exists(f)) return Problem(f, "part of an incomplete package is in the way"), nullptr;
    m_disk.AddPackage(landing.base);
  } else {
    // The writer's own checks: the package must open for editing exactly as the release
    // will open it (whole, writable, version 2, its data as long as its index says);
    // read-only, all of them but the writable one.
    PckWriter writer;
    const int opened = m_access == GameAccess::ReadOnly ? writer.OpenToCheck(landing.base)
                                                        : writer.OpenForEdit(landing.base);
    if (opened != 0) {
      m_problem = writer.Error();
      m_problem.text = landing.base + ": " + writer.LastError();
      return nullptr;
    }
    std::vector<std::string> path;
    const std::vector<PckRecord>& records = writer.Records();
    for (size_t i = 1; i < records.size(); ++i) {
      if (records[i].type == kPckFolderEnd) {
        if (!path.empty()) path.pop_back();
        continue;
      }
      std::string full = (path.empty() ? std::string() : path.back() + "/") + PckFoldName(writer.Name(int(i)));
      tree.entries[full] = records[i].type == kPckFolder;
      if (records[i].type == kPckFolder) path.push_back(std::move(full));
    }
    writer.Abandon();
  }
  return &m_trees.emplace(key, std::move(tree)).first->second;
}

bool CPatchChecker::CheckEntry(const Landing& landing, uint32_t size) {
  const std::string where = landing.base + "/" + landing.inner;
  std::vector<std::string_view> names;
  if (!PckSplitPath(landing.inner, names) || names.empty())
    return Problem(where, "lies deeper than a package can hold");
  for (std::string_view n : names)
    if (!PckNameIsStorable(n)) return Problem(where, "a name on its way cannot be stored in a package");
  CPlannedTree* tree = LoadTree(landing);
  if (!tree) return false;
  std::string key;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) key += '/';
    key += PckFoldName(names[i]);
    auto it = tree->entries.find(key);
    const bool last = i + 1 == names.size();
    if (size == 0) {
      if (it == tree->entries.end()) return true;  // nothing there to remove
      if (!last) {
        if (!it->second) return true;  // below a file: nothing there either
        continue;
      }
      // A file or a folder with its whole subtree goes.
      const std::string below = key + "/";
      for (auto sub = tree->entries.lower_bound(below);
           sub != tree->entries.end() && sub->first.compare(0, below.size(), below) == 0;)
        sub = tree->entries.erase(sub);
      tree->entries.erase(key);
      return true;
    }
    if (it == tree->entries.end()) {
      tree->entries[key] = !last;
    } else if (!last && !it->second) {
      return Problem(where, "lies below a file of the package");
    } else if (last && it->second) {
      return Problem(where, "is a folder in the package");
    }
  }
  return true;
}

}  // namespace

int CheckPatchPackage(const std::string& patchBase, const char* const* packageNames, const std::string& gameFolder,
                      uint32_t targetFlags, const char* password, const std::function<bool(uint32_t)>& onBlock,
                      CPatchPlan& plan, CError& problem, GameAccess access,
                      const std::vector<std::string>& deletedFirst) {
  CPatchChecker checker(patchBase, packageNames, gameFolder, targetFlags, onBlock, plan, access, deletedFirst);
  return checker.Run(password, problem);
}
