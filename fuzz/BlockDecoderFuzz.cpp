// The block decoder on hostile payloads: byte 0 is the codec byte of a block header,
// bytes 1 to 3 choose the output capacity (the block size, 1 to 131072), the rest is the
// stored payload. The output buffer is exactly the capacity, so a write past it is
// caught. The same bytes then go through the encoder and back, and through the
// package cipher and back, which must both give them unchanged.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "pck/PckCodecs.h"
#include "pck/PckFormat.h"

namespace {

constexpr uint32_t kMaxCapacity = 0x20000;

void RoundTrip(CBlockEncoder& encoder, PckCodec codec, const uint8_t* content, uint32_t length) {
  const uint32_t capacity = encoder.BlockSize();
  const PckCodec used = encoder.Encode(codec, content, length);
  QV_FUZZ_CHECK(used == codec || used == PckCodec::Stored);
  QV_FUZZ_CHECK(encoder.PayloadLength() <= length);  // a longer form is stored instead
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
  const int32_t n = DecodeBlock(uint8_t(used), encoder.Payload(), encoder.PayloadLength(), out.get(), capacity);
  QV_FUZZ_CHECK(n == int32_t(length));
  QV_FUZZ_CHECK(length == 0 || std::memcmp(out.get(), content, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t codec = data[0];
  const uint32_t capacity = 1 + (uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16) % kMaxCapacity;
  const uint8_t* payload = data + 4;  // ends where the fuzzer's buffer ends
  const uint32_t stored = uint32_t(size - 4);

  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
  const int32_t n = DecodeBlock(codec, payload, stored, out.get(), capacity);
  QV_FUZZ_CHECK(n == -1 || (n >= 0 && uint32_t(n) <= capacity));
  if (PckCodecFromByte(codec) == PckCodec::Stored) {
    // Stored (and every unknown codec) is a copy, refused when it does not fit.
    if (stored <= capacity) {
      QV_FUZZ_CHECK(n == int32_t(stored));
      QV_FUZZ_CHECK(stored == 0 || std::memcmp(out.get(), payload, stored) == 0);
    } else {
      QV_FUZZ_CHECK(n == -1);
    }
  } else if (stored > capacity) {
    QV_FUZZ_CHECK(n == -1);
  }

  // The payload taken as content: what the encoder makes must decode to it again.
  const uint32_t length = std::min(stored, capacity);
  CBlockEncoder encoder(capacity);
  RoundTrip(encoder, PckCodec::Zlib, payload, length);
  RoundTrip(encoder, PckCodec::Lzo1x, payload, length);
  RoundTrip(encoder, PckCodec::Stored, payload, length);

  // The cipher is its own undoing, whatever the length.
  std::vector<uint8_t> copy(payload, payload + stored);
  CPckCipher cipher;
  cipher.SetPassword(codec & 1 ? kPckGamePassword : "k");
  cipher.Encipher(copy.data(), copy.size());
  cipher.Decipher(copy.data(), copy.size());
  QV_FUZZ_CHECK(copy.empty() || std::memcmp(copy.data(), payload, stored) == 0);
  return 0;
}
