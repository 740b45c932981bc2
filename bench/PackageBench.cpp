// Package speed at game scale: adding into a crowded folder against an empty one, and
// the writer and reader pipelines on game-like data with LZO and the game's password.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "io/FileStream.h"
#include "pck/PckReader.h"
#include "pck/PckWriter.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"

namespace {

constexpr int kCrowd = 50000;
constexpr int kAdds = 1000;
constexpr int32_t kSmallFile = 4096;

const std::string& SmallContent() {
  static const std::string data = qvtest::PseudoRandom(kSmallFile, 7, true);
  return data;
}

// A package whose root already holds `entries` files, written once per size and copied
// for every run, so that the timed part is only the adding.
std::string PreparedPackage(const qvtest::CTempDir& dir, int entries) {
  std::string base = dir / ("crowd" + std::to_string(entries));
  if (plat::FileExists(PckIndexName(base))) return base;
  PckWriter w;
  w.SetPassword(kPckGamePassword);
  w.Create(base);
  w.BeginDir("");
  std::string tiny = "x";
  for (int i = 0; i < entries; ++i) {
    MemoryStream s(tiny.data(), 1);
    w.AppendFile("entry" + std::to_string(i) + ".txt", s, 2);
  }
  w.EndDir();
  w.Close();
  return base;
}

void CopyPackage(const std::string& from, const std::string& to) {
  for (auto name : {PckIndexName, PckNameTableName, PckDataName})
    qvtest::WriteFile(name(to), qvtest::ReadFile(name(from)));
}

// Adds kAdds files of 4 KiB into the root of a package that holds `state.range(0)` entries.
void BM_AddFiles(benchmark::State& state) {
  static qvtest::CTempDir dir;
  const int entries = int(state.range(0));
  std::string prepared = PreparedPackage(dir, entries);
  std::string work = dir / "work";
  std::string content = SmallContent();
  for (auto _ : state) {
    state.PauseTiming();
    CopyPackage(prepared, work);
    // Opening reads the whole index once; what is measured is the cost of each add.
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    w.OpenForEdit(work);
    state.ResumeTiming();
    for (int i = 0; i < kAdds; ++i) {
      MemoryStream s(content.data(), kSmallFile);
      if (w.AddFile("new" + std::to_string(i) + ".dat", s, 2) != 0) state.SkipWithError("AddFile failed");
    }
    w.Close();
  }
  state.counters["files/s"] = benchmark::Counter(double(kAdds) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AddFiles)->Arg(0)->Arg(kCrowd)->Unit(benchmark::kMillisecond);

// A stream of game-like bytes generated on the fly, so 256 MiB need no 256 MiB buffer.
class GameLikeStream : public DataStream {
 public:
  explicit GameLikeStream(int32_t size) : m_size(size), m_pattern(qvtest::PseudoRandom(1 << 20, 11, true)) {}
  int32_t Size() override { return m_size; }
  int32_t Stamp() override { return 1300000000; }
  int32_t Read(void* b, int32_t n) override {
    int32_t take = std::min(n, m_size - m_pos);
    if (take <= 0) return 0;
    for (int32_t done = 0; done < take;) {
      size_t at = size_t(m_pos + done) % m_pattern.size();
      int32_t piece = int32_t(std::min<size_t>(size_t(take - done), m_pattern.size() - at));
      std::memcpy(static_cast<char*>(b) + done, m_pattern.data() + at, size_t(piece));
      done += piece;
    }
    m_pos += take;
    return take;
  }
  int Seek(int32_t, int) override { return -1; }
  bool Eof() override { return m_pos >= m_size; }
  int32_t Tell() override { return m_pos; }
  int32_t Write(const void*, int32_t) override { return -1; }

 private:
  int32_t m_size, m_pos = 0;
  std::string m_pattern;
};

constexpr int32_t kBigTotal = 256 << 20;
constexpr int32_t kBigFile = 16 << 20;  // 16 files of 16 MiB

void BM_WritePipeline(benchmark::State& state) {
  qvtest::CTempDir dir;
  for (auto _ : state) {
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    w.Create(dir / "big");
    w.BeginDir("");
    for (int i = 0; i < kBigTotal / kBigFile; ++i) {
      GameLikeStream s(kBigFile);
      if (w.AppendFile("part" + std::to_string(i), s, 2) != 0) state.SkipWithError("AppendFile failed");
    }
    w.EndDir();
    w.Close();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBigTotal);
}
BENCHMARK(BM_WritePipeline)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ReadPipeline(benchmark::State& state) {
  qvtest::CTempDir dir;
  {
    PckWriter w;
    w.SetPassword(kPckGamePassword);
    w.Create(dir / "big");
    w.BeginDir("");
    for (int i = 0; i < kBigTotal / kBigFile; ++i) {
      GameLikeStream s(kBigFile);
      w.AppendFile("part" + std::to_string(i), s, 2);
    }
    w.EndDir();
    w.Close();
  }
  std::vector<char> buf(1 << 16);
  for (auto _ : state) {
    PckReader r;
    r.SetPassword(kPckGamePassword);
    if (r.Open(dir / "big") != 0) state.SkipWithError("open failed");
    for (int i = 0; i < kBigTotal / kBigFile; ++i) {
      auto s = r.OpenEntry("part" + std::to_string(i));
      while (s && s->Read(buf.data(), int32_t(buf.size())) > 0) {
      }
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBigTotal);
}
BENCHMARK(BM_ReadPipeline)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
