// Separator and wildcard scanning over code page 936 text, where the trail byte of a
// two-byte character may be 0x5C ("\\") or an ASCII letter.
#include "platform/PathText.h"

#include <gtest/gtest.h>

namespace {

// Two GBK characters whose trail byte is 0x5C, written as bytes so that the compiler's
// character set conversion cannot touch them.
const std::string kTrail5C_1 = "\x95\x5c";
const std::string kTrail5C_2 = "\xb1\x5c";

TEST(PathText, ToSlashesKeepsTrailBytesThatLookLikeBackslashes) {
  EXPECT_EQ(plat::ToSlashes("a\\b/c\\"), "a/b/c/");
  EXPECT_EQ(plat::ToSlashes("dir\\" + kTrail5C_1 + "\\file"), "dir/" + kTrail5C_1 + "/file");
  // The byte after a complete character is a separator again.
  EXPECT_EQ(plat::ToSlashes(kTrail5C_2 + "\\"), kTrail5C_2 + "/");
  EXPECT_EQ(plat::ToSlashes(kTrail5C_1 + kTrail5C_2), kTrail5C_1 + kTrail5C_2);
  // A lead byte cut off at the very end takes nothing with it.
  EXPECT_EQ(plat::ToSlashes("a\\\x95"), "a/\x95");
}

TEST(PathText, LastSeparatorSkipsTrailBytes) {
  EXPECT_EQ(plat::LastSeparator("a/b\\c"), 3u);
  EXPECT_EQ(plat::LastSeparator("a\\" + kTrail5C_1), 1u);
  EXPECT_EQ(plat::LastSeparator("x" + kTrail5C_2 + "y"), std::string::npos);
  EXPECT_EQ(plat::LastSeparator(kTrail5C_1 + "\\"), 2u);
  EXPECT_EQ(plat::LastSeparator(""), std::string::npos);
}

TEST(PathText, WildcardMatchFollowsTheShell) {
  using plat::WildcardMatch;
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("*", "anything.at.all"));
  // "*.*" is every name, also one without a dot.
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("*.txt", "A.TXT"));
  EXPECT_FALSE(WildcardMatch("*.txt", "a.txt.bak"));
  EXPECT_TRUE(WildcardMatch("a?c", "AbC"));
  EXPECT_FALSE(WildcardMatch("a?c", "ac"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));  // needs to backtrack past the first "b"
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(WildcardMatch("data*.pck", "data.pck"));
}

TEST(PathText, WildcardMatchTakesTwoByteCharactersWhole) {
  using plat::WildcardMatch;
  EXPECT_TRUE(WildcardMatch("?.txt", kTrail5C_1 + ".txt"));
  EXPECT_FALSE(WildcardMatch("??.txt", kTrail5C_1 + ".txt"));
  EXPECT_TRUE(WildcardMatch("??", kTrail5C_1 + kTrail5C_2));
  EXPECT_TRUE(WildcardMatch("*" + kTrail5C_2, "ab" + kTrail5C_1 + kTrail5C_2));
  // The trail byte of "\x81\x41" is "A": no case folding inside a character.
  EXPECT_FALSE(WildcardMatch("\x81\x41", "\x81\x61"));
  EXPECT_TRUE(WildcardMatch("\x81\x41", "\x81\x41"));
}

}  // namespace

TEST(SafeNames, RefuseEverythingThatCouldLeaveTheFolderOrOpenADevice) {
  for (const char* bad : {"", ".", "..", "...", ". .", "a/b", "a\\b", "c:", "x:y", "CON", "con.txt", "NUL",
                          "com1", "LPT9.log", "AUX .txt", "a|b", "a?b", "a*b", "tab\tname", "q\"uote"})
    EXPECT_FALSE(plat::IsSafeName(bad)) << '"' << bad << '"';
  // "\xF7\x7C" and "\x81\x7C" are two-byte characters whose second byte is "|".
  for (const char* good : {"a", "readme.txt", ".hidden", "a.b.c", "CONSOLE", "com10", "\xB1\x5C.txt", "x y",
                           "\xF7\x7C.tga", "\x81\x7C"})
    EXPECT_TRUE(plat::IsSafeName(good)) << '"' << good << '"';
}
