// Game texts and file names are code page 936 bytes everywhere in this program. Windows
// shows and stores them in UTF-16, so the Win32 side converts at the edge: to UTF-16 just
// before a wide call, and back to code page 936 for what a wide call returns. Going through
// the ANSI calls instead would read the bytes in the system's own code page, which garbles
// every Chinese text on a Western or Japanese Windows.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Code page 936 bytes as UTF-16. A byte sequence the code page has no character for
// becomes the system's default character, as the ANSI calls would make it.
std::wstring Wide(std::string_view text);

// UTF-16 as code page 936 bytes; a character the code page lacks becomes '?' (never a
// look-alike, which could name another file), and `lossless`, when given, is then set false.
std::string Narrow(std::wstring_view text, bool* lossless = nullptr);

// A path as code page 936 bytes that opens what `path` names. Where a folder or file name
// holds a character that the code page lacks (ñ, ø, ß, ...) its short (8.3) form, plain
// ASCII where the volume keeps short names, stands in for it; a last part that does not
// exist yet is kept as it is behind its folder's short form. Without a short form the
// result has '?' for such characters.
std::string NarrowPath(const std::wstring& path);

}  // namespace plat
