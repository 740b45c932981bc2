// Inside the POSIX platform file only: file names between code page 936, which the
// whole program speaks, and the character set of the system's locale, in which a Linux
// disk, terminal and command line hold them (UTF-8 in practice; UTF-8 too where the
// locale is C or POSIX, as current tools take it). Windows converts at its own edge.
#pragma once

#include <string>
#include <string_view>

namespace plat::charset {

// The byte that stands for a character that code page 936 lacks, or for bytes that are
// no character, in text that came from the system. 0xFF is no character of code page
// 936 and never the first byte of one, so it cannot swallow a separator, and a name
// holding it can never be turned back into a name on the disk: nothing opens, creates
// or deletes a file under a name that was garbled on its way in.
inline constexpr char kUnmappable = '\xFF';

// Code page 936 text in the system's character set. False (and `out` undefined) when a
// byte sequence is not a character of code page 936, or the system's set lacks one.
bool ToSystem(std::string_view cp936, std::string& out);

// Text in the system's character set as code page 936. A character the code page lacks,
// or bytes that are not valid in the system's set, become kUnmappable; `exact` is then
// set false (it is left alone otherwise).
std::string FromSystem(std::string_view text, bool* exact = nullptr);

// Code page 936 text for a terminal: like ToSystem, but what cannot be converted shows
// as '?' instead of failing.
std::string ForDisplay(std::string_view cp936);

// The name of the system's character set as used here ("UTF-8", "GB18030", ...).
const std::string& SystemCharset();

}  // namespace plat::charset
