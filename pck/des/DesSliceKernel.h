// The bit-sliced DES pass shared by the implementations of DesSlice.h, written once over
// a word type and instantiated per instruction set: DesBitslice64.cpp on uint64_t,
// DesBitsliceAvx2.cpp on 256-bit vectors.
//
// A word is kWords 64-bit rows side by side (1 or 4). A pass loads 64 * kWords groups as
// 64 words, group g going to row g % kWords of word g / kWords. Each row position then
// forms a 64 x 64 bit matrix, one group per word; transposing all of them turns word c
// into slice c, bit c of every group, and the 16 rounds run on those 64 slices with
// gates only, before the transpose back. The initial and final permutations cost
// nothing: they only choose which slice feeds which round input, folded into the gather
// tables below together with the byte order of the loads.
//
// Only for the two files above. Before including it, a file defines DES_SLICE_TARGET as
// the function attribute of its instruction set (empty for the portable one). All of it
// has internal linkage, so that code built for one instruction set is never picked by
// the linker for another.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pck/des/DesSlice.h"

#ifndef DES_SLICE_TARGET
#error "define DES_SLICE_TARGET before including DesSliceKernel.h"
#endif

#define DES_SLICE_INLINE inline __attribute__((always_inline))

#include "pck/des/DesSboxCircuits.h"

namespace {

// FIPS 46-3 tables, bit numbers from 1 (the top bit of the first byte).
constexpr uint8_t kDesIp[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr uint8_t kDesE[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr uint8_t kDesP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// The slice that holds block bit `bit` (1..64) after the transpose, which puts bit p of
// the loaded words into slice 63 - p. A group is loaded as a native 64-bit word: on a
// little-endian CPU its byte j sits at word bits 8j..8j+7, the top bit of that byte at
// 8j+7; on a big-endian one block bit 1 is word bit 63.
constexpr int SliceOfBit(int bit) {
  const int b = bit - 1;
  if constexpr (std::endian::native == std::endian::big) return b;
  return 63 - (8 * (b / 8) + 7 - b % 8);
}

struct DesGathers {
  uint8_t in[64];    // round state word i (L then R) <- slice in[i]: the initial permutation
  uint8_t out[64];   // slice c <- round state word out[c]: R16 L16 and the final permutation
  uint8_t pinv[32];  // S-box output bit m (0..31) -> bit of f, i.e. the word of L it flips
};

constexpr DesGathers MakeDesGathers() {
  DesGathers g{};
  for (int i = 0; i < 64; ++i) g.in[i] = uint8_t(SliceOfBit(kDesIp[i]));
  // The final permutation undoes the initial one: preoutput bit q lands on block bit
  // kDesIp[q - 1]. The preoutput is R16 (state words 32..63) followed by L16 (0..31).
  for (int q = 1; q <= 64; ++q)
    g.out[SliceOfBit(kDesIp[q - 1])] = uint8_t(q <= 32 ? 31 + q : q - 33);
  for (int i = 0; i < 32; ++i) g.pinv[kDesP[i] - 1] = uint8_t(i);
  return g;
}
inline constexpr DesGathers kDesGathers = MakeDesGathers();

// T describes the word: its type T::W, its row count T::kWords, T::Load / T::Store of
// one word at a uint64_t pointer (no alignment beyond 8 bytes assumed) and
// T::Broadcast (a 64-bit value into every row).

// Swaps the off-diagonal kShift-sized blocks of every 2kShift-sized square: one of the
// six steps of a 64 x 64 bit-matrix transpose (rows are words, bit 63 is column 0).
template <class T, int kShift, uint64_t kMask>
DES_SLICE_TARGET DES_SLICE_INLINE void TransposeStep(uint64_t* a) {
  using W = typename T::W;
  constexpr int kW = T::kWords;
  const W mask = T::Broadcast(kMask);
  for (int k = 0; k < 64; k = ((k | kShift) + 1) & ~kShift) {
    const W x = T::Load(a + k * kW), y = T::Load(a + (k | kShift) * kW);
    const W t = (x ^ (y >> kShift)) & mask;
    T::Store(a + k * kW, x ^ t);
    T::Store(a + (k | kShift) * kW, y ^ (t << kShift));
  }
}

// Transposes the 64 x 64 bit matrix of every row position of 64 words in place; it is
// its own inverse.
template <class T>
DES_SLICE_TARGET void Transpose64(uint64_t* a) {
  TransposeStep<T, 32, 0x00000000FFFFFFFFull>(a);
  TransposeStep<T, 16, 0x0000FFFF0000FFFFull>(a);
  TransposeStep<T, 8, 0x00FF00FF00FF00FFull>(a);
  TransposeStep<T, 4, 0x0F0F0F0F0F0F0F0Full>(a);
  TransposeStep<T, 2, 0x3333333333333333ull>(a);
  TransposeStep<T, 1, 0x5555555555555555ull>(a);
}

// Input bit kBit (0..47) of the S-boxes: the expansion of R, XORed with the subkey.
template <class T, int kBit>
DES_SLICE_TARGET DES_SLICE_INLINE typename T::W BoxInput(const uint64_t* r, const uint64_t* k) {
  constexpr int word = kDesE[kBit] - 1;
  return T::Load(r + word * T::kWords) ^ T::Broadcast(k[kBit]);
}

// Output bit kBit (0..31) of the S-boxes through the permutation P into L.
template <class T, int kBit>
DES_SLICE_TARGET DES_SLICE_INLINE void BoxOutput(uint64_t* l, typename T::W v) {
  constexpr int word = kDesGathers.pinv[kBit];
  T::Store(l + word * T::kWords, T::Load(l + word * T::kWords) ^ v);
}

template <class T, int kBox>
DES_SLICE_TARGET DES_SLICE_INLINE void Box(uint64_t* l, const uint64_t* r, const uint64_t* k) {
  using W = typename T::W;
  constexpr int i = 6 * kBox, o = 4 * kBox;
  const W a1 = BoxInput<T, i>(r, k), a2 = BoxInput<T, i + 1>(r, k),
          a3 = BoxInput<T, i + 2>(r, k), a4 = BoxInput<T, i + 3>(r, k),
          a5 = BoxInput<T, i + 4>(r, k), a6 = BoxInput<T, i + 5>(r, k);
  W o1, o2, o3, o4;
  if constexpr (kBox == 0) Sbox1(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 1) Sbox2(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 2) Sbox3(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 3) Sbox4(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 4) Sbox5(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 5) Sbox6(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 6) Sbox7(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  if constexpr (kBox == 7) Sbox8(a1, a2, a3, a4, a5, a6, o1, o2, o3, o4);
  BoxOutput<T, o>(l, o1);
  BoxOutput<T, o + 1>(l, o2);
  BoxOutput<T, o + 2>(l, o3);
  BoxOutput<T, o + 3>(l, o4);
}

// One round: l ^= f(r, k) on 32-word halves, k being the round's 48 key words.
template <class T>
DES_SLICE_TARGET void Feistel(uint64_t* l, const uint64_t* r, const uint64_t* k) {
  Box<T, 0>(l, r, k);
  Box<T, 1>(l, r, k);
  Box<T, 2>(l, r, k);
  Box<T, 3>(l, r, k);
  Box<T, 4>(l, r, k);
  Box<T, 5>(l, r, k);
  Box<T, 6>(l, r, k);
  Box<T, 7>(l, r, k);
}

// Enciphers (or deciphers, with the subkeys in reverse order) the 64 * kWords groups
// held in `a` as little-endian words, in place.
template <class T, bool kDecrypt>
DES_SLICE_TARGET void DesPass(uint64_t* a, const uint64_t* keys) {
  constexpr int kW = T::kWords;
  uint64_t state[64 * kW];
  Transpose64<T>(a);
  for (int i = 0; i < 64; ++i) T::Store(state + i * kW, T::Load(a + kDesGathers.in[i] * kW));
  uint64_t* l = state;
  uint64_t* r = state + 32 * kW;
  // Two rounds per step, the halves trading roles, so nothing is swapped; after an even
  // number of rounds l holds L16 and r holds R16.
  for (int round = 0; round < 16; round += 2) {
    Feistel<T>(l, r, keys + 48 * (kDecrypt ? 15 - round : round));
    Feistel<T>(r, l, keys + 48 * (kDecrypt ? 14 - round : round + 1));
  }
  for (int c = 0; c < 64; ++c) T::Store(a + c * kW, T::Load(state + kDesGathers.out[c] * kW));
  Transpose64<T>(a);
}

// Runs `groups` 8-byte groups through DesPass in batches of one pass each; the last,
// short batch is zero-padded in the local buffer, and only real groups are written back.
template <class T, bool kDecrypt>
DES_SLICE_TARGET void DesCrypt(const DesSchedule& schedule, uint8_t* data, size_t groups) {
  constexpr size_t kBatch = 64 * T::kWords;
  uint64_t a[kBatch];
  while (groups > 0) {
    const size_t n = groups < kBatch ? groups : kBatch;
    std::memcpy(a, data, n * 8);
    if (n < kBatch) std::memset(a + n, 0, (kBatch - n) * 8);
    DesPass<T, kDecrypt>(a, schedule.words);
    std::memcpy(data, a, n * 8);
    data += n * 8;
    groups -= n;
  }
}

}  // namespace
