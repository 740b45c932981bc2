// The block decoder on hostile payloads: byte 0 is the codec byte of a block header,
// bytes 1 to 3 choose the output capacity (the block size, 1 to 131072), the rest is the
// stored payload. The output buffer is exactly the capacity, so a write past it is
// caught (the buffer is reused between runs, the bytes before it poisoned). The same bytes then go through the encoder and back, and through the
// package cipher and back, which must both give them unchanged.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "pck/PckCodecs.h"
#include "pck/PckFormat.h"

namespace {

constexpr uint32_t kMaxCapacity = 0x20000;

// Encoders for the first block sizes seen, and one of the largest size for every other:
// making an encoder costs its worst-case buffers and the LZO work memory (128 KiB), more
// than the work on a typical input, and the fuzzer changes the size bytes often.
CBlockEncoder& EncoderFor(uint32_t capacity) {
  static std::map<uint32_t, std::unique_ptr<CBlockEncoder>> encoders;
  static CBlockEncoder largest(kMaxCapacity);
  auto it = encoders.find(capacity);
  if (it != encoders.end()) return *it->second;
  if (encoders.size() >= 64) return largest;
  return *(encoders[capacity] = std::make_unique<CBlockEncoder>(capacity));
}

void RoundTrip(CBlockEncoder& encoder, uint32_t capacity, PckCodec codec, const uint8_t* content, uint32_t length) {
  const PckCodec used = encoder.Encode(codec, content, length);
  QV_FUZZ_CHECK(used == codec || used == PckCodec::Stored);
  QV_FUZZ_CHECK(encoder.PayloadLength() <= length);  // a longer form is stored instead
  qvfuzz::CExactBuffer& out = qvfuzz::Scratch(1, kMaxCapacity);
  const int32_t n = DecodeBlock(uint8_t(used), encoder.Payload(), encoder.PayloadLength(), out.Take(capacity), capacity);
  QV_FUZZ_CHECK(n == int32_t(length));
  QV_FUZZ_CHECK(length == 0 || std::memcmp(out.Data(), content, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t codec = data[0];
  const uint32_t capacity = 1 + (uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16) % kMaxCapacity;
  const uint8_t* payload = data + 4;  // ends where the fuzzer's buffer ends
  const uint32_t stored = uint32_t(size - 4);

  qvfuzz::CExactBuffer& out = qvfuzz::Scratch(0, kMaxCapacity);
  const int32_t n = DecodeBlock(codec, payload, stored, out.Take(capacity), capacity);
  QV_FUZZ_CHECK(n == -1 || (n >= 0 && uint32_t(n) <= capacity));
  if (PckCodecFromByte(codec) == PckCodec::Stored) {
    // Stored (and every unknown codec) is a copy, refused when it does not fit.
    if (stored <= capacity) {
      QV_FUZZ_CHECK(n == int32_t(stored));
      QV_FUZZ_CHECK(stored == 0 || std::memcmp(out.Data(), payload, stored) == 0);
    } else {
      QV_FUZZ_CHECK(n == -1);
    }
  } else if (stored > capacity) {
    QV_FUZZ_CHECK(n == -1);
  }

  // The payload taken as content: what the encoder makes must decode to it again.
  const uint32_t length = std::min(stored, capacity);
  CBlockEncoder& encoder = EncoderFor(capacity);
  RoundTrip(encoder, capacity, PckCodec::Zlib, payload, length);
  RoundTrip(encoder, capacity, PckCodec::Lzo1x, payload, length);
  RoundTrip(encoder, capacity, PckCodec::Stored, payload, length);

  // The cipher is its own undoing, whatever the length.
  static CPckCipher ciphers[2];
  static const bool keyed = (ciphers[0].SetPassword("k"), ciphers[1].SetPassword(kPckGamePassword), true);
  (void)keyed;
  CPckCipher& cipher = ciphers[codec & 1];
  uint8_t* copy = qvfuzz::Scratch(2, kMaxCapacity + 4).Take(std::min<uint32_t>(stored, kMaxCapacity + 4));
  const size_t copied = std::min<size_t>(stored, kMaxCapacity + 4);
  std::memcpy(copy, payload, copied);
  cipher.Encipher(copy, copied);
  cipher.Decipher(copy, copied);
  QV_FUZZ_CHECK(copied == 0 || std::memcmp(copy, payload, copied) == 0);
  return 0;
}
