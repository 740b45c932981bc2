// The key schedule shared by the bit-sliced implementations, and the choice of the
// fastest one.
#include "pck/des/DesSlice.h"

namespace {

// FIPS 46-3 key schedule tables; bit numbers from 1 (the top bit of key byte 0).
constexpr uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kRotations[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

}  // namespace

void DesExpandKey(const uint8_t key[8], DesSchedule& schedule) {
  // C and D side by side: cd[0..27] is C0, cd[28..55] is D0. The parity bits (8, 16,
  // ..., 64) are not among PC-1's picks.
  bool cd[56];
  for (int i = 0; i < 56; ++i) {
    const int b = kPc1[i] - 1;
    cd[i] = (key[b / 8] >> (7 - b % 8)) & 1;
  }
  int shift = 0;
  for (int round = 0; round < 16; ++round) {
    shift += kRotations[round];
    for (int t = 0; t < 48; ++t) {
      // Bit p of C_round D_round is bit p + shift of the unrotated half, around 28.
      const int p = kPc2[t] - 1;
      const int from = p < 28 ? (p + shift) % 28 : 28 + (p - 28 + shift) % 28;
      schedule.words[48 * round + t] = cd[from] ? ~uint64_t{0} : 0;
    }
  }
}

const DesEcbImpl& DesBest() {
  static const DesEcbImpl& best = DesBitsliceAvx2() ? *DesBitsliceAvx2() : DesBitslice64();
  return best;
}
