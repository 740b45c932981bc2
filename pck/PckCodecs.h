// The one module that calls the libraries for the package's blocks: block compression
// (zlib, LZO) and its fall-back to Stored, bounded block decoding, and the package
// cipher (DES-ECB plus a running XOR key folded from the password). The digests, MD5
// and CRC-32, are io/Digest's. Nothing else in the tree includes the libraries' headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/Digest.h"
#include "pck/PckFormat.h"

// ---- package cipher ----

// Which DES-ECB enciphers the blocks. The bytes are the same with every one; they differ
// only in speed. Fastest (the default) is the bit-sliced DES for the widest registers
// this CPU has, libgcrypt's for payloads too short for a bit-sliced pass to pay.
enum class DesBackend : uint8_t { Fastest, Libgcrypt, Bitslice64, BitsliceAvx2 };
// Process-wide; tests and benchmarks pick one. False when this CPU cannot run it.
bool PckSetDesBackend(DesBackend backend);
DesBackend PckDesBackend();

class CPckCipher {
 public:
  CPckCipher();
  ~CPckCipher();
  CPckCipher(const CPckCipher&) = delete;
  CPckCipher& operator=(const CPckCipher&) = delete;

  // An empty text clears the password. Otherwise the DES key is folded from the whole
  // text and its first 127 bytes become the running XOR key.
  void SetPassword(std::string_view password);
  bool Enabled() const { return !m_password.empty(); }
  // The whole text as given: another cipher set from it has the same key and XOR key.
  const std::string& Password() const { return m_password; }

  // Whole 8-byte groups with DES-ECB, then the running XOR over the whole payload.
  void Encipher(uint8_t* data, size_t length) const;
  // The same steps in the opposite order.
  void Decipher(uint8_t* data, size_t length) const;

  // The key of a password: XOR byte (k mod P) into key byte (k mod 8) for k < max(P, 8).
  static void FoldKey(std::string_view password, uint8_t key[8]);

  // Plain DES-ECB under a raw key, for the known-answer tests of the cipher itself.
  void SetRawKey(const uint8_t key[8]);
  void EcbEncrypt(uint8_t* data, size_t groups) const;
  void EcbDecrypt(uint8_t* data, size_t groups) const;

 private:
  void XorRunningKey(uint8_t* data, size_t length) const;
  struct Impl;
  std::unique_ptr<Impl> m_impl;
  std::string m_password;
  std::string m_xorKey;  // its first 127 bytes
};

// ---- block encoding ----
// Compresses blocks of at most one block size, reusing its buffers between calls.
class CBlockEncoder {
 public:
  explicit CBlockEncoder(uint32_t blockSize);
  ~CBlockEncoder();
  CBlockEncoder(const CBlockEncoder&) = delete;
  CBlockEncoder& operator=(const CBlockEncoder&) = delete;

  // Encodes `length` bytes (at most one block size) with `codec` into the encoder's
  // buffer. A compressed form longer than the content (or a compressor failure) falls
  // back to Stored; an equal length stays compressed. Returns the codec used; the
  // payload is Payload()[0 .. PayloadLength()) and may be enciphered in place.
  PckCodec Encode(PckCodec codec, const uint8_t* data, uint32_t length);
  uint8_t* Payload() { return m_out.data(); }
  uint32_t PayloadLength() const { return m_outLength; }
  uint32_t BlockSize() const { return m_blockSize; }

 private:
  uint32_t m_blockSize;
  std::vector<uint8_t> m_out;  // room for the worst case of every codec
  // The LZO optimiser rebuilds the content here: made at the first LZO block and left
  // uninitialised, as the optimiser writes each byte before it reads it. (The
  // compressors' own state is kept per thread, in PckCodecs.cpp.)
  std::unique_ptr<uint8_t[]> m_scratch;
  uint32_t m_outLength = 0;
};

// Decodes one block payload (already deciphered) into `out`, which holds `capacity`
// bytes (the block size). Returns the decoded length, or -1 when the stored length is
// above the capacity, the data does not decode, or it would decode to more than the
// capacity. An unknown codec is taken as Stored.
int32_t DecodeBlock(uint8_t codecByte, const uint8_t* payload, uint32_t storedLength, uint8_t* out,
                    uint32_t capacity);
