// Throughput of the building blocks of the package pipeline, on game-like data.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "tests/support/TempDir.h"

namespace {

const std::string& GameLikeBlock() {
  static const std::string data = qvtest::PseudoRandom(kPckDefaultBlockSize, 42, true);
  return data;
}

void BM_DesEcb(benchmark::State& state) {
  CPckCipher c;
  c.SetPassword(kPckGamePassword);
  std::vector<uint8_t> buf(GameLikeBlock().begin(), GameLikeBlock().end());
  for (auto _ : state) c.Encipher(buf.data(), buf.size());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}
BENCHMARK(BM_DesEcb);

void BM_Encode(benchmark::State& state) {
  CBlockEncoder enc(kPckDefaultBlockSize);
  const auto* p = reinterpret_cast<const uint8_t*>(GameLikeBlock().data());
  PckCodec codec = static_cast<PckCodec>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(enc.Encode(codec, p, kPckDefaultBlockSize));
  state.SetBytesProcessed(int64_t(state.iterations()) * kPckDefaultBlockSize);
  state.counters["ratio"] = double(enc.PayloadLength()) / kPckDefaultBlockSize;
}
BENCHMARK(BM_Encode)->Arg(1)->Arg(2);

void BM_Decode(benchmark::State& state) {
  CBlockEncoder enc(kPckDefaultBlockSize);
  const auto* p = reinterpret_cast<const uint8_t*>(GameLikeBlock().data());
  PckCodec codec = enc.Encode(static_cast<PckCodec>(state.range(0)), p, kPckDefaultBlockSize);
  std::vector<uint8_t> out(kPckDefaultBlockSize);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        DecodeBlock(uint8_t(codec), enc.Payload(), enc.PayloadLength(), out.data(), kPckDefaultBlockSize));
  state.SetBytesProcessed(int64_t(state.iterations()) * kPckDefaultBlockSize);
}
BENCHMARK(BM_Decode)->Arg(1)->Arg(2);

void BM_Md5(benchmark::State& state) {
  uint8_t d[16];
  for (auto _ : state) Md5(GameLikeBlock().data(), GameLikeBlock().size(), d);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GameLikeBlock().size()));
}
BENCHMARK(BM_Md5);

}  // namespace
