// Speed on both cores, against the one-core pipelines of the same run.
//
// 32 MiB of game-like content (every eighth 4 KiB piece as dense as a picture, the rest
// like text and tables: LZO stores about 38 percent of it) in files of 2 KiB to 384 KiB.
// The one-core pipelines do on it exactly what the format asks, block by block on one
// thread with libgcrypt's DES: the writer MD5, LZO1X-1 with the optimiser, DES and the
// running XOR; the reader the XOR, DES, decompression and MD5. Every other figure is
// the wall-clock throughput of a real command (its best of five runs, as the pipelines
// keep their best of three) on the same content, printed as a ratio
// to them ("x_writer", "x_reader"), with the DES it used and the number of block
// workers: pcktool create, extract and verify, the release of a patch whose entries are
// stored as the game's packages store them, and compaction against copying the three
// files with an fsync. The peak resident set of pcktool create, extract and apply, each
// run as a process of its own on the content and on one file of 128 MiB, shows that the
// pool keeps memory bounded whatever the size of the files.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "io/Workers.h"
#include "patch/PatchRelease.h"
#include "pck/PckCodecs.h"
#include "pck/PckCompact.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"
#include "tools/pcktool/Commands.h"

namespace fsys = std::filesystem;

namespace {

constexpr size_t kContentBytes = 32u << 20;

const std::string& Content() {
  static const std::string content = [] {
    constexpr size_t kPiece = 4096, kPieces = kContentBytes / kPiece;
    const std::string text = qvtest::PseudoRandom(kPiece * 1024, 5, true);
    const std::string dense = qvtest::PseudoRandom(kPiece * 1024, 9, false);
    std::string out;
    out.reserve(kContentBytes);
    for (size_t i = 0; i < kPieces; ++i) out.append(i % 8 == 7 ? dense : text, (i % 1024) * kPiece, kPiece);
    return out;
  }();
  return content;
}

// The content cut into files: sizes from 2 KiB to 384 KiB, the same every run.
std::vector<std::pair<size_t, size_t>> Files() {
  std::vector<std::pair<size_t, size_t>> files;  // offset, size
  uint32_t seed = 1;
  for (size_t at = 0; at < kContentBytes;) {
    seed = seed * 1103515245u + 12345u;
    size_t size = 2048 + (seed >> 8) % (384 * 1024 - 2048);
    size = std::min(size, kContentBytes - at);
    files.emplace_back(at, size);
    at += size;
  }
  return files;
}

// The content as a folder tree on the disk, for pcktool create.
const std::string& SourceTree(const qvtest::CTempDir& dir) {
  static const std::string root = [&] {
    const std::string r = dir / "tree";
    const auto files = Files();
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string folder = r + "/dir" + std::to_string(i % 16);
      qvtest::MakeDirs(folder);
      const std::string path = folder + "/f" + std::to_string(i) + ".bin";
      qvtest::WriteFile(path, Content().substr(files[i].first, files[i].second));
      plat::SetFileTime(path, 1300000000);
    }
    return r;
  }();
  return root;
}

int Pcktool(std::vector<std::string> args) {
  args.insert(args.begin(), "pcktool");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return PcktoolMain(int(argv.size() - 1), argv.data());
}

// ---------------------------------------------------------------- the one-core pipelines

struct Baselines {
  double writer = 0, reader = 0;  // bytes per second of content
};

template <class F>
double BestSeconds(F&& f, int runs = 3) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// The pipelines measured once per process, with libgcrypt's DES, one thread.
const Baselines& OneCore() {
  static const Baselines b = [] {
    PckSetDesBackend(DesBackend::Libgcrypt);
    const std::string& content = Content();
    const uint32_t bs = kPckDefaultBlockSize;
    CBlockEncoder encoder(bs);
    CPckCipher cipher;
    cipher.SetPassword(kPckGamePassword);
    std::vector<std::vector<uint8_t>> stored;
    std::vector<uint8_t> codecs;
    Baselines out;
    const double tw = BestSeconds([&] {
      stored.clear();
      codecs.clear();
      for (auto [at, size] : Files()) {
        CMd5 md5;
        for (size_t o = 0; o < size; o += bs) {
          const uint32_t len = uint32_t(std::min<size_t>(bs, size - o));
          const auto* p = reinterpret_cast<const uint8_t*>(content.data() + at + o);
          md5.Update(p, len);
          codecs.push_back(uint8_t(encoder.Encode(PckCodec::Lzo1x, p, len)));
          cipher.Encipher(encoder.Payload(), encoder.PayloadLength());
          stored.emplace_back(encoder.Payload(), encoder.Payload() + encoder.PayloadLength());
        }
        uint8_t d[16];
        md5.Final(d);
      }
    });
    out.writer = double(kContentBytes) / tw;
    std::vector<uint8_t> payload(bs), decoded(bs);
    const double tr = BestSeconds([&] {
      size_t k = 0;
      for (auto [at, size] : Files()) {
        CMd5 md5;
        for (size_t o = 0; o < size; o += bs, ++k) {
          std::copy(stored[k].begin(), stored[k].end(), payload.begin());
          cipher.Decipher(payload.data(), stored[k].size());
          const int32_t n = DecodeBlock(codecs[k], payload.data(), uint32_t(stored[k].size()), decoded.data(), bs);
          md5.Update(decoded.data(), size_t(n));
        }
        uint8_t d[16];
        md5.Final(d);
      }
    });
    out.reader = double(kContentBytes) / tr;
    PckSetDesBackend(DesBackend::Fastest);
    return out;
  }();
  return b;
}

void BM_OneCorePipeline(benchmark::State& state) {
  const Baselines& b = OneCore();
  for (auto _ : state) {
  }
  state.counters["writer_MBps"] = b.writer / 1e6;
  state.counters["reader_MBps"] = b.reader / 1e6;
}
BENCHMARK(BM_OneCorePipeline)->Iterations(1);

// The settings of one run: the DES (0 libgcrypt, 1 the fastest) and the block workers.
struct CSettings {
  explicit CSettings(const benchmark::State& state) {
    PckSetDesBackend(state.range(0) ? DesBackend::Fastest : DesBackend::Libgcrypt);
    CWorkers::SetThreads(size_t(state.range(1)));
  }
  ~CSettings() {
    PckSetDesBackend(DesBackend::Fastest);
    CWorkers::SetThreads(SIZE_MAX);
  }
};

// Writes out what earlier runs left dirty before a run is timed: otherwise a run pays
// for the write-back of the ones before it, which throttles its writes.
void Settle() { sync(); }

void Report(benchmark::State& state, double seconds, double baseline, const char* name) {
  const double rate = double(kContentBytes) / seconds;
  state.counters["MBps"] = rate / 1e6;
  state.counters[name] = rate / baseline;
}

// ---------------------------------------------------------------- the commands

qvtest::CTempDir& Scratch() {
  static qvtest::CTempDir dir;
  return dir;
}

// The content built once as a package, with the game's password and LZO.
const std::string& BuiltPackage() {
  static const std::string base = [] {
    const std::string b = Scratch() / "built";
    CWorkers::SetThreads(SIZE_MAX);
    Pcktool({"create", SourceTree(Scratch()), b});
    return b;
  }();
  return base;
}

// Times `work` once per iteration, after `prepare` and with the disk settled, and
// reports the best run against `baseline`.
template <class Prepare, class Work>
void TimeBest(benchmark::State& state, Prepare&& prepare, Work&& work, double baseline, const char* ratio,
              const char* what) {
  double best = 1e30;
  for (auto _ : state) {
    prepare();
    Settle();
    const auto t0 = std::chrono::steady_clock::now();
    if (!work()) {
      state.SkipWithError((std::string(what) + " failed").c_str());
      return;
    }
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  Report(state, best, baseline, ratio);
}

void BM_Create(benchmark::State& state) {
  const std::string& tree = SourceTree(Scratch());
  const std::string out = Scratch() / "create";
  OneCore();
  CSettings settings(state);
  TimeBest(
      state, [] {}, [&] { return Pcktool({"create", tree, out}) == 0; }, OneCore().writer, "x_writer", "create");
}

void BM_Extract(benchmark::State& state) {
  const std::string& base = BuiltPackage();
  OneCore();
  CSettings settings(state);
  // The files are extracted into memory (tmpfs) where there is one: on ext4, after the
  // deletions of the benchmarks before, making 160 files costs the inode allocator a
  // search of recently freed inodes that varies from run to run by more than the whole
  // decoding, and is none of the tool's work. Each run has a folder of its own.
  static qvtest::CTempDir memory(fsys::is_directory("/dev/shm") ? "/dev/shm" : "");
  static int runs = 0;
  std::string out;
  TimeBest(
      state,
      [&] {
        std::error_code ec;
        if (!out.empty()) fsys::remove_all(out, ec);
        out = memory / ("extracted" + std::to_string(runs++));
      },
      [&] { return Pcktool({"extract", base, out}) == 0; }, OneCore().reader, "x_reader", "extract");
}

void BM_Verify(benchmark::State& state) {
  const std::string& base = BuiltPackage();
  OneCore();
  CSettings settings(state);
  TimeBest(
      state, [] {}, [&] { return Pcktool({"verify", base}) == 0; }, OneCore().reader, "x_reader", "verify");
}

// A patch of the whole content under bld/, stored as the game stores its packages,
// released into a game whose bld holds the same names: every entry is replaced.
void BM_Release(benchmark::State& state) {
  const std::string game = Scratch() / "game";
  static const std::string patch = [&] {
    const std::string tree = Scratch() / "patchtree";
    fsys::create_directories(tree);
    fsys::copy(SourceTree(Scratch()), tree + "/bld", fsys::copy_options::recursive | fsys::copy_options::skip_existing);
    const std::string p = Scratch() / "patch";
    CWorkers::SetThreads(SIZE_MAX);
    Pcktool({"create", tree, p});
    return p;
  }();
  OneCore();
  CSettings settings(state);
  TimeBest(
      state,
      [&] {
        std::error_code ec;
        fsys::remove_all(game, ec);
        fsys::create_directories(game);
        for (auto name : {PckIndexName, PckNameTableName, PckDataName})
          fsys::copy_file(name(BuiltPackage()), name(game + "/bld"));
      },
      [&] {
        return ApplyPatchPackage(patch, g_packageNames, game, 1, kPckGamePassword, nullptr, int(PckCodec::Lzo1x)) == 0;
      },
      OneCore().reader, "x_reader", "release");
}

// Copies the three files of a package with a large buffer and an fsync each: what the
// disk allows.
void CopyWithFsync(const std::string& from, const std::string& to) {
  std::vector<char> buffer(1 << 20);
  for (auto name : {PckIndexName, PckNameTableName, PckDataName}) {
    const int in = open(name(from).c_str(), O_RDONLY), out = open(name(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (ssize_t n; (n = read(in, buffer.data(), buffer.size())) > 0;)
      if (write(out, buffer.data(), size_t(n)) != n) break;
    fsync(out);
    close(in);
    close(out);
  }
}

void BM_Compact(benchmark::State& state) {
  const std::string& base = BuiltPackage();
  const std::string copy = Scratch() / "copied", target = Scratch() / "compacted";
  const double bytes = double(fsys::file_size(PckDataName(base)) + fsys::file_size(PckIndexName(base)) +
                              fsys::file_size(PckNameTableName(base)));
  // The disk's speed wanders; the copy and the compaction take turns, and each keeps
  // its best time.
  double cp = 1e30, compact = 1e30;
  for (auto _ : state) {
    Settle();
    cp = std::min(cp, BestSeconds([&] { CopyWithFsync(base, copy); }, 1));
    bool ok = true;
    Settle();
    compact = std::min(compact, BestSeconds([&] { ok = CompactPackage(base, target, nullptr) == 0; }, 1));
    if (!ok) return state.SkipWithError("compaction failed");
  }
  state.counters["MBps"] = bytes / compact / 1e6;
  state.counters["cp_fsync_MBps"] = bytes / cp / 1e6;
  state.counters["x_cp_fsync"] = cp / compact;
}

// ---------------------------------------------------------------- memory

// One file of 128 MiB, as compressible as the content, in the package folder bld.
const std::string& BigTree() {
  static const std::string root = [] {
    const std::string r = Scratch() / "bigtree";
    qvtest::MakeDirs(r + "/bld");
    std::string big;
    big.reserve(128u << 20);
    while (big.size() < (128u << 20)) big += Content();
    big.resize(128u << 20);
    qvtest::WriteFile(r + "/bld/big.bin", big);
    return r;
  }();
  return root;
}

// ranges: the command (0 create, 1 extract, 2 apply), the source (0 the content's
// files, 1 one file of 128 MiB)
void BM_PeakMemory(benchmark::State& state) {
  const char* kCommands[] = {"create", "extract", "apply"};
  const std::string tree = state.range(1) ? BigTree() : SourceTree(Scratch());
  const std::string tag = state.range(1) ? "big" : "files";
  const std::string package = Scratch() / ("mem-" + tag), game = Scratch() / ("mem-game-" + tag);
  const std::string pcktool = QV_PCKTOOL;
  double peak = -1;
  for (auto _ : state) {
    std::error_code ec;
    switch (state.range(0)) {
      case 0:
        peak = qvbench::ChildPeakRss(QV_PEAK_RSS, {pcktool, "create", tree, package});
        break;
      case 1:
        if (!fsys::exists(PckIndexName(package))) qvbench::ChildPeakRss(QV_PEAK_RSS, {pcktool, "create", tree, package});
        fsys::remove_all(Scratch() / "mem-out", ec);
        peak = qvbench::ChildPeakRss(QV_PEAK_RSS, {pcktool, "extract", package, Scratch() / "mem-out"});
        break;
      default:
        // A patch holding the tree as the folder "patched", released into an empty game.
        if (!fsys::exists(PckIndexName(package))) qvbench::ChildPeakRss(QV_PEAK_RSS, {pcktool, "create", tree, package});
        fsys::remove_all(game, ec);
        fsys::create_directories(game);
        peak = qvbench::ChildPeakRss(QV_PEAK_RSS, {pcktool, "apply", package, game});
        break;
    }
    if (peak < 0) {
      state.SkipWithError((std::string(kCommands[state.range(0)]) + " failed").c_str());
      return;
    }
  }
  state.SetLabel(std::string(kCommands[state.range(0)]) + " " + tag);
  state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}
BENCHMARK(BM_PeakMemory)
    ->ArgNames({"command", "big"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ranges: DES (0 libgcrypt, 1 fastest), block workers
void Settings(benchmark::internal::Benchmark* b) {
  b->ArgNames({"fastdes", "workers"});
  for (int des : {0, 1})
    for (int workers : {0, 2}) b->Args({des, workers});
  b->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
}

BENCHMARK(BM_Create)->Apply(Settings);
BENCHMARK(BM_Extract)->Apply(Settings);
BENCHMARK(BM_Verify)->Apply(Settings);
BENCHMARK(BM_Release)->Apply(Settings);
BENCHMARK(BM_Compact)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(7);

}  // namespace
