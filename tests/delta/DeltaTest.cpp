// Deltas: the header codec, round trips on game-like changes, and every kind of bad
// delta refused with a message (never a crash, never a result that counts).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "delta/Delta.h"
#include "io/Digest.h"
#include "tests/support/PackageFixtures.h"

using qvtest::TextSource;

namespace {

using Bytes = std::string;

// A 512x512 BGRA texture: smooth gradients with a little noise, as painted art is.
Bytes Texture(uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(512 * 512 * 4, '\0');
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      char* p = &out[size_t(y * 512 + x) * 4];
      p[0] = char(x / 2 + int(rng() % 4));
      p[1] = char(y / 2 + int(rng() % 4));
      p[2] = char((x + y) / 4);
      p[3] = char(0xFF);
    }
  return out;
}
Bytes Repainted(Bytes tex) {
  for (int y = 200; y < 264; ++y)
    for (int x = 300; x < 364; ++x) std::memcpy(&tex[size_t(y * 512 + x) * 4], "\x10\x80\xF0\xFF", 4);
  return tex;
}
// A region tinted: every byte of it a little brighter, which a difference carries in
// few bytes and a prefixed frame cannot.
Bytes Tinted(Bytes tex) {
  for (int y = 100; y < 356; ++y)
    for (int x = 100; x < 356; ++x) tex[size_t(y * 512 + x) * 4] = char(tex[size_t(y * 512 + x) * 4] + 6);
  return tex;
}
// 50,000 vertices of three floats; a thousand of them moved up.
Bytes Mesh(bool moved) {
  std::mt19937 rng(7);
  std::vector<float> v(150000);
  for (float& f : v) f = float(rng() % 100000) / 100.0f;
  if (moved)
    for (size_t i = 20000; i < 21000; ++i) v[i * 3 + 1] += 0.5f;
  return Bytes(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
}
// A shop table of 20,000 records; one inserted in the middle.
Bytes Records(bool inserted) {
  Bytes out;
  for (int i = 0; i < 20000; ++i) {
    if (inserted && i == 10000) out += "99999\tnew sword\t1200\r\n";
    out += std::to_string(10000 + i) + "\titem " + std::to_string(i * 7 % 1000) + "\t" + std::to_string(i % 97) + "\r\n";
  }
  return out;
}

Bytes MakeOrFail(const Bytes& base, const Bytes& result, int level = 3) {
  std::vector<uint8_t> delta;
  CError error;
  EXPECT_EQ(MakeDelta(reinterpret_cast<const uint8_t*>(base.data()), base.size(),
                      reinterpret_cast<const uint8_t*>(result.data()), result.size(), level, SIZE_MAX, delta, error),
            0)
      << error.text;
  return Bytes(delta.begin(), delta.end());
}

// Applies through ApplyDelta; the result, or the error's text after "ERROR: ".
Bytes Apply(const Bytes& base, const Bytes& delta) {
  TextSource b(base), d(delta);
  Bytes out;
  CError error;
  if (ApplyDelta(b, d, [&](const uint8_t* p, size_t n) { return out.append(reinterpret_cast<const char*>(p), n), true; },
                 error, "x.tga") != 0)
    return "ERROR: " + error.text;
  return out;
}

}  // namespace

TEST(DeltaHeader, RoundTripsAndRefusesEveryTruncationAndAForeignOne) {
  DeltaHeader h;
  h.baseSize = 0x01020304;
  h.resultSize = 0xFFFFFFFF;
  for (int k = 0; k < 16; ++k) h.baseMd5[k] = uint8_t(k), h.resultMd5[k] = uint8_t(0xF0 + k);
  uint8_t bytes[kDeltaHeaderSize];
  EncodeDeltaHeader(h, bytes);
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(bytes), 12), Bytes("qvdelta\0\1\0\0\0", 12));
  EXPECT_EQ(Bytes(reinterpret_cast<char*>(bytes) + 12, 4), "\4\3\2\1");
  DeltaHeader back;
  std::string why;
  ASSERT_TRUE(DecodeDeltaHeader(bytes, sizeof bytes, back, why)) << why;
  EXPECT_EQ(back.baseSize, h.baseSize);
  EXPECT_EQ(back.resultSize, h.resultSize);
  EXPECT_EQ(0, std::memcmp(back.baseMd5, h.baseMd5, 16));
  EXPECT_EQ(0, std::memcmp(back.resultMd5, h.resultMd5, 16));
  for (size_t n = 0; n < kDeltaHeaderSize; ++n) {
    std::vector<uint8_t> cut(bytes, bytes + n);  // exactly n bytes, so a read past them shows
    EXPECT_FALSE(DecodeDeltaHeader(cut.data(), n, back, why)) << n;
    EXPECT_NE(why.find("shorter than"), std::string::npos) << why;
  }
  const struct {
    size_t at;
    const char* message;
  } damages[] = {{0, "no delta"}, {7, "no delta"}, {8, "not of its base's size"}, {11, "version 16777217"}};
  for (const auto& d : damages) {
    uint8_t bad[kDeltaHeaderSize];
    std::memcpy(bad, bytes, sizeof bad);
    ++bad[d.at];
    EXPECT_FALSE(DecodeDeltaHeader(bad, sizeof bad, back, why)) << d.at;
    EXPECT_NE(why.find(d.message), std::string::npos) << d.at << ": " << why;
  }
  EXPECT_TRUE(DeltaBaseMatches(h, 0x01020304, h.baseMd5, why));
  EXPECT_FALSE(DeltaBaseMatches(h, 0x01020305, h.baseMd5, why));
  EXPECT_NE(why.find("16909060 bytes"), std::string::npos) << why;
  EXPECT_FALSE(DeltaBaseMatches(h, 0x01020304, h.resultMd5, why));
  EXPECT_NE(why.find("MD5"), std::string::npos) << why;
}

TEST(Delta, GameLikeChangesRoundTripAndCostWhatChanged) {
  const Bytes tex = Texture(1), mesh = Mesh(false), table = Records(false);
  const struct {
    const char* what;
    Bytes base, result;
    size_t mostBytes;  // what the delta may cost at most
    int level;
  } rows[] = {
      {"a repainted region of a texture", tex, Repainted(tex), 1500, 3},
      {"the same at the default level", tex, Repainted(tex), 1000, kDeltaDefaultLevel},
      {"a tinted region of a texture", tex, Tinted(tex), 1000, 3},
      {"moved vertices", mesh, Mesh(true), 4000, 3},
      {"an inserted record", table, Records(true), 300, 3},
      {"identical contents", tex, tex, 200, 3},
      {"an empty base", "", "new file", 100, 3},
      {"an empty result", table, "", 100, 3},
      {"both empty", "", "", 100, 3},
      {"an unrelated texture of another size", tex.substr(0, 100000), Texture(2), tex.size(), 3},
  };
  for (const auto& row : rows) {
    const Bytes delta = MakeOrFail(row.base, row.result, row.level);
    EXPECT_LE(delta.size(), row.mostBytes) << row.what;
    EXPECT_TRUE(Apply(row.base, delta) == row.result) << row.what << ": " << Apply(row.base, delta).substr(0, 200);
    EXPECT_EQ(delta, MakeOrFail(row.base, row.result, row.level)) << row.what << ": the bytes must not vary";
  }
  // A limit: the delta that would pass it is not made.
  std::vector<uint8_t> out;
  CError error;
  const Bytes other = Texture(2);
  const auto make = [&](size_t limit) {
    return MakeDelta(reinterpret_cast<const uint8_t*>(tex.data()), tex.size(),
                     reinterpret_cast<const uint8_t*>(other.data()), other.size(), 3, limit, out, error);
  };
  EXPECT_EQ(make(10000), 1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(make(kDeltaHeaderSize), 1);
  ASSERT_EQ(make(SIZE_MAX), 0);
  const size_t size = out.size();
  EXPECT_EQ(make(size), 0);
  EXPECT_EQ(make(size - 1), 1);
}

TEST(Delta, TheResultStreamReadsInPiecesRestartsAndCarriesTheDeltasStamp) {
  const Bytes base = Texture(3), result = Repainted(base), delta = MakeOrFail(base, result);
  TextSource b(base), d(delta, -1, 1234567890);
  CDeltaStream s;
  ASSERT_EQ(s.Open(b, d, "bld/x.tga"), 0) << s.Error().text;
  EXPECT_EQ(s.Size(), int32_t(result.size()));
  EXPECT_EQ(s.Stamp(), 1234567890);
  uint8_t md5[16], want[16];
  Md5(result.data(), result.size(), want);
  ASSERT_EQ(s.Digest(md5), 0);
  EXPECT_EQ(0, std::memcmp(md5, want, 16));
  for (int pass = 0; pass < 2; ++pass) {
    Bytes got;
    char piece[1000];  // not a divisor of anything the decoder uses
    while (!s.Eof()) {
      const int32_t n = s.Read(piece, sizeof piece);
      ASSERT_GT(n, 0);
      got.append(piece, size_t(n));
    }
    EXPECT_FALSE(s.Failed());
    EXPECT_TRUE(got == result) << pass;
    EXPECT_EQ(s.Seek(0, 0), 0);  // the writer's second try reads it all again
  }
  EXPECT_NE(s.Seek(10, 0), 0);
  CError error;
  DeltaHeader h;
  TextSource d2(delta), other(Repainted(base));
  EXPECT_EQ(CheckDeltaBase(d2, b, h, error), 0) << error.text;
  EXPECT_EQ(h.resultSize, result.size());
  EXPECT_EQ(d2.Tell(), int32_t(kDeltaHeaderSize));
  d2.Seek(0, 0);
  EXPECT_EQ(CheckDeltaBase(d2, other, h, error), -1);
  EXPECT_EQ(error.kind, ErrorKind::BadArgument);
}

TEST(Delta, ABadDeltaOrAnotherBaseIsRefusedWithAReason) {
  const Bytes base = Records(false), result = Records(true), good = MakeOrFail(base, result);
  ASSERT_TRUE(Apply(base, good) == result);
  Bytes header = good.substr(0, kDeltaHeaderSize);
  // A frame made by hand: no content size, a window of 2^log bytes, one raw block of
  // ten bytes; the header says base 0, result those ten bytes.
  const auto handFrame = [](int windowLog, const Bytes& tail = "") {
    DeltaHeader h;
    const Bytes ten = "0123456789";
    h.resultSize = 10;
    Md5(ten.data(), ten.size(), h.resultMd5);
    Md5("", 0, h.baseMd5);
    uint8_t head[kDeltaHeaderSize];
    EncodeDeltaHeader(h, head);
    return Bytes(reinterpret_cast<char*>(head), sizeof head) + Bytes("\x28\xB5\x2F\xFD\x00", 5) +
           char((windowLog - 10) << 3) + Bytes("\x51\x00\x00", 3) + ten + tail;
  };
  ASSERT_EQ(Apply("", handFrame(10)), "0123456789");
  ASSERT_EQ(Apply("", handFrame(23)), "0123456789");  // 8 MiB: what any base gets
  Bytes swapped = good;
  std::swap(swapped[kDeltaHeaderSize + 40], swapped[kDeltaHeaderSize + 41]);
  const struct {
    const char* what;
    Bytes base, delta;
    const char* message;
  } rows[] = {
      {"a base of another size", base + "x", good, "applies to a file of"},
      {"a base of the same size and other content", result.substr(0, base.size()), good, "MD5 differs"},
      {"a delta cut in its header", base, good.substr(0, 30), "shorter than"},
      {"a delta of its header alone", base, header, "no zstd frame"},
      {"a delta cut in its frame", base, good.substr(0, good.size() - 5), "ends before"},
      {"bytes after the frame", base, good + "x", "follow"},
      {"a second frame", base, good + good.substr(kDeltaHeaderSize), "follow"},
      {"a skippable frame first", base, header + Bytes("\x50\x2A\x4D\x18\0\0\0\0", 8) + good.substr(kDeltaHeaderSize),
       "no zstd frame"},
      {"swapped frame bytes", base, swapped, "delta"},
      {"a header claiming more", base, [&] {
         Bytes d = good;
         ++d[32];  // result size
         return d;
       }(), "bytes than its header says"},
      {"a window larger than the base justifies", "", handFrame(24), "does not decode"},
      {"a window of 2 GiB", "", handFrame(41), "does not decode"},
  };
  for (const auto& row : rows) {
    const Bytes got = Apply(row.base, row.delta);
    EXPECT_EQ(got.rfind("ERROR: x.tga: ", 0), 0u) << row.what << ": " << got.substr(0, 100);
    EXPECT_NE(got.find(row.message), std::string::npos) << row.what << ": " << got;
  }
  // Every cut of a small delta is refused; every flipped byte is refused or, where zstd
  // ignores it, still makes exactly the recorded result. Never a crash, never other bytes.
  const Bytes from = base.substr(0, 3000), to = from.substr(0, 1500) + "x" + from.substr(1500);
  const Bytes small = MakeOrFail(from, to);
  for (size_t n = 0; n < small.size(); ++n) {
    EXPECT_EQ(Apply(from, small.substr(0, n)).rfind("ERROR: ", 0), 0u) << "cut at " << n;
    Bytes flipped = small;
    flipped[n] = char(flipped[n] ^ 0x5A);
    const Bytes got = Apply(from, flipped);
    EXPECT_TRUE(got.rfind("ERROR: ", 0) == 0 || got == to) << "flipped at " << n;
  }
}
