#include "app/RunLog.h"

#include <cstdio>
#include <string>
#include <vector>

#include "io/FileStream.h"
#include "platform/Platform.h"

void AppendLogLineV(const char* file, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return;
  std::vector<char> text(size_t(n) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  // The logs have always been written in text mode on Windows; writing CR LF by hand
  // gives the same bytes on every platform.
  std::string out;
  out.reserve(size_t(n) + 8);
  for (int i = 0; i < n; ++i) {
    if (text[size_t(i)] == '\n') out += '\r';
    out += text[size_t(i)];
  }
  out += "\r\n";
  UniqueFile f(plat::OpenFile(file, "ab"));
  if (!f) return;
  std::fwrite(out.data(), 1, out.size(), f.get());
}

void AppendLogLine(const char* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendLogLineV(file, format, args);
  va_end(args);
}
