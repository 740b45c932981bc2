// Known answers for DES, MD5 and CRC-32; the package cipher; block encoding and decoding.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "pck/PckCodecs.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Hex(const uint8_t* p, size_t n) {
  static const char k[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += k[p[i] >> 4];
    s += k[p[i] & 15];
  }
  return s;
}

}  // namespace

TEST(KnownAnswers, DesFips46Example) {
  const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
  uint8_t block[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  CPckCipher c;
  c.SetRawKey(key);
  c.EcbEncrypt(block, 1);
  EXPECT_EQ(Hex(block, 8), "85E813540F0AB405");
  c.EcbDecrypt(block, 1);
  EXPECT_EQ(Hex(block, 8), "0123456789ABCDEF");
}

TEST(KnownAnswers, Md5Rfc1321Suite) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456"
       "7890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto [text, want] : suite) {
    uint8_t d[16];
    Md5(text, strlen(text), d);
    EXPECT_EQ(Md5Hex(d), want) << '"' << text << '"';
    // The incremental digest, fed in two pieces, agrees.
    CMd5 m;
    size_t half = strlen(text) / 2;
    m.Update(text, half);
    m.Update(text + half, strlen(text) - half);
    m.Final(d);
    EXPECT_EQ(Md5Hex(d), want);
  }
}

TEST(KnownAnswers, Crc32OfCheckString) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("56789", 5, Crc32("1234", 4)), 0xCBF43926u);
}

TEST(PckCipher, KeyFoldingRepeatsShortAndFoldsLongPasswords) {
  uint8_t key[8];
  CPckCipher::FoldKey("abc", key);
  EXPECT_EQ(Hex(key, 8), "6162636162636162");  // repeated to fill eight bytes
  CPckCipher::FoldKey("abcdefghij", key);
  // bytes 8 and 9 ('i', 'j') fold onto key bytes 0 and 1
  EXPECT_EQ(key[0], 'a' ^ 'i');
  EXPECT_EQ(key[1], 'b' ^ 'j');
  EXPECT_EQ(key[2], 'c');
}

TEST(PckCipher, ShortPayloadIsOnlyXoredWithWrappingPassword) {
  const std::string pw = kPckGamePassword;  // 16 characters
  uint8_t data[5] = {1, 2, 3, 4, 5}, want[5] = {1, 2, 3, 4, 5};
  for (size_t k = 0; k < 16; ++k) want[k % 5] ^= uint8_t(pw[k]);
  CPckCipher c;
  c.SetPassword(pw);
  c.Encipher(data, 5);
  EXPECT_EQ(Hex(data, 5), Hex(want, 5));
  c.Decipher(data, 5);
  EXPECT_EQ(Hex(data, 5), "0102030405");
}

TEST(PckCipher, WholeGroupsAreDesAndTheTailOnlyXored) {
  // 8*k + r bytes: the first 8*k go through DES, then every byte meets the running key.
  const std::string pw = "secret";
  for (size_t len : {8u, 13u, 16u, 23u, 64u}) {
    std::vector<uint8_t> plain = Bytes(qvtest::PseudoRandom(len, 7 + uint32_t(len)));
    std::vector<uint8_t> data = plain;
    CPckCipher c;
    c.SetPassword(pw);
    c.Encipher(data.data(), len);

    std::vector<uint8_t> want = plain;
    CPckCipher des;
    uint8_t key[8];
    CPckCipher::FoldKey(pw, key);
    des.SetRawKey(key);
    des.EcbEncrypt(want.data(), len / 8);
    for (size_t k = 0; k < len; ++k) want[k] ^= uint8_t(pw[k % pw.size()]);
    EXPECT_EQ(data, want) << len;

    c.Decipher(data.data(), len);
    EXPECT_EQ(data, plain) << len;
  }
}

TEST(PckCipher, EmptyPasswordLeavesDataAlone) {
  uint8_t data[9] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  CPckCipher c;
  c.SetPassword("x");
  c.SetPassword("");
  EXPECT_FALSE(c.Enabled());
  c.Encipher(data, 9);
  EXPECT_EQ(data[0], 9);
  EXPECT_EQ(data[8], 1);
}

TEST(BlockCodec, EveryCodecRoundTrips) {
  const uint32_t bs = 4096;
  CBlockEncoder enc(bs);
  std::vector<uint8_t> out(bs);
  for (PckCodec codec : {PckCodec::Stored, PckCodec::Zlib, PckCodec::Lzo1x}) {
    for (uint32_t len : {0u, 1u, 100u, bs}) {
      std::vector<uint8_t> in = Bytes(qvtest::PseudoRandom(len, len + 1, true));
      PckCodec used = enc.Encode(codec, in.data(), len);
      if (codec != PckCodec::Stored && len >= 100) {
        EXPECT_EQ(used, codec) << len;
      }
      int32_t n = DecodeBlock(uint8_t(used), enc.Payload(), enc.PayloadLength(), out.data(), bs);
      ASSERT_EQ(n, int32_t(len));
      EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
      // The compressors' state is kept per thread between blocks: a block still gives the
      // bytes it gives alone (for zlib, compress()'s), whatever was encoded before it.
      const std::vector<uint8_t> payload(enc.Payload(), enc.Payload() + enc.PayloadLength());
      std::vector<uint8_t> other = Bytes(qvtest::PseudoRandom(bs, len + 7, true));
      enc.Encode(codec, other.data(), bs);
      enc.Encode(codec, in.data(), len);
      EXPECT_EQ(payload, std::vector<uint8_t>(enc.Payload(), enc.Payload() + enc.PayloadLength())) << len;
      if (used == PckCodec::Zlib) {
        std::vector<uint8_t> alone(compressBound(len));
        uLongf aloneLen = alone.size();
        ASSERT_EQ(compress(alone.data(), &aloneLen, in.data(), len), Z_OK);
        alone.resize(aloneLen);
        EXPECT_EQ(payload, alone) << len;
      }
    }
  }
}

TEST(BlockCodec, IncompressibleBlockFallsBackToStored) {
  const uint32_t bs = 4096;
  CBlockEncoder enc(bs);
  std::vector<uint8_t> noise = Bytes(qvtest::PseudoRandom(bs, 99));
  for (PckCodec codec : {PckCodec::Zlib, PckCodec::Lzo1x}) {
    EXPECT_EQ(enc.Encode(codec, noise.data(), bs), PckCodec::Stored);
    EXPECT_EQ(enc.PayloadLength(), bs);
    EXPECT_EQ(0, std::memcmp(enc.Payload(), noise.data(), bs));
  }
}

TEST(BlockCodec, CompressedFormOfEqualLengthStaysCompressed) {
  // zlib turns eleven equal letters into exactly eleven bytes (header, two codes, check).
  CBlockEncoder enc(256);
  const std::string run(11, 'q');
  EXPECT_EQ(enc.Encode(PckCodec::Zlib, reinterpret_cast<const uint8_t*>(run.data()), 11), PckCodec::Zlib);
  EXPECT_EQ(enc.PayloadLength(), 11u);
  // and one letter more or less tips it the expected way
  const std::string ten(10, 'q');
  EXPECT_EQ(enc.Encode(PckCodec::Zlib, reinterpret_cast<const uint8_t*>(ten.data()), 10), PckCodec::Stored);
}

TEST(BlockCodec, DecodingRejectsOversizedAndDamagedBlocks) {
  const uint32_t bs = 1024;
  std::vector<uint8_t> out(bs + 64, 0xEE);
  std::vector<uint8_t> big(2 * bs, 'a');
  // stored length above the block size
  EXPECT_EQ(DecodeBlock(0, big.data(), bs + 1, out.data(), bs), -1);
  EXPECT_EQ(out[0], 0xEE);
  // a block that decodes to more than one block size
  CBlockEncoder enc(2 * bs);
  for (PckCodec codec : {PckCodec::Zlib, PckCodec::Lzo1x}) {
    ASSERT_EQ(enc.Encode(codec, big.data(), 2 * bs), codec);
    ASSERT_LE(enc.PayloadLength(), bs);
    EXPECT_EQ(DecodeBlock(uint8_t(codec), enc.Payload(), enc.PayloadLength(), out.data(), bs), -1);
    EXPECT_EQ(out[bs], 0xEE) << "wrote past the block";
  }
  // garbage is an error, not a crash
  std::vector<uint8_t> junk = Bytes(qvtest::PseudoRandom(200, 3));
  EXPECT_EQ(DecodeBlock(1, junk.data(), 200, out.data(), bs), -1);
  EXPECT_LE(DecodeBlock(2, junk.data(), 200, out.data(), bs), int32_t(bs));
}

TEST(BlockCodec, UnknownCodecIsReadAsStored) {
  uint8_t in[4] = {1, 2, 3, 4}, out[8] = {};
  EXPECT_EQ(DecodeBlock(7, in, 4, out, 8), 4);
  EXPECT_EQ(out[3], 4);
  EXPECT_EQ(PckCodecFromByte(200), PckCodec::Stored);
}

// The package cipher gives the same bytes under every DES backend, for payloads short
// and long (a bit-sliced pass takes 64 or 256 groups; the fastest backend leaves short
// payloads to libgcrypt), and each one reads back what it wrote.
TEST(PckCipher, EveryDesBackendGivesTheSameBytes) {
  struct Restore {
    ~Restore() { PckSetDesBackend(DesBackend::Fastest); }
  } restore;
  const DesBackend backends[] = {DesBackend::Bitslice64, DesBackend::BitsliceAvx2, DesBackend::Fastest};
  for (size_t len : {0u, 8u, 13u, 255u, 256u, 2047u, 2048u, 65536u, 65541u}) {
    const std::vector<uint8_t> plain = Bytes(qvtest::PseudoRandom(len, uint32_t(len) + 3));
    std::vector<uint8_t> reference = plain;
    PckSetDesBackend(DesBackend::Libgcrypt);
    CPckCipher gcrypt;
    gcrypt.SetPassword(kPckGamePassword);
    gcrypt.Encipher(reference.data(), len);
    for (DesBackend backend : backends) {
      if (!PckSetDesBackend(backend)) continue;  // no AVX2 on this CPU
      SCOPED_TRACE(int(backend));
      CPckCipher c;
      c.SetPassword(kPckGamePassword);
      std::vector<uint8_t> data = plain;
      c.Encipher(data.data(), len);
      EXPECT_EQ(data, reference) << len;
      c.Decipher(data.data(), len);
      EXPECT_EQ(data, plain) << len;
    }
  }
}
