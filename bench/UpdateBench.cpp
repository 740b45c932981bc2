// The player's main job at game scale: releasing a patch of about 2,000 files into a game
// whose package holds 20,000 entries, compacting a package whose data is half dead, and the
// whole update run behind a window that draws nothing or records everything. Every
// benchmark also reports the peak resident set of its timed part, and the release of
// one big file shows that the copy loops use fixed buffers: the peak must not grow with
// the size of the file.
//
// The game folder and the patch are built once per process (not timed) in a temporary
// folder removed at exit; each benchmark works on its own copy, removed when it ends,
// and puts the game back between iterations (outside the timing) by restoring the
// package index, cutting the appended names and data off and copying the plain files
// back.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/Sinks.h"
#include "bench/BenchSupport.h"
#include "app/UpdateDlg.h"
#include "io/FileStream.h"
#include "patch/PatchRelease.h"
#include "payload/PayloadFormat.h"
#include "pck/PckCompact.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "tests/app/ScriptedWindow.h"
#include "tests/support/TempDir.h"

namespace fsys = std::filesystem;

namespace {

// ---------------------------------------------------------------- content

// 8 MiB of game-like bytes: two thirds of the 4 KiB pieces repeat themselves like text
// and tables, one third is as dense as compressed pictures and sounds. In 64 KiB blocks
// LZO stores about 70 percent of it.
const std::string& Pool() {
  static const std::string pool = [] {
    constexpr size_t kPiece = 4096, kPieces = 2048;
    const std::string text = qvtest::PseudoRandom(kPiece * kPieces, 5, true);
    const std::string dense = qvtest::PseudoRandom(kPiece * kPieces, 9, false);
    std::string out;
    out.reserve(kPiece * kPieces);
    for (size_t i = 0; i < kPieces; ++i) out.append(i % 3 == 2 ? dense : text, i * kPiece, kPiece);
    return out;
  }();
  return pool;
}

// `size` bytes of the pool from `offset` on, going round when they run past its end.
class CPoolStream : public DataStream {
 public:
  CPoolStream(uint32_t offset, int32_t size) : m_offset(offset % Pool().size()), m_size(size) {}
  int32_t Size() override { return m_size; }
  int32_t Stamp() override { return 1300000000; }
  int32_t Read(void* buffer, int32_t length) override {
    const std::string& pool = Pool();
    int32_t take = std::min(length, m_size - m_pos);
    if (take <= 0) return 0;
    for (int32_t done = 0; done < take;) {
      size_t at = (m_offset + size_t(m_pos) + size_t(done)) % pool.size();
      int32_t piece = int32_t(std::min<size_t>(size_t(take - done), pool.size() - at));
      std::memcpy(static_cast<char*>(buffer) + done, pool.data() + at, size_t(piece));
      done += piece;
    }
    m_pos += take;
    return take;
  }
  int Seek(int32_t offset, int whence) override {
    int64_t base = whence == 0 ? 0 : whence == 1 ? m_pos : m_size;
    m_pos = int32_t(std::clamp<int64_t>(base + offset, 0, m_size));
    return 0;
  }
  bool Eof() override { return m_pos >= m_size; }
  int32_t Tell() override { return m_pos; }
  int32_t Write(const void*, int32_t) override { return -1; }

 private:
  size_t m_offset;
  int32_t m_size, m_pos = 0;
};

// One file of a package or a folder: where its bytes come from in the pool. Size 0 is
// an empty file, which in a patch removes the entry from its package.
struct Item {
  std::string path;  // "/"-separated, relative
  uint32_t size;
  uint32_t offset;
};

// Game-like sizes: mostly a few KiB, a quarter up to 64 KiB, a few up to 384 KiB.
uint32_t GameSize(std::mt19937& rng) {
  const uint32_t kind = rng() % 100;
  auto between = [&rng](uint32_t lo, uint32_t hi) { return lo + rng() % (hi - lo); };
  if (kind < 75) return between(2 << 10, 12 << 10);
  if (kind < 97) return between(12 << 10, 64 << 10);
  return between(64 << 10, 384 << 10);
}

Item MakeItem(std::string path, std::mt19937& rng) {
  uint32_t size = GameSize(rng);
  return {std::move(path), size, uint32_t(rng())};
}

bool WritePlain(const std::string& path, const Item& item) {
  size_t cut = path.rfind('/');
  if (cut != std::string::npos) qvtest::MakeDirs(path.substr(0, cut));
  UniqueFile f(plat::OpenFile(path, "wb"));
  if (!f) return false;
  CPoolStream s(item.offset, int32_t(item.size));
  std::vector<char> buf(1 << 16);
  while (int32_t n = s.Read(buf.data(), int32_t(buf.size())))
    if (std::fwrite(buf.data(), 1, size_t(n), f.get()) != size_t(n)) return false;
  return true;
}

// A package built by sequential building from `items`, each folder's children in the
// order of their names, every entry with LZO and the game's password.
class CTree {
 public:
  explicit CTree(const std::vector<Item>& items) {
    for (const Item& item : items) {
      Node* cur = &m_root;
      for (size_t start = 0;;) {
        size_t slash = item.path.find('/', start);
        auto& slot = cur->children[item.path.substr(start, slash == std::string::npos ? slash : slash - start)];
        if (!slot) slot = std::make_unique<Node>();
        cur = slot.get();
        if (slash == std::string::npos) break;
        start = slash + 1;
      }
      cur->item = &item;
    }
  }
  std::string Build(const std::string& base) const {
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    if (w.Create(base) != 0 || w.BeginDir("") != 0) return w.LastError();
    std::string why = Emit(w, m_root);
    w.EndDir();
    w.Close();
    if (why.empty() && w.CommitFailed()) why = w.LastError();
    return why;
  }

 private:
  struct Node {
    const Item* item = nullptr;
    std::map<std::string, std::unique_ptr<Node>> children;
  };
  static std::string Emit(PckWriter& w, const Node& folder) {
    for (const auto& [name, child] : folder.children) {
      if (child->item) {
        CPoolStream s(child->item->offset, int32_t(child->item->size));
        if (w.AppendFile(name, s, 2) != 0) return w.LastError();
      } else {
        if (w.BeginDir(name) != 0) return w.LastError();
        std::string why = Emit(w, *child);
        if (!why.empty()) return why;
        w.EndDir();
      }
    }
    return {};
  }
  Node m_root;
};

// ---------------------------------------------------------------- the game and its patch

constexpr const char* kCategories[] = {"model", "texture", "sound", "ui", "map",
                                       "effect", "npc", "item", "skill", "script"};
constexpr const char* kExtensions[] = {".ski", ".dds", ".wav", ".tga", ".map", ".gfx", ".npc", ".itm", ".skl", ".lua"};
constexpr int kSubFolders = 20, kFilesPerFolder = 100;  // 10 x 20 x 100 = 20,000 entries
constexpr char kInstalledVersion[] = "[Ver]\r\nCurVer=1.0.5\r\n";
constexpr char kOfferedVersion[] = "[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n";
constexpr char kUpdaterName[] = "QuorvaneUpdate.exe";

std::string ResourcePath(int cat, int sub, int file) {
  char name[96];
  std::snprintf(name, sizeof name, "RESOURCE/%s/s%02d/%s_%05d%s", kCategories[cat], sub, kCategories[cat],
                sub * kFilesPerFolder + file, kExtensions[cat]);
  return name;
}

// What the shared fixture holds, all below one temporary folder:
//   game/       RESOURCE (20,000 entries, 420 MB of content, 292 MB stored), mb (a small
//               package), CVer.txt, readme.txt, data/cfg (100 plain files), data/ui (100),
//               data/old (20)
//   patch.*     the patch, 1,984 files (37 MB): 1,000 replacements, 500 new entries (half
//               in new folders), 284 removals by empty files, 199 plain files (100
//               replacing data/cfg, 50 new in data/newui, 49 new in the game's root) and
//               CVer.txt
//   Delete.txt  what the whole run deletes: data/old
//   updater     an executable image carrying patch.* and Delete.txt
struct CSharedGame {
  qvtest::CTempDir dir;
  std::string game, patch, deleteList, updater;
  int gameEntries = 0;
  uint64_t gameBytes = 0;
  int patchFiles = 0, patchRemovals = 0, patchNewEntries = 0;
  uint64_t patchBytes = 0;
  double buildSeconds = 0;
  std::string error;

  CSharedGame() {
    const auto start = std::chrono::steady_clock::now();
    game = dir / "game";
    patch = dir / "patch";
    deleteList = dir / "Delete.txt";
    updater = dir / "updater";
    std::mt19937 rng(2004);

    std::vector<Item> resource;
    for (int c = 0; c < 10; ++c)
      for (int s = 0; s < kSubFolders; ++s)
        for (int f = 0; f < kFilesPerFolder; ++f) resource.push_back(MakeItem(ResourcePath(c, s, f), rng));
    for (const Item& i : resource) gameBytes += i.size;
    gameEntries = int(resource.size());
    std::vector<Item> mb;
    for (int f = 0; f < 50; ++f) mb.push_back(MakeItem("mb/map" + std::to_string(f) + ".dat", rng));

    qvtest::MakeDirs(game);
    for (Item& i : resource) i.path = i.path.substr(std::strlen("RESOURCE/"));
    for (Item& i : mb) i.path = i.path.substr(std::strlen("mb/"));
    if (!(error = CTree(resource).Build(game + "/RESOURCE")).empty()) return;
    if (!(error = CTree(mb).Build(game + "/mb")).empty()) return;
    qvtest::WriteFile(game + "/CVer.txt", kInstalledVersion);
    WritePlain(game + "/readme.txt", MakeItem("", rng));
    for (int f = 0; f < 100; ++f) WritePlain(game + "/data/cfg/cfg" + std::to_string(f) + ".ini", MakeItem("", rng));
    for (int f = 0; f < 100; ++f) WritePlain(game + "/data/ui/ui" + std::to_string(f) + ".tga", MakeItem("", rng));
    for (int f = 0; f < 20; ++f) WritePlain(game + "/data/old/old" + std::to_string(f) + ".bin", MakeItem("", rng));

    // The patch: every 20th entry replaced, every 67th (not replaced) removed.
    std::vector<Item> items;
    int index = 0;
    for (int c = 0; c < 10; ++c)
      for (int s = 0; s < kSubFolders; ++s)
        for (int f = 0; f < kFilesPerFolder; ++f, ++index) {
          if (index % 20 == 0) {
            items.push_back(MakeItem(ResourcePath(c, s, f), rng));
          } else if (index % 67 == 1 && patchRemovals < 300) {
            items.push_back({ResourcePath(c, s, f), 0, 0});
            ++patchRemovals;
          }
        }
    for (int n = 0; n < 250; ++n)  // new entries beside existing ones
      items.push_back(MakeItem(ResourcePath(n % 10, n % kSubFolders, kFilesPerFolder + n), rng));
    for (int n = 0; n < 250; ++n)  // new entries in new folders
      items.push_back(MakeItem("RESOURCE/" + std::string(kCategories[n % 10]) + "/new" + std::to_string(n % 5) +
                                   "/added_" + std::to_string(n) + kExtensions[n % 10],
                               rng));
    patchNewEntries = 500;
    for (int f = 0; f < 100; ++f) items.push_back(MakeItem("data/cfg/cfg" + std::to_string(f) + ".ini", rng));
    for (int f = 0; f < 50; ++f) items.push_back(MakeItem("data/newui/panel" + std::to_string(f) + ".tga", rng));
    for (int f = 0; f < 49; ++f) items.push_back(MakeItem("lib" + std::to_string(f) + ".dll", rng));
    patchFiles = int(items.size()) + 1;
    for (const Item& i : items) patchBytes += i.size;

    if (!(error = BuildPatch(items)).empty()) return;

    qvtest::WriteFile(deleteList, "data/old/*.bin\r\ndata/old\r\n");
    qvtest::WriteFile(dir / "image", qvtest::PseudoRandom(256 << 10, 3));
    CPayloadBuilder builder;
    for (const char* ext : {".idx", ".nam", ".dat"})
      if (!builder.Add(std::string("patch") + ext, patch + ext, error)) return;
    if (!builder.Add("Delete.txt", deleteList, error)) return;
    if (!builder.Write(dir / "image", updater, error)) return;
    buildSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  std::string BuildPatch(const std::vector<Item>& items) const {
    CTree tree(items);
    std::string why = tree.Build(patch);
    if (!why.empty()) return why;
    // The version file has fixed text, which the pool cannot give: it is added to the
    // root of the finished patch.
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    if (w.OpenForEdit(patch) != 0) return w.LastError();
    MemoryStream s(const_cast<char*>(kOfferedVersion), int32_t(std::strlen(kOfferedVersion)));
    if (w.AddFile("CVer.txt", s, 2) != 0) return w.LastError();
    w.Close();
    return w.CommitFailed() ? w.LastError() : std::string();
  }
};

const CSharedGame& SharedGame() {
  static CSharedGame shared;
  return shared;
}

void CopyTree(const std::string& from, const std::string& to) {
  fsys::copy(from, to, fsys::copy_options::recursive | fsys::copy_options::overwrite_existing);
}

// A benchmark's own copy of the game, with the patch beside it, and the means to put it
// back as it was after a release or a run.
class CGameCopy {
 public:
  CGameCopy() : m_shared(SharedGame()) {
    m_game = m_dir / "game";
    CopyTree(m_shared.game, m_game);
    for (const char* ext : {".idx", ".nam", ".dat"})
      fsys::copy_file(m_shared.patch + ext, m_game + "/patch" + ext);
    fsys::copy_file(m_shared.updater, m_game + "/" + kUpdaterName);
    for (const auto& e : fsys::directory_iterator(m_game)) m_rootNames.insert(e.path().filename().string());
    for (const char* base : {"RESOURCE", "mb"}) {
      Package p;
      p.base = m_game + "/" + base;
      p.idx = qvtest::ReadFile(PckIndexName(p.base));
      p.namLength = fsys::file_size(PckNameTableName(p.base));
      p.datLength = fsys::file_size(PckDataName(p.base));
      m_packages.push_back(std::move(p));
    }
  }

  const std::string& Game() const { return m_game; }
  std::string PatchBase() const { return m_game + "/patch"; }
  std::string Updater() const { return m_game + "/" + kUpdaterName; }
  const CSharedGame& Shared() const { return m_shared; }

  // Puts the game back as it was copied: the packages' indexes, names and data, and the
  // plain files. Files are overwritten in place and only what the patch added is
  // removed, so that the file system does not churn through more new files between
  // iterations than the release itself makes. The patch files are left as they are.
  void Reset() {
    for (const Package& p : m_packages) {
      std::error_code ec;
      // A rebuilt package has a shorter data file; it is copied back whole.
      if (fsys::file_size(PckDataName(p.base), ec) < p.datLength) {
        for (auto name : {PckIndexName, PckNameTableName, PckDataName})
          fsys::copy_file(name(m_shared.game + "/" + fsys::path(p.base).filename().string()), name(p.base),
                          fsys::copy_options::overwrite_existing);
        continue;
      }
      qvtest::WriteFile(PckIndexName(p.base), p.idx);
      fsys::resize_file(PckNameTableName(p.base), p.namLength);
      fsys::resize_file(PckDataName(p.base), p.datLength);
    }
    for (const auto& e : fsys::directory_iterator(m_game)) {
      const std::string name = e.path().filename().string();
      if (!m_rootNames.count(name)) fsys::remove_all(e.path());
    }
    RestorePlain(m_shared.game + "/data", m_game + "/data");
    fsys::copy_file(m_shared.game + "/CVer.txt", m_game + "/CVer.txt", fsys::copy_options::overwrite_existing);
  }

  // Whether the release landed: the package holds the entries it should.
  bool Released(std::string& why) const {
    PckReader r;
    if (r.Open(m_packages[0].base) != 0) {
      why = r.LastError();
      return false;
    }
    int files = 0;
    for (const PckRecord& rec : r.Records()) files += rec.type == kPckFile;
    const int expected = m_shared.gameEntries + m_shared.patchNewEntries - m_shared.patchRemovals;
    if (files != expected) {
      why = "RESOURCE holds " + std::to_string(files) + " entries, not " + std::to_string(expected);
      return false;
    }
    if (!plat::FileExists(m_game + "/data/newui/panel49.tga") || !plat::FileExists(m_game + "/lib48.dll")) {
      why = "plain files are missing";
      return false;
    }
    return true;
  }

 private:
  struct Package {
    std::string base, idx;
    uint64_t namLength = 0, datLength = 0;
  };
  // Makes folder `to` hold what `from` holds: what is only in `to` goes, every file of
  // `from` is written over its counterpart.
  static void RestorePlain(const fsys::path& from, const fsys::path& to) {
    fsys::create_directories(to);
    std::vector<fsys::path> extra;
    for (const auto& e : fsys::directory_iterator(to))
      if (!fsys::exists(from / e.path().filename())) extra.push_back(e.path());
    for (const fsys::path& p : extra) fsys::remove_all(p);
    for (const auto& e : fsys::directory_iterator(from)) {
      if (e.is_directory())
        RestorePlain(e.path(), to / e.path().filename());
      else
        fsys::copy_file(e.path(), to / e.path().filename(), fsys::copy_options::overwrite_existing);
    }
  }
  const CSharedGame& m_shared;
  qvtest::CTempDir m_dir;
  std::string m_game;
  std::set<std::string> m_rootNames;
  std::vector<Package> m_packages;
};

void SetReleaseCounters(benchmark::State& state, int files, uint64_t bytes) {
  state.counters["files/s"] = benchmark::Counter(double(files) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MB/s"] =
      benchmark::Counter(double(bytes) * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

// A window that draws nothing and answers every question as the native POSIX one does.
class CNullWindow : public IUpdateWindow {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned flags) override {
    return (flags & plat::kMbTypeMask) == plat::kMbYesNo ? plat::kIdNo : plat::kIdOk;
  }
  void DrainMessages() override {}
  void Repaint() override {}
  void PaintNow() override {}
  void PaintTextLines(const std::string&, const std::string&, EraseArea) override {}
  void SetProgress(int) override {}
  void Close() override { closed = true; }
  bool closed = false;
};

// ---------------------------------------------------------------- the benchmarks

// ApplyPatchPackage as the patch pass calls it (the game's package list, packages may be
// created, LZO, the game's password). Arg 0: no sink; 1: the patch pass's sink over a
// scripted window, which records every text and progress step.
void BM_ReleasePatch(benchmark::State& state) {
  if (!SharedGame().error.empty()) return state.SkipWithError(SharedGame().error.c_str());
  CGameCopy work;
  CScriptedWindow window;
  CUpdateDlg dlg(window);
  std::unique_ptr<CPatchSink> sink;
  if (state.range(0) == 1) sink = std::make_unique<CPatchSink>(dlg);
  qvbench::CPeakRss rss;
  for (auto _ : state) {
    int r = ApplyPatchPackage(work.PatchBase(), g_packageNames, work.Game(), 1, kPckGamePassword, sink.get(), 2);
    state.PauseTiming();
    std::string why;
    if (r != 0) return state.SkipWithError("ApplyPatchPackage failed");
    if (!work.Released(why)) return state.SkipWithError(why.c_str());
    work.Reset();
    window.texts.clear();
    window.progress.clear();
    if (sink) sink->m_nFilesDone = sink->m_nFoldersDone = 0;
    state.ResumeTiming();
  }
  rss.Report(state);
  SetReleaseCounters(state, work.Shared().patchFiles, work.Shared().patchBytes);
  state.counters["fixture_s"] = work.Shared().buildSeconds;
}
BENCHMARK(BM_ReleasePatch)->ArgName("sink")->Arg(0)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// The whole run as a click on Update: the payload is released from the updater, Delete.txt
// is carried out, the version checked, the patch released, the packages looked at for
// tidying. Arg 0: a window that draws nothing; 1: the scripted window; 2: the scripted
// window with the three logs on.
void BM_UpdateRun(benchmark::State& state) {
  if (!SharedGame().error.empty()) return state.SkipWithError(SharedGame().error.c_str());
  CGameCopy work;
  // The patch comes out of the updater; a player's folder does not have it beforehand.
  for (const char* ext : {".idx", ".nam", ".dat"}) plat::DeleteFile(work.PatchBase() + ext);
  qvbench::CPeakRss rss;
  int64_t texts = 0;
  for (auto _ : state) {
    g_bAbort = false;
    qvtest::CWorkDirGuard keep(plat::GetWorkDir());
    bool closed;
    if (state.range(0) == 0) {
      CNullWindow window;
      CUpdateDlg dlg(window);
      dlg.m_strModulePath = work.Updater();
      dlg.m_nTidyDelayMs = 0;
      dlg.OnUpdate();
      closed = window.closed;
    } else {
      CScriptedWindow window;
      CUpdateDlg dlg(window);
      dlg.m_strModulePath = work.Updater();
      dlg.m_nTidyDelayMs = 0;
      dlg.m_bRunLog = dlg.m_bPatchLog = dlg.m_bTidyLog = state.range(0) == 2;
      dlg.OnUpdate();
      closed = window.closed;
      texts = int64_t(window.texts.size());
    }
    state.PauseTiming();
    std::string why;
    if (!closed) return state.SkipWithError("the run did not end with success");
    if (!work.Released(why)) return state.SkipWithError(why.c_str());
    if (plat::FileExists(work.Game() + "/data/old")) return state.SkipWithError("Delete.txt was not carried out");
    work.Reset();  // also removes the logs
    state.ResumeTiming();
  }
  rss.Report(state);
  SetReleaseCounters(state, work.Shared().patchFiles, work.Shared().patchBytes);
  if (texts) state.counters["texts"] = double(texts);
}
BENCHMARK(BM_UpdateRun)->ArgName("window")->Arg(0)->Arg(1)->Arg(2)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// CompactPackage on a copy of the game's package from which every other entry was
// removed, so that about half of its data file is dead. Arg 0: no sink; 1: the tidy pass's
// sink over a window that draws nothing. MB/s counts the live data written.
void BM_CompactPackage(benchmark::State& state) {
  const CSharedGame& shared = SharedGame();
  if (!shared.error.empty()) return state.SkipWithError(shared.error.c_str());
  qvtest::CTempDir dir;
  const std::string base = dir / "RESOURCE", target = dir / "tmp";
  for (auto name : {PckIndexName, PckNameTableName, PckDataName}) fsys::copy_file(name(shared.game + "/RESOURCE"), name(base));
  int live = 0;
  {
    PckWriter w;
    if (w.OpenForEdit(base) != 0) return state.SkipWithError(w.LastError().c_str());
    std::vector<std::string> gone;
    int index = 0;
    for (int c = 0; c < 10; ++c)
      for (int s = 0; s < kSubFolders; ++s)
        for (int f = 0; f < kFilesPerFolder; ++f, ++index)
          if (index % 2) gone.push_back(ResourcePath(c, s, f).substr(std::strlen("RESOURCE/")));
          else ++live;
    for (const std::string& path : gone)
      if (w.Delete(path) != 0) return state.SkipWithError(w.LastError().c_str());
    w.Close();
  }
  const uint64_t sourceBytes = fsys::file_size(PckDataName(base));
  CNullWindow window;
  CUpdateDlg dlg(window);
  std::unique_ptr<CTidySink> sink;
  if (state.range(0) == 1) sink = std::make_unique<CTidySink>(dlg);
  uint64_t written = 0;
  qvbench::CPeakRss rss;
  for (auto _ : state) {
    CError why;
    if (CompactPackage(base, target, sink.get(), &why) != 0) return state.SkipWithError(why.text.c_str());
    state.PauseTiming();
    written = fsys::file_size(PckDataName(target));
    for (auto name : {PckIndexName, PckNameTableName, PckDataName}) plat::DeleteFile(name(target));
    state.ResumeTiming();
  }
  rss.Report(state);
  // The share of the data file that the copy left behind. (The header's dead-byte count
  // adds up content sizes, not stored ones, so it says more than this.)
  state.counters["dead_share"] = 1.0 - double(written) / double(sourceBytes);
  state.counters["entries/s"] = benchmark::Counter(double(live) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(double(written) * 1e-6 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CompactPackage)->ArgName("sink")->Arg(0)->Arg(1)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// A patch of two files of `state.range(0)` MiB, one into a package that is created for
// it and one plain file. The peak resident set must be the same for every size.
void BM_ReleaseBigFile(benchmark::State& state) {
  qvtest::CTempDir dir;
  const std::string game = dir / "game";
  const uint32_t size = uint32_t(state.range(0)) << 20;
  const std::vector<Item> items = {{"RESOURCE/big/movie.bik", size, 123}, {"data/movie.bik", size, 456}};
  qvtest::MakeDirs(game);
  std::string why = CTree(items).Build(game + "/patch");
  if (!why.empty()) return state.SkipWithError(why.c_str());
  qvbench::CPeakRss rss;
  for (auto _ : state) {
    if (ApplyPatchPackage(game + "/patch", g_packageNames, game, 1, kPckGamePassword, nullptr, 2) != 0)
      return state.SkipWithError("ApplyPatchPackage failed");
    state.PauseTiming();
    if (fsys::file_size(game + "/data/movie.bik") != size) return state.SkipWithError("the plain file is short");
    for (auto name : {PckIndexName, PckNameTableName, PckDataName}) plat::DeleteFile(name(game + "/RESOURCE"));
    fsys::remove_all(game + "/data");
    state.ResumeTiming();
  }
  rss.Report(state);
  SetReleaseCounters(state, 2, 2ull * size);
}
BENCHMARK(BM_ReleaseBigFile)->ArgName("MiB")->Arg(16)->Arg(128)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
