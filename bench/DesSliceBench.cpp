// DES-ECB throughput on one 64 KiB package block: libgcrypt against each bit-sliced
// implementation, both directions.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "pck/PckCodecs.h"
#include "pck/des/DesSlice.h"

namespace {

constexpr size_t kBlockBytes = 64 * 1024;
const uint8_t kKey[8] = {0x3A, 0x91, 0x5C, 0x07, 0xE4, 0x68, 0xB2, 0x1F};

std::vector<uint8_t> RandomBlock() {
  std::mt19937_64 rng(42);
  std::vector<uint8_t> buf(kBlockBytes);
  for (uint8_t& b : buf) b = uint8_t(rng());
  return buf;
}

void BM_Gcrypt(benchmark::State& state, bool decrypt) {
  PckSetDesBackend(DesBackend::Libgcrypt);
  CPckCipher cipher;
  cipher.SetRawKey(kKey);
  std::vector<uint8_t> buf = RandomBlock();
  for (auto _ : state) {
    if (decrypt)
      cipher.EcbDecrypt(buf.data(), buf.size() / 8);
    else
      cipher.EcbEncrypt(buf.data(), buf.size() / 8);
    benchmark::ClobberMemory();
  }
  PckSetDesBackend(DesBackend::Fastest);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlockBytes));
}

void BM_Slice(benchmark::State& state, const DesEcbImpl* (*get)(), bool decrypt) {
  const DesEcbImpl* impl = get();
  if (!impl) {
    state.SkipWithError("not available on this CPU");
    return;
  }
  DesSchedule schedule;
  impl->setKey(kKey, schedule);
  std::vector<uint8_t> buf = RandomBlock();
  for (auto _ : state) {
    (decrypt ? impl->decrypt : impl->encrypt)(schedule, buf.data(), kBlockBytes / 8);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBlockBytes));
}

const DesEcbImpl* Bitslice64() { return &DesBitslice64(); }
const DesEcbImpl* Best() { return &DesBest(); }

BENCHMARK_CAPTURE(BM_Gcrypt, encrypt, false);
BENCHMARK_CAPTURE(BM_Gcrypt, decrypt, true);
BENCHMARK_CAPTURE(BM_Slice, bitslice64_encrypt, Bitslice64, false);
BENCHMARK_CAPTURE(BM_Slice, bitslice64_decrypt, Bitslice64, true);
BENCHMARK_CAPTURE(BM_Slice, avx2_encrypt, DesBitsliceAvx2, false);
BENCHMARK_CAPTURE(BM_Slice, avx2_decrypt, DesBitsliceAvx2, true);
BENCHMARK_CAPTURE(BM_Slice, best_encrypt, Best, false);

}  // namespace
