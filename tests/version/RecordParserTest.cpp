// The record parser as the version file exercises it (sections, keys, comments, GBK
// values), the value conversions and the version order.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <string>

#include "version/RecordParser.h"
#include "version/ValueText.h"
#include "version/VerRecord.h"

namespace {

// Parses a whole text into a fresh VER through "[Ver]".
VER ParseVer(const std::string& text) {
  VER ver;
  CIniSyntax syntax;
  CRecordParser parser;
  SectionMap map{{"[Ver]", &ver}};
  parser.SetSyntax(&syntax);
  parser.SetSectionMap(&map);
  parser.ParseText(text);
  return ver;
}

TEST(VersionFile, KeysAssignOnlyWhenExactAndNonEmpty) {
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=1.0.2").CurVer, "1.0.2");
  EXPECT_EQ(ParseVer("[Ver]\n  CurVer \t=  1.0.2 \r\n").CurVer, "1.0.2");
  EXPECT_EQ(ParseVer("[Ver]\r\nCurVer=1.0\r\nValidVer=0.9\r\n").ValidVer, "0.9");
  EXPECT_EQ(ParseVer("[Ver]\ncurver=1.0\n").CurVer, "");
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=1.0\nCurVer=\nCurVer=   \n").CurVer, "1.0");
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=a=b\n").CurVer, "a=b");
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=1\nCurVer=2\n").CurVer, "2");
  EXPECT_EQ(ParseVer("CurVer=1\n[Ver]\nValidVer=2\n").CurVer, "");
  EXPECT_EQ(ParseVer("[Ver]\nVER.CurVer=2\n").CurVer, "2");
  EXPECT_EQ(ParseVer("[Ver]\nVER::CurVer=2\n").CurVer, "2");
  EXPECT_EQ(ParseVer("[Ver]\nver.CurVer=2\nOther.CurVer=3\n").CurVer, "");
}

TEST(VersionFile, OnlyTheExactHeaderOpensTheSection) {
  EXPECT_EQ(ParseVer("[ver]\nCurVer=1\n").CurVer, "");
  EXPECT_EQ(ParseVer("[ Ver ]\nCurVer=1\n").CurVer, "");
  EXPECT_EQ(ParseVer("  [Ver]  \nCurVer=1\n").CurVer, "1");
  // Another section ends it; coming back reopens it; keys of the other are skipped.
  VER ver = ParseVer("[Ver]\nCurVer=1\n[Other]\nCurVer=9\nValidVer=9\n[Ver]\nValidVer=0.5\n");
  EXPECT_EQ(ver.CurVer, "1");
  EXPECT_EQ(ver.ValidVer, "0.5");
}

TEST(VersionFile, CommentsOnlyInTheFirstColumn) {
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=1\n;CurVer=9\n#CurVer=9\n").CurVer, "1");
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=1\n ;CurVer=9\n").CurVer, "1");
  EXPECT_EQ(ParseVer(";[Other]\n[Ver]\nCurVer=1 ; not a comment\n").CurVer, "1 ; not a comment");
}

TEST(VersionFile, TrailBytesNeverSplitOrComment) {
  // Second bytes that look like "=", ";", "\\", "\"", "#", "," and "[".
  const std::string value = "\xB0\x3D\xB1\x3B\xB2\x5C\xB3\x22\xB4\x23\xB5\x2C\xB6\x5B";
  EXPECT_EQ(ParseVer("[Ver]\nCurVer=" + value + "\n").CurVer, value);
  EXPECT_EQ(ParseVer("[Ver]\nCurVer= 版本" + value + "=x \r\n").CurVer, "版本" + value + "=x");
  // A key whose trail byte is "=" is a key, not the end of one.
  EXPECT_EQ(ParseVer("[Ver]\nCurVer\xB0\x3D=1\n").CurVer, "");
}

TEST(RecordParser, ReportsBadKeysAndCarriesSkippingIntoTheNextText) {
  VER first, second;
  CIniSyntax syntax;
  CRecordParser parser;
  SectionMap one{{"[Ver]", &first}}, two{{"[Ver]", &second}};
  parser.SetSyntax(&syntax);
  parser.SetSectionMap(&one);
  EXPECT_EQ(parser.ParseLine("[Ver]"), 0);
  EXPECT_EQ(parser.ParseLine("Nope=1"), -1);
  EXPECT_EQ(parser.LastError(), kParseBadKey);
  EXPECT_EQ(parser.ParseLine("[Elsewhere]"), 0);
  EXPECT_TRUE(parser.IsSkipping());

  parser.ResetInput();
  parser.SetSectionMap(&two);
  parser.ParseText("CurVer=lost\n[Ver]\nCurVer=2");
  EXPECT_FALSE(parser.IsSkipping());
  EXPECT_EQ(second.CurVer, "2");
  EXPECT_EQ(first.CurVer, "");

  // After ResetInput no section is open any more.
  parser.ResetInput();
  parser.ParseText("ValidVer=x\n");
  EXPECT_EQ(second.ValidVer, "");
}

// A record with a member of every kind, a base type and a member record.
struct Inner : CSerialRecord {
  static const RecordType kType;
  const RecordType* GetType() const override { return &kType; }
  int32_t depth = 0;
};
const FieldDesc kInnerFields[] = {{"depth", kFieldInt32, MemberAt<&Inner::depth>}};
const RecordType Inner::kType = {"Inner", nullptr, kInnerFields, nullptr};

struct Base : CSerialRecord {
  std::string name;
};
const FieldDesc kBaseFields[] = {{"name", kFieldString, MemberAt<&Base::name>}};
const RecordType kBaseType = {"Base", nullptr, kBaseFields, nullptr};

struct Every : Base {
  static const RecordType kType;
  const RecordType* GetType() const override { return &kType; }
  bool flag = false;
  int8_t small = 0;
  int16_t medium = 0;
  int32_t numbers[3] = {7, 7, 7};
  char label[6] = {};
  int32_t when = 0;
  std::string words[2];
  IntPair range;
  std::string seen;
  Inner inner;
};
const FieldDesc kEveryFields[] = {
    {"flag", kFieldBool, MemberAt<&Every::flag>},
    {"small", kFieldInt8, MemberAt<&Every::small>},
    {"medium", kFieldInt16, MemberAt<&Every::medium>},
    {"numbers", kFieldInt32 | kFieldArray, MemberAt<&Every::numbers>, 0, 3},
    {"label", kFieldChars, MemberAt<&Every::label>, sizeof(Every::label)},
    {"when", kFieldDateTime, MemberAt<&Every::when>},
    {"words", kFieldString | kFieldArray, MemberAt<&Every::words>, 0, 2},
    {"range", kFieldIntPair, MemberAt<&Every::range>},
    {"seen", kFieldCallback, nullptr, 0, 0,
     [](CSerialRecord& r, std::string_view v) { static_cast<Every&>(r).seen = v; }},
    {"legacy", kFieldIgnored},
    {"odd", 99},
    {"inner", kFieldRecord, MemberAt<&Every::inner>},
};
const RecordType Every::kType = {"Every", &kBaseType, kEveryFields, nullptr};

TEST(SerialRecord, ConvertsEveryKind) {
  Every e;
  EXPECT_EQ(e.SetField("flag", " True"), 0);
  EXPECT_EQ(e.SetField("small", "0x1FF"), 0);
  EXPECT_EQ(e.SetField("medium", "70000"), 0);
  EXPECT_EQ(e.SetField("numbers", " 1 , 2*3 "), 0);
  EXPECT_EQ(e.SetField("words", "甲\xB0\x2C乙, 丙, surplus"), 0);
  EXPECT_EQ(e.SetField("range", "4, 4"), 0);
  EXPECT_EQ(e.SetField("seen", " raw "), 0);
  EXPECT_EQ(e.SetField("legacy", "anything"), 0);
  EXPECT_EQ(e.SetField("name", "from base"), 0);
  EXPECT_TRUE(e.flag);
  EXPECT_EQ(e.small, -1);
  EXPECT_EQ(e.medium, int16_t(70000));
  EXPECT_EQ(e.numbers[0], 1);
  EXPECT_EQ(e.numbers[1], 6);
  EXPECT_EQ(e.numbers[2], 7);  // no element: unchanged
  EXPECT_EQ(e.words[0], "甲\xB0\x2C乙");
  EXPECT_EQ(e.words[1], "丙");
  EXPECT_TRUE(e.range.equal);
  EXPECT_EQ(e.seen, "raw");
  EXPECT_EQ(e.name, "from base");
  EXPECT_EQ(e.SetField("odd", "1"), -1);
}

TEST(SerialRecord, FixedBufferNeverOverflowsNorSplitsACharacter) {
  Every e;
  std::memset(e.label, 'Z', sizeof e.label);
  EXPECT_EQ(e.SetField("label", "abcdefgh"), 0);
  EXPECT_STREQ(e.label, "abcde");
  EXPECT_EQ(e.SetField("label", "abcd版本"), 0);
  EXPECT_STREQ(e.label, "abcd");  // the character would not fit whole
}

TEST(SerialRecord, QualifiedKeysReachBaseTypesAndMemberRecords) {
  Every e;
  EXPECT_EQ(e.SetField("Base.name", "b"), 0);
  EXPECT_EQ(e.name, "b");
  EXPECT_EQ(e.SetField("Every::name", "c"), 0);  // own type, member of its base
  EXPECT_EQ(e.name, "c");
  EXPECT_EQ(e.SetField("inner.depth", "3"), 0);
  EXPECT_EQ(e.SetField("Inner::depth", "4"), 0);  // found by type, depth first
  EXPECT_EQ(e.inner.depth, 4);
  EXPECT_EQ(e.SetField("depth", "5"), 0);  // offered to the member record
  EXPECT_EQ(e.inner.depth, 5);
  EXPECT_EQ(e.SetField("inner", "6"), -1);
  EXPECT_EQ(e.SetField("Nobody.depth", "7"), -1);
  EXPECT_EQ(e.inner.depth, 5);
}

TEST(ScanFields, SeparatorsAndFieldLetters) {
  std::string a, b, c;
  EXPECT_EQ(ScanFields("sss", "  one   two\tthree  ", "", {&a, &b, &c}), 3);
  EXPECT_EQ(c, "three");
  EXPECT_EQ(ScanFields("ss", "k:v;w", AnyOf(";:"), {&a, &b}), 2);
  EXPECT_EQ(b, "v");
  EXPECT_EQ(ScanFields("sa", "x::y::z", "::", {&a, &b}), 2);
  EXPECT_EQ(b, "y::z");
  int32_t d = 0;
  int16_t o = 0;
  bool flag = false;
  EXPECT_EQ(ScanFields("d*ob", "1,skip,2,yes", ",", {&d, &o, &flag}), 3);
  EXPECT_TRUE(flag);
  // A wrong output type, a null output or an unknown letter ends the scan there.
  EXPECT_EQ(ScanFields("dd", "1,2", ",", {&d, &a}), 1);
  EXPECT_EQ(ScanFields("dd", "1,2", ",", {&d, nullptr}), 1);
  EXPECT_EQ(ScanFields("dq", "1,2", ",", {&d, &d}), 1);
  // A lead byte at the very end does not read past the text.
  EXPECT_EQ(ScanFields("ss", std::string_view("ab\xB0", 3), "=", {&a, &b}), 1);
  EXPECT_EQ(a, "ab\xB0");
}

TEST(EvalInt, Expressions) {
  EXPECT_EQ(EvalInt("0x1F"), 31);
  EXPECT_EQ(EvalInt("2*3+4"), 10);
  EXPECT_EQ(EvalInt("8/0"), 0);
  EXPECT_EQ(EvalInt("10-2-3"), 5);  // left to right
  EXPECT_EQ(EvalInt("8/4/2"), 1);
  EXPECT_EQ(EvalInt("-5"), -5);
  EXPECT_EQ(EvalInt("2*-3"), -6);
  EXPECT_EQ(EvalInt("  42abc"), 42);
  EXPECT_EQ(EvalInt("-99999999999"), INT_MIN);
  EXPECT_EQ(EvalInt("0xFFFFFFFF"), -1);
  EXPECT_EQ(EvalInt("2147483647+1"), INT_MIN);  // wraps, no overflow
  EXPECT_EQ(EvalInt("-2147483648/-1"), INT_MIN);
}

TEST(ValueConversions, BoolAndDateTime) {
  for (const char* yes : {"true", " TRUE", "True story", "1", "y", "Yes"}) EXPECT_TRUE(ParseBool(yes)) << yes;
  for (const char* no : {"false", "0", "no", "", "tru", "t"}) EXPECT_FALSE(ParseBool(no)) << no;
  EXPECT_FALSE(ParseBool(std::string(65, ' ') + "1"));  // at most 64 blanks are skipped

  EXPECT_EQ(ParseDateTime("0-0-0 10:00:00"), 0);
  std::time_t back = ParseDateTime("2003-05-06 12:30:45");
  char shown[32];
  std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M:%S", std::localtime(&back));
  EXPECT_STREQ(shown, "2003-05-06 12:30:45");
  EXPECT_EQ(ParseDateTime("2100-01-01 00:00:00"), -1);  // beyond 32 bits
  // A year or month at the bottom of the 32-bit range (a hexadecimal field wraps there)
  // is no time; shifting it into std::tm must not overflow.
  EXPECT_EQ(ParseDateTime("0x80000000-01-01 00:00:00"), -1);
  EXPECT_EQ(ParseDateTime("0x80000001-01-01"), -1);
  EXPECT_EQ(ParseDateTime("2000-0x80000000-01"), -1);
}

TEST(VersionOrder, ComparesAsText) {
  EXPECT_LT(CompareVersions("1.10", "1.9"), 0);
  EXPECT_EQ(CompareVersions("1.0A", "1.0a"), 0);
  EXPECT_LT(CompareVersions("1.0", "1.0.1"), 0);
  EXPECT_GT(CompareVersions("1.0.1", "1.0"), 0);
  EXPECT_EQ(CompareVersions("", ""), 0);
  EXPECT_GT(CompareVersions("\xB0\xA1", "z"), 0);  // unsigned bytes
  // A byte after a lead byte folds like any other: "\x81A" (a two-byte character whose
  // trail byte is "A") equals "\x81a".
  EXPECT_EQ(CompareVersions("1.0\x81\x41", "1.0\x81\x61"), 0);
  EXPECT_LT(CompareVersions("[", "A"), 0);         // "[" sorts before the folded letters
}

}  // namespace
