#include "platform/ProfileText.h"

#include <cctype>
#include <cstdio>

#include "platform/PathText.h"
#include "platform/Platform.h"

namespace plat {

namespace {

// Compares ASCII letters without case but two-byte characters byte for byte: their
// trail byte may fall in the range of the ASCII letters.
bool SameTextNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (IsLeadByte(ca) && i + 1 < a.size()) {
      if (ca != cb || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (std::tolower(ca) != std::tolower(cb)) {
      return false;
    }
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Finds the value of section/key in the text of an INI file, as Windows reads it: the
// first section of that name is searched, the first matching key wins, lines without
// "=" and comment lines are ignored.
bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view& value) {
  bool inSection = false, seenSection = false;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = TrimBlanks(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == 0 || close == std::string_view::npos) continue;
      if (seenSection) return false;
      inSection = SameTextNoCase(TrimBlanks(line.substr(1, close - 1)), section);
      seenSection = inSection;
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos) continue;
    if (SameTextNoCase(TrimBlanks(line.substr(0, eq)), key)) {
      value = TrimBlanks(line.substr(eq + 1));
      return true;
    }
  }
  return false;
}

}  // namespace

int ProfileValueFromText(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view def, char* out, int size) {
  if (!out || size <= 0) return 0;
  std::string_view value;
  if (!FindProfileValue(text, section, key, value)) {
    // Windows drops trailing spaces of the default.
    value = def;
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    return CopyTruncated(value, out, size);
  }
  // Surrounding quotes, single or double, are taken off as Windows does.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return CopyTruncated(value, out, size);
}

int ReadProfileFile(const std::string& section, const std::string& key, const std::string& def,
                    char* out, int size, const std::string& path) {
  if (!out || size <= 0) return 0;
  std::string text;
  if (FILE* f = OpenFile(path, "rb")) {
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    CloseFile(f);
  }
  return ProfileValueFromText(text, section, key, def, out, size);
}

}  // namespace plat
