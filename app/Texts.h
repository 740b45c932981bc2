// The string table as code page 936 bytes. Every source file is compiled with
// -fexec-charset=GB18030 (GBK bytes for every GBK character), so the UTF-8 literals of res/strings.inc (and every quoted log
// text in the code) reach the program as the bytes a Chinese Windows shows.
#pragma once

#include <string>

namespace texts {

// The ids of the string table, by the names that res/strings.inc gives them.
enum Id : int {
#define QV_STRING(id, name, text) name = id,
#include "res/strings.inc"
#undef QV_STRING
};

inline constexpr int kFirstId = kTextAbout;
inline constexpr int kLastId = kTextWhyMismatch;

// The text of string `id`, or "" for an id outside the table.
const char* Load(int id);

// printf-style formatting of a table text ("文件更新进度：%d/%d" and the like).
std::string Format(int id, ...);

}  // namespace texts
