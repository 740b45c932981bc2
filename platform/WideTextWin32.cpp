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
  int n = WideCharToMultiByte(kGameCodePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  BOOL defaulted = FALSE;
  n = WideCharToMultiByte(kGameCodePage, 0, text.data(), size, out.data(), n, nullptr, &defaulted);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (lossless) *lossless = n > 0 && !defaulted;
  return out;
}

}  // namespace plat
