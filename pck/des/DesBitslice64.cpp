// Bit-sliced DES-ECB on 64-bit words: 64 groups per pass, plain C++ for any CPU.
#include <cstdint>

#include "pck/des/DesSlice.h"

#define DES_SLICE_TARGET
#include "pck/des/DesSliceKernel.h"

namespace {

struct Word64 {
  using W = uint64_t;
  static constexpr int kWords = 1;
  static DES_SLICE_INLINE W Load(const uint64_t* p) { return *p; }
  static DES_SLICE_INLINE void Store(uint64_t* p, W v) { *p = v; }
  static DES_SLICE_INLINE W Broadcast(uint64_t v) { return v; }
};

void Encrypt(const DesSchedule& schedule, uint8_t* data, size_t groups) {
  DesCrypt<Word64, false>(schedule, data, groups);
}

void Decrypt(const DesSchedule& schedule, uint8_t* data, size_t groups) {
  DesCrypt<Word64, true>(schedule, data, groups);
}

const DesEcbImpl kBitslice64 = {"bitslice64", DesExpandKey, Encrypt, Decrypt};

}  // namespace

const DesEcbImpl& DesBitslice64() { return kBitslice64; }
