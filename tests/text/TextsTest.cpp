// The Chinese texts reach the program as code page 936 bytes.
#include <gtest/gtest.h>

#include <string>

#include "app/Texts.h"

TEST(Texts, StringTableTextIsGbk) {
  // "更新" in code page 936
  EXPECT_EQ(std::string(texts::Load(107)), std::string("\xB8\xFC\xD0\xC2"));
  EXPECT_EQ(std::string(texts::Load(102)),
            std::string("\xCE\xC4\xBC\xFE\xB8\xFC\xD0\xC2\xBD\xF8\xB6\xC8\xA3\xBA%d/%d"));
}

TEST(Texts, QuotedLogTextIsGbk) {
  const std::string log = "找到所需文件: mb.dat!";
  EXPECT_EQ(log, std::string("\xD5\xD2\xB5\xBD\xCB\xF9\xD0\xE8\xCE\xC4\xBC\xFE: mb.dat!"));
}

TEST(Texts, TableCoversEveryIdAndFormats) {
  for (int id = texts::kFirstId; id <= texts::kLastId; ++id)
    EXPECT_STRNE(texts::Load(id), "") << "string " << id;
  EXPECT_STREQ(texts::Load(100), "");
  EXPECT_EQ(texts::Format(102, 2, 3), std::string(texts::Load(127)).replace(14, 3, "2/3"));
}
