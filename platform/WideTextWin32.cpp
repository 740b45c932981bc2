// Conversion between code page 936 and UTF-16 with the system's own tables, the same that
// a Chinese Windows uses for its ANSI calls.
#include "platform/WideText.h"

#include "platform/WindowsApi.h"

namespace plat {

namespace {
constexpr UINT kGameCodePage = 936;
}

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  int n = MultiByteToWideChar(kGameCodePage, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(kGameCodePage, 0, text.data(), size, out.data(), n);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::string Narrow(std::wstring_view text, bool* lossless) {
  if (lossless) *lossless = true;
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  int n = WideCharToMultiByte(kGameCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  BOOL defaulted = FALSE;
  n = WideCharToMultiByte(kGameCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, out.data(), n, nullptr, &defaulted);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (lossless) *lossless = n > 0 && !defaulted;
  return out;
}

namespace {

// The short form of an existing path, "" when there is none.
std::wstring ShortPath(const std::wstring& path) {
  std::wstring buf(MAX_PATH, L'\0');
  DWORD n = GetShortPathNameW(path.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
  if (n >= buf.size()) {
    buf.resize(n);
    n = GetShortPathNameW(path.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
  }
  if (n == 0 || n >= buf.size()) return {};
  buf.resize(n);
  return buf;
}

}  // namespace

std::string NarrowPath(const std::wstring& path) {
  bool lossless = true;
  std::string narrow = Narrow(path, &lossless);
  if (lossless) return narrow;
  std::wstring shortPath = ShortPath(path);
  if (shortPath.empty()) {
    // A file still to be made: its folder's short form, then the name as given.
    const size_t sep = path.find_last_of(L"\\/");
    if (sep == std::wstring::npos || sep == 0) return narrow;
    const std::wstring folder = ShortPath(path.substr(0, sep));
    if (folder.empty()) return narrow;
    shortPath = folder + path.substr(sep);
  }
  std::string alternative = Narrow(shortPath, &lossless);
  return lossless ? alternative : narrow;
}

}  // namespace plat
