// The text-to-value conversions of the record parser: splitting a line into fields and
// turning field texts into numbers, flags and times. Text is code page 936; every
// scan steps over a two-byte character whole, so a trail byte never passes for a
// separator.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

// True for the bytes that every trim removes: space, tab, CR, LF.
inline bool IsTrimSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without spaces, tabs, CR and LF at both ends.
std::string_view TrimView(std::string_view text);
// Trims `text` in place; returns its new length.
size_t TrimSpace(std::string& text);

// Integer expression: "+" and "-" bind loosest, then "*" and "/", all left to right;
// "0x" starts a hexadecimal number; an empty operand is 0 (so "-5" is 0 - 5); division
// by 0 gives 0. Arithmetic wraps at 32 bits; a decimal number beyond the 32-bit range
// is clamped to it, a hexadecimal one keeps its low 32 bits ("0xFFFFFFFF" is -1).
int32_t EvalInt(std::string_view text);
// True when the text (after at most 64 leading white-space characters) begins with
// "true" in any case, or with 1, Y or y.
bool ParseBool(std::string_view text);
// "Y-M-D h:m:s" as local time, seconds since 1970; 0 when year and month are both 0;
// -1 when the time cannot be represented in 32 bits.
int32_t ParseDateTime(std::string_view text);

// One output of ScanFields. The letter decides which alternative it must hold:
// s, a: string; d, t: int32_t; o: int16_t; y: int8_t; f: float; b: bool.
using FieldOut = std::variant<std::nullptr_t, std::string*, int32_t*, int16_t*, int8_t*, float*, bool*>;

// Separator that matches any one of `chars` (instead of the whole string).
inline std::string AnyOf(std::string_view chars) { return "\x01" + std::string(chars); }

// Splits `text` at `separator` into the fields that `format` names, one letter each:
// s text up to the separator, a all the rest, d int32, o int16, y int8, f float,
// b bool, t date-time, * skip a field (takes no output). An empty separator matches any
// white space (and blanks before a field are skipped); one that begins with "\x01"
// matches any one of the bytes after it (see AnyOf); any other matches as a whole.
// A null output, an output of the wrong type or an unknown letter ends the scan at that
// field. Returns the number of fields stored.
int ScanFields(std::string_view format, std::string_view text, std::string_view separator,
               std::initializer_list<FieldOut> out);
