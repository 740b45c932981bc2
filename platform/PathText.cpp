// Separator and wildcard scanning that respects code page 936 two-byte characters.
#include "platform/PathText.h"

#include "platform/Platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace plat {

std::string ToSlashes(std::string_view path) {
  std::string out(path);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c) && i + 1 < out.size()) {
      ++i;  // the trail byte is part of the character, never a separator
    } else if (c == '\\') {
      out[i] = '/';
    }
  }
  return out;
}

std::vector<size_t> SeparatorPositions(std::string_view path) {
  std::vector<size_t> out;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c) && i + 1 < path.size())
      ++i;
    else if (IsSeparator(path[i]))
      out.push_back(i);
  }
  return out;
}

size_t LastSeparator(std::string_view path) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c) && i + 1 < path.size()) {
      ++i;
    } else if (IsSeparator(path[i])) {
      last = i;
    }
  }
  return last;
}

std::string ParentFolder(std::string_view path, bool keepRoot) {
  const size_t sep = LastSeparator(path);
  if (sep == std::string_view::npos) return {};
  if (keepRoot && (sep == 0 || path[sep - 1] == ':')) return std::string(path.substr(0, sep + 1));
  return std::string(path.substr(0, sep));
}

std::string ModuleFolder() { return ParentFolder(ModuleFileName()); }

bool MakeFolders(const std::string& folder) {
  FileInfo info;
  if (StatPath(folder, info)) return info.isDir;
  const size_t sep = LastSeparator(folder);
  if (sep != std::string::npos && sep > 0 && folder[sep - 1] != ':' && !MakeFolders(folder.substr(0, sep))) return false;
  return MakeDir(folder) || (StatPath(folder, info) && info.isDir);
}

int CopyTruncated(std::string_view text, char* out, int size) {
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  size_t whole = 0;
  while (whole < n) {
    size_t len = IsLeadByte(static_cast<unsigned char>(text[whole])) && whole + 1 < text.size() ? 2 : 1;
    if (whole + len > n) break;
    whole += len;
  }
  std::memcpy(out, text.data(), whole);
  out[whole] = '\0';
  return static_cast<int>(whole);
}

bool IsPosixCreatableName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (LastSeparator(name) != std::string_view::npos) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(c) && i + 1 < name.size())
      ++i;
    else if (c < 0x20 || c == 0x7F)
      return false;
  }
  return true;
}

bool IsSafeName(std::string_view name) {
  if (name.empty()) return false;
  if (name.find_first_not_of(". ") == std::string_view::npos) return false;
  if (LastSeparator(name) != std::string_view::npos) return false;
  if (name.find(':') != std::string_view::npos) return false;
  // Bytes no Windows file name may hold. The second byte of a two-byte character is
  // part of that character and may well be "|" (0x7C): "\xF7\x7C" is one character.
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c < 0x20 || std::strchr("<>\"|?*", c)) return false;
  }
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices)
    if (stem == d) return false;
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
      stem[3] >= '0' && stem[3] <= '9')
    return false;
  return true;
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

bool SplitShellDeletePath(std::string_view path, ShellDeleteParts& out) {
  std::string p = ToSlashes(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t sep = p.rfind('/');
  out.folder = sep == std::string::npos ? std::string() : p.substr(0, sep + 1);
  out.last = sep == std::string::npos ? p : p.substr(sep + 1);
  out.open = sep == std::string::npos ? "." : (sep == 0 ? "/" : p.substr(0, sep));
  out.pattern = HasWildcards(out.last);
  out.slashed = std::move(p);
  return !(out.last.empty() || out.last == "." || out.last == "..");
}

namespace {

size_t CharLen(std::string_view s, size_t i) {
  return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

bool SameChar(std::string_view p, size_t pi, std::string_view n, size_t ni, size_t len) {
  if (len == 1)
    return std::toupper(static_cast<unsigned char>(p[pi])) ==
           std::toupper(static_cast<unsigned char>(n[ni]));
  return p.compare(pi, len, n, ni, len) == 0;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;  // the shell's "every file", dot or not
  // Iterative matcher with one backtrack point for the last "*": linear in practice and
  // never recursive, so a hostile pattern cannot exhaust the stack.
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      size_t pl = CharLen(pattern, p), nl = CharLen(name, n);
      if (pattern[p] == '?' && pl == 1) {
        p += 1;
        n += nl;
        continue;
      }
      if (pl == nl && SameChar(pattern, p, name, n, pl)) {
        p += pl;
        n += nl;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP;
    starN += CharLen(name, starN);
    n = starN;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace plat
