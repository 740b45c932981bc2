// Bit-sliced DES-ECB on 256-bit AVX2 vectors: 256 groups per pass. Only the functions
// of this file are built for AVX2 (by attribute, not by compiler flags), and they run
// only after DesBitsliceAvx2() has seen AVX2 on the CPU, so the program still starts on
// CPUs without it.
#include "pck/des/DesSlice.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include <cstdint>

#define DES_SLICE_TARGET __attribute__((target("avx2")))
#include "pck/des/DesSliceKernel.h"

namespace {

// Four 64-bit rows per word. Every access to memory is unaligned: the buffers live on
// the stack, and on 64-bit Windows GCC cannot be relied on to align 32-byte stack data.
typedef uint64_t Vec4 __attribute__((vector_size(32)));

struct Word256 {
  using W = Vec4;
  static constexpr int kWords = 4;
  static DES_SLICE_TARGET DES_SLICE_INLINE W Load(const uint64_t* p) {
    return W(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  static DES_SLICE_TARGET DES_SLICE_INLINE void Store(uint64_t* p, W v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), __m256i(v));
  }
  static DES_SLICE_TARGET DES_SLICE_INLINE W Broadcast(uint64_t v) {
    return W(_mm256_set1_epi64x(static_cast<long long>(v)));
  }
};

DES_SLICE_TARGET void Encrypt(const DesSchedule& schedule, uint8_t* data, size_t groups) {
  DesCrypt<Word256, false>(schedule, data, groups);
}

DES_SLICE_TARGET void Decrypt(const DesSchedule& schedule, uint8_t* data, size_t groups) {
  DesCrypt<Word256, true>(schedule, data, groups);
}

const DesEcbImpl kBitsliceAvx2 = {"bitslice-avx2", DesExpandKey, Encrypt, Decrypt};

}  // namespace

const DesEcbImpl* DesBitsliceAvx2() {
  // __builtin_cpu_supports reports AVX2 only when the operating system saves the
  // 256-bit registers too. The explicit init makes it safe from static initialisers
  // that may run before the runtime's own.
  static const bool usable = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return usable ? &kBitsliceAvx2 : nullptr;
}

#else

const DesEcbImpl* DesBitsliceAvx2() { return nullptr; }

#endif
