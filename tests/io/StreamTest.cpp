// FileStream, MemoryStream and the shared stream operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/FileStream.h"
#include "io/Digest.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"

using qvtest::CTempDir;

namespace {

// A stream whose writes fall short after a budget, to test WriteRepeated's failure.
class ShortWriter : public MemoryStream {
 public:
  ShortWriter(void* data, int32_t size, int32_t budget) : MemoryStream(data, size), m_budget(budget) {}
  int32_t Write(const void* b, int32_t n) override {
    ++calls;
    int32_t take = std::min(n, m_budget);
    m_budget -= take;
    return MemoryStream::Write(b, take);
  }
  int calls = 0;

 private:
  int32_t m_budget;
};

}  // namespace

TEST(WriteRepeated, WritesCountCopiesAndSumsThem) {
  char mem[16] = {};
  MemoryStream s(mem, sizeof mem);
  EXPECT_EQ(s.WriteRepeated("ab", 2, 3), 6);
  EXPECT_EQ(std::string(mem, 6), "ababab");
  EXPECT_EQ(s.WriteRepeated("zz", 2, 0), 0);
  EXPECT_EQ(s.WriteRepeated("zz", 2, -5), 0);
  EXPECT_EQ(s.Tell(), 6);
}

TEST(WriteRepeated, FailsAsSoonAsOneWriteFallsShort) {
  char mem[64] = {};
  ShortWriter s(mem, sizeof mem, 5);
  EXPECT_EQ(s.WriteRepeated("abc", 3, 10), -1);
  EXPECT_EQ(s.calls, 2);  // the second write delivered 2 of 3 bytes, and it stopped there
}

TEST(MemoryStream, NeverGrowsAndClampsSeeks) {
  char mem[4] = {'w', 'x', 'y', 'z'};
  MemoryStream s(mem, 4);
  EXPECT_EQ(s.Seek(2, 0), 0);
  EXPECT_EQ(s.Write("ABCD", 4), 2);  // only what fits
  EXPECT_EQ(std::string(mem, 4), "wxAB");
  EXPECT_TRUE(s.Eof());
  EXPECT_EQ(s.Write("Q", 1), 0);
  s.Seek(100, 1);
  EXPECT_EQ(s.Tell(), 4);
  s.Seek(-100, 2);
  EXPECT_EQ(s.Tell(), 0);
  char buf[8];
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Stamp(), 0);
  EXPECT_EQ(s.Handle(), nullptr);
}

TEST(MemoryStream, DigestReadsTheWholeContentFromTheStart) {
  std::string text = qvtest::PseudoRandom(10000, 4);  // more than two 4096-byte reads
  MemoryStream s(text.data(), int32_t(text.size()));
  s.Seek(500, 0);
  uint8_t d[16], want[16];
  EXPECT_EQ(s.Digest(d), 0);
  Md5(text.data(), text.size(), want);
  EXPECT_EQ(Md5Hex(d), Md5Hex(want));
}

TEST(FileStream, ReadsWritesAndTracksSize) {
  CTempDir dir;
  std::string path = dir / "f.bin";
  qvtest::WriteFile(path, "hello");
  auto s = OpenFileStream(path, "rb+");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 5);
  EXPECT_NE(s->Handle(), nullptr);
  char buf[3];
  EXPECT_EQ(s->Read(buf, 3), 3);
  EXPECT_EQ(s->Write("LO world", 8), 8);  // read then write without a seek in between
  EXPECT_EQ(s->Size(), 11);
  EXPECT_EQ(s->Tell(), 11);
  uint8_t d[16], want[16];
  s->Digest(d);
  Md5("helLO world", 11, want);
  EXPECT_EQ(Md5Hex(d), Md5Hex(want));
  EXPECT_TRUE(s->Eof());
  s.reset();
  EXPECT_EQ(qvtest::ReadFile(path), "helLO world");
}

TEST(FileStream, StampIsTheFileTime) {
  CTempDir dir;
  std::string path = dir / "t.txt";
  qvtest::WriteFile(path, "x");
  ASSERT_TRUE(plat::SetFileTime(path, 1300000000));
  auto s = OpenFileStream(path, "rb");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Stamp(), 1300000000);
}

TEST(FileStream, MissingFileGivesNoStream) {
  CTempDir dir;
  EXPECT_EQ(OpenFileStream(dir / "none", "rb"), nullptr);
}

TEST(FileStream, AFolderDoesNotOpenAsAFile) {
  CTempDir dir;
  // glibc would open it and read its length as 2^63; msvcrt refuses; so do we, on both.
  EXPECT_EQ(OpenFileStream(dir.Path(), "rb"), nullptr);
}
