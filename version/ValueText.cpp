// Field splitting and value conversions for the record parser.
#include "version/ValueText.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "platform/PathText.h"

namespace {

bool IsBlank(char c) { return IsTrimSpace(c) || c == '\v' || c == '\f'; }

// Length of the separator that starts at text[pos], 0 when none does.
size_t SeparatorAt(std::string_view text, size_t pos, std::string_view sep) {
  if (sep.empty()) return IsBlank(text[pos]) ? 1 : 0;
  if (sep[0] == '\x01') return sep.substr(1).find(text[pos]) != std::string_view::npos ? 1 : 0;
  return text.substr(pos).starts_with(sep) ? sep.size() : 0;
}

template <class T>
T* OutAs(const FieldOut& out) {
  auto* p = std::get_if<T*>(&out);
  return p ? *p : nullptr;
}

// Stores one field by its letter; false when the output cannot take it.
bool StoreField(char letter, std::string_view field, const FieldOut& out) {
  switch (letter) {
    case 's':
    case 'a':
      if (auto* p = OutAs<std::string>(out)) return p->assign(field), true;
      return false;
    case 'd':
      if (auto* p = OutAs<int32_t>(out)) return *p = EvalInt(field), true;
      return false;
    case 't':
      if (auto* p = OutAs<int32_t>(out)) return *p = ParseDateTime(field), true;
      return false;
    case 'o':
      if (auto* p = OutAs<int16_t>(out)) return *p = static_cast<int16_t>(EvalInt(field)), true;
      return false;
    case 'y':
      if (auto* p = OutAs<int8_t>(out)) return *p = static_cast<int8_t>(EvalInt(field)), true;
      return false;
    case 'f':
      if (auto* p = OutAs<float>(out)) return *p = static_cast<float>(std::strtod(std::string(field).c_str(), nullptr)), true;
      return false;
    case 'b':
      if (auto* p = OutAs<bool>(out)) return *p = ParseBool(field), true;
      return false;
    default:
      return false;
  }
}

int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// A number with an optional sign: hexadecimal keeps its low 32 bits, decimal is clamped.
int32_t EvalNumber(std::string_view t) {
  t = TrimView(t);
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  int64_t value = 0;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    uint32_t v = 0;
    for (char c : t.substr(2)) {
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) break;
      v = v << 4 | uint32_t(d);
    }
    return Wrap(negative ? -int64_t(int32_t(v)) : int32_t(v));
  }
  constexpr int64_t kLimit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
  for (char c : t) {
    if (c < '0' || c > '9') break;
    value = std::min(value * 10 + (c - '0'), kLimit);
  }
  return negative ? int32_t(-value) : int32_t(std::min(value, kLimit - 1));
}

// Position of the rightmost binary operator among `ops`, npos when none. An operator
// with no operand before it (at the start, or right after another operator) is a sign.
size_t FindBinary(std::string_view t, std::string_view ops) {
  for (size_t i = t.size(); i-- > 0;) {
    if (ops.find(t[i]) == std::string_view::npos) continue;
    size_t j = i;
    while (j > 0 && IsBlank(t[j - 1])) --j;
    if (j > 0 && std::string_view("+-*/").find(t[j - 1]) == std::string_view::npos) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsTrimSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimSpace(text.back())) text.remove_suffix(1);
  return text;
}

size_t TrimSpace(std::string& text) {
  std::string_view kept = TrimView(text);
  text = std::string(kept);
  return text.size();
}

int32_t EvalInt(std::string_view text) {
  // Left to right within a level, so "10-2-3" is 5 and "8/4/2" is 1.
  size_t at = FindBinary(text, "+-");
  if (at == std::string_view::npos) at = FindBinary(text, "*/");
  if (at == std::string_view::npos) return EvalNumber(text);
  int64_t left = EvalInt(text.substr(0, at)), right = EvalInt(text.substr(at + 1));
  switch (text[at]) {
    case '+': return Wrap(left + right);
    case '-': return Wrap(left - right);
    case '*': return Wrap(left * right);
    default: return right == 0 ? 0 : Wrap(left / right);
  }
}

bool ParseBool(std::string_view text) {
  for (int i = 0; i < 64 && !text.empty() && IsBlank(text.front()); ++i) text.remove_prefix(1);
  if (text.empty()) return false;
  if (text.size() >= 4) {
    std::string head(text.substr(0, 4));
    for (char& c : head)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (head == "true") return true;
  }
  return text[0] == '1' || text[0] == 'Y' || text[0] == 'y';
}

int32_t ParseDateTime(std::string_view text) {
  std::string date, time;
  ScanFields("sa", text, " ", {&date, &time});
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  ScanFields("ddd", date, "-", {&year, &month, &day});
  ScanFields("ddd", time, ":", {&hour, &minute, &second});
  if (year == 0 && month == 0) return 0;
  // A year or month near the bottom of the 32-bit range does not fit the fields of
  // std::tm once shifted; no such date is a 32-bit time anyway.
  if (int64_t(year) - 1900 < std::numeric_limits<int>::min() || int64_t(month) - 1 < std::numeric_limits<int>::min())
    return -1;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  std::time_t seconds = std::mktime(&parts);
  if (seconds < std::numeric_limits<int32_t>::min() || seconds > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(seconds);
}

int ScanFields(std::string_view format, std::string_view text, std::string_view separator,
               std::initializer_list<FieldOut> out) {
  size_t scanLength = text.size();
  while (scanLength > 0 && IsTrimSpace(text[scanLength - 1])) --scanLength;
  if (scanLength == 0) return 0;

  int count = 0;
  const FieldOut* next = out.begin();
  // Stores one field; false ends the scan.
  auto store = [&](char letter, std::string_view field) {
    if (letter == '*') return true;
    if (next == out.end() || !StoreField(letter, TrimView(field), *next)) return false;
    ++next;
    ++count;
    return true;
  };
  auto skipBlanks = [&](size_t pos) {
    if (separator.empty())
      while (pos < scanLength && IsBlank(text[pos])) ++pos;
    return pos;
  };

  size_t start = skipBlanks(0);
  for (char letter : format) {
    if (letter == 'a') {
      store(letter, text.substr(start));
      return count;
    }
    size_t end = start, sepLength = 0;
    while (end < scanLength && (sepLength = SeparatorAt(text, end, separator)) == 0)
      end += plat::IsLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
    if (end >= scanLength) {  // no separator left: the rest is the last field
      store(letter, text.substr(start));
      return count;
    }
    if (!store(letter, text.substr(start, end - start))) return count;
    size_t after = end + sepLength;
    if (after >= scanLength) return count;
    start = skipBlanks(after);
  }
  return count;
}
