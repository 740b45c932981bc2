// Bit-sliced DES-ECB: many 8-byte groups under one key, each pass enciphering a whole
// batch of groups with boolean gate circuits instead of table look-ups. The bytes are
// those of standard DES-ECB (FIPS 46-3): group i of the output is DES_k(group i).
#pragma once

#include <cstddef>
#include <cstdint>

// The expanded key, shared by every implementation below: 16 rounds of 48 words, each
// word all ones or all zeros after the matching subkey bit, so that a round XORs the
// key into whole slices. Callers only set it with setKey and hand it back; it may live
// anywhere (8-byte alignment is enough) and may be copied.
struct DesSchedule {
  uint64_t words[16 * 48];
};

// A DES-ECB implementation over many 8-byte groups under one key.
struct DesEcbImpl {
  const char* name;  // "bitslice64", "bitslice-avx2"
  // Expands an 8-byte key (parity bits ignored, weak keys allowed).
  void (*setKey)(const uint8_t key[8], DesSchedule& schedule);
  // Encrypts / decrypts `groups` consecutive 8-byte groups in place. `data` needs no
  // alignment; a trailing batch shorter than the implementation's width is padded in a
  // private buffer, so nothing outside the groups is read or written.
  void (*encrypt)(const DesSchedule& schedule, uint8_t* data, size_t groups);
  void (*decrypt)(const DesSchedule& schedule, uint8_t* data, size_t groups);
};

// Portable: 64-bit words, 64 groups per pass.
const DesEcbImpl& DesBitslice64();
// 256-bit AVX2 registers, 256 groups per pass; null when not compiled in or when the
// CPU (or the operating system) lacks AVX2.
const DesEcbImpl* DesBitsliceAvx2();
// The fastest of the above on this CPU, chosen once at first use.
const DesEcbImpl& DesBest();

// The key schedule behind every implementation's setKey.
void DesExpandKey(const uint8_t key[8], DesSchedule& schedule);
