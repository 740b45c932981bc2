// Reading a value from an INI file the way Windows' GetPrivateProfileString does, byte for
// byte and without a code page: the POSIX side has no such call, and the Win32 side needs
// it where the system's call would read the file's bytes in a code page other than 936.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// The value of section/key in the text of an INI file, or `def` (trailing blanks dropped)
// when there is none, copied into out[size] as GetPrivateProfileString copies it: cut on
// a character boundary, surrounding quotes taken off. Returns the bytes copied.
int ProfileValueFromText(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view def, char* out, int size);

// The same for the file at `path`; a file that cannot be read holds no values.
int ReadProfileFile(const std::string& section, const std::string& key, const std::string& def,
                    char* out, int size, const std::string& path);

}  // namespace plat
