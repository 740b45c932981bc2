// Byte layout of the header, records and entry headers; name rules.
#include <gtest/gtest.h>

#include <cstring>

#include "pck/PckFormat.h"

TEST(PckFormat, HeaderEncodesToSixtyFourLittleEndianBytes) {
  PckHeader h = PckHeader::Default();
  h.deadBytes = 0x01020304;
  uint8_t b[kPckHeaderSize];
  std::memset(b, 0xAA, sizeof b);
  h.Encode(b);
  EXPECT_EQ(0, std::memcmp(b, "qellib, 2003\0\0\0\0", 16));
  EXPECT_EQ(b[16], 2);
  EXPECT_EQ(b[17] | b[18] | b[19], 0);
  EXPECT_EQ(b[20], 0x00);
  EXPECT_EQ(b[22], 0x01);  // 65536
  EXPECT_EQ(b[24], 0x04);
  EXPECT_EQ(b[27], 0x01);
  for (int i = 28; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;
  PckHeader back = PckHeader::Decode(b);
  EXPECT_TRUE(back.IsValid());
  EXPECT_EQ(back.blockSize, 65536u);
  EXPECT_EQ(back.deadBytes, 0x01020304u);
}

TEST(PckFormat, HeaderValidityLooksAtMagicTextAndVersionOnly) {
  uint8_t b[kPckHeaderSize];
  PckHeader::Default().Encode(b);
  b[14] = 'x';  // after the zero byte: not compared
  EXPECT_TRUE(PckHeader::Decode(b).IsValid());
  b[16] = 3;  // a later version is accepted by readers
  EXPECT_TRUE(PckHeader::Decode(b).IsValid());
  b[16] = 1;
  EXPECT_FALSE(PckHeader::Decode(b).IsValid());
  PckHeader::Default().Encode(b);
  b[12] = ' ';  // the terminating zero is part of the magic
  EXPECT_FALSE(PckHeader::Decode(b).IsValid());
}

TEST(PckFormat, RecordEncodesEveryFieldAtItsOffset) {
  PckRecord r;
  r.type = kPckFile;
  r.nameOffset = 0x11223344;
  r.stamp = -2;
  for (int i = 0; i < 16; ++i) r.digest[i] = uint8_t(0xA0 + i);
  r.dataOffset = 60;
  r.size = 23058;
  uint8_t b[kPckRecordSize];
  r.Encode(b);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(GetLE32(b + 1), 0x11223344u);
  EXPECT_EQ(GetLE32(b + 5), 0xFFFFFFFEu);
  EXPECT_EQ(b[9], 0xA0);
  EXPECT_EQ(b[24], 0xAF);
  EXPECT_EQ(GetLE32(b + 25), 60u);
  EXPECT_EQ(GetLE32(b + 29), 23058u);
  PckRecord back = PckRecord::Decode(b);
  EXPECT_EQ(back.stamp, -2);
  EXPECT_EQ(back.size, 23058u);
  EXPECT_EQ(0, std::memcmp(back.digest, r.digest, 16));
}

TEST(PckFormat, EntryHeaderAndBlockCounts) {
  uint8_t b[kPckEntryHeaderSize];
  PckEncodeEntryHeader(1, b);
  const uint8_t want[16] = {0, 1};
  EXPECT_EQ(0, std::memcmp(b, want, 16));
  EXPECT_EQ(PckBlockCount(0, 65536), 0u);
  EXPECT_EQ(PckBlockCount(65536, 65536), 1u);  // no short last block
  EXPECT_EQ(PckBlockCount(65537, 65536), 2u);
  EXPECT_EQ(PckBlockCount(0xFFFFFFFFu, 65536), 65536u);
  // the worked example: one block of 35 payload bytes ends at 60
  EXPECT_EQ(PckEntryLength(1, 35), 60u);
}

TEST(PckNames, CompareWithoutCaseForAsciiOnly) {
  EXPECT_TRUE(PckNamesEqual("Data", "DATA"));
  EXPECT_TRUE(PckNamesEqual("a.txt", "A.TXT"));
  EXPECT_FALSE(PckNamesEqual("a", "ab"));
  // GBK bytes compare exactly: 0xC4 0xE3 vs 0xC4 0xC3 differ only in a bit that ASCII
  // folding would ignore, and must stay different.
  EXPECT_FALSE(PckNamesEqual("\xC4\xE3", "\xC4\xC3"));
  // ... and so does a second byte that happens to be an ASCII letter
  EXPECT_FALSE(PckNamesEqual("\xC4\x61", "\xC4\x41"));
  EXPECT_TRUE(PckNamesEqual("x\xC4\x61y", "X\xC4\x61Y"));
  EXPECT_EQ(PckFoldName("ab\xC4\x61z"), "AB\xC4\x61Z");
  EXPECT_EQ(PckNameHash("readme.TXT"), PckNameHash("README.txt"));
  EXPECT_EQ(PckNameHash("A"), 65u);
  EXPECT_EQ(PckNameHash("AB"), 65u * 31 + 66);
}

TEST(PckNames, StorableNames) {
  EXPECT_TRUE(PckNameIsStorable("CVer.txt"));
  EXPECT_TRUE(PckNameIsStorable("\xB1\x5C.txt"));  // a GBK trail byte 0x5C is no separator
  EXPECT_TRUE(PckNameIsStorable(std::string(254, 'n')));
  EXPECT_FALSE(PckNameIsStorable(std::string(255, 'n')));
  EXPECT_FALSE(PckNameIsStorable(""));
  EXPECT_FALSE(PckNameIsStorable("a/b"));
  EXPECT_FALSE(PckNameIsStorable("a\\b"));
  EXPECT_FALSE(PckNameIsStorable(".."));
  EXPECT_FALSE(PckNameIsStorable(std::string("a\0b", 3)));
  EXPECT_EQ(PckIndexName("patch"), "patch.idx");
  EXPECT_EQ(PckDataName("mb"), "mb.dat");
}
