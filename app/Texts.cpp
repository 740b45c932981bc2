#include "app/Texts.h"

#include <cstdarg>
#include <cstdio>

namespace texts {

namespace {
struct Entry {
  int id;
  const char* text;
};
constexpr Entry kTable[] = {
#define QV_STRING(id, name, text) {id, text},
#include "res/strings.inc"
#undef QV_STRING
};
}  // namespace

const char* Load(int id) {
  for (const Entry& e : kTable)
    if (e.id == id) return e.text;
  return "";
}

std::string Format(int id, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, id);
  int n = vsnprintf(buf, sizeof buf, Load(id), ap);
  va_end(ap);
  if (n < 0) return {};
  return std::string(buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
}

}  // namespace texts
