// Code page 936 <-> the locale's character set, for the POSIX platform file.
//
// The code page is read once from the C library's iconv into a table of code points
// (one for each byte 0x80 and each two-byte code), so that a name converts by table
// look-ups, the same on every thread. glibc's CP936 leaves out the user-defined areas
// that Windows maps to the private use area; those are taken from its GB18030, which
// maps them the same way, and only where the result is such a private character (for a
// hundred codes GB18030 has other characters, which Windows does not give them).
// The locale's side is written by hand for UTF-8 and goes through iconv otherwise.
#include "platform/Charset.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/PathText.h"

namespace plat::charset {

namespace {

// ---- the code page ----

struct Cp936Table {
  // Code point of byte 0x80 at [0x80], of the two-byte code (lead, trail) at
  // [lead * 256 + trail]; 0 where the code page has no character.
  std::vector<char32_t> decode = std::vector<char32_t>(65536, 0);
  // (code point, code) sorted by code point, for the way back.
  std::vector<std::pair<char32_t, uint16_t>> encode;
};

// One character through an iconv descriptor into UTF-32; 0 when it does not convert.
char32_t DecodeOne(iconv_t cd, const unsigned char* bytes, size_t length) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[2] = {char(bytes[0]), length > 1 ? char(bytes[1]) : '\0'};
  char* src = in;
  size_t srcLeft = length;
  uint32_t out[2] = {};
  char* dst = reinterpret_cast<char*>(out);
  size_t dstLeft = sizeof out;
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1) || srcLeft != 0 || dstLeft != sizeof out - 4) return 0;
  return out[0];
}

bool IsPrivateUse(char32_t c) { return c >= 0xE000 && c <= 0xF8FF; }

const Cp936Table& Table() {
  static std::unique_ptr<Cp936Table> table;
  static std::once_flag once;
  std::call_once(once, [] {
    auto t = std::make_unique<Cp936Table>();
    iconv_t cp = iconv_open("UTF-32LE", "CP936");
    iconv_t gb = iconv_open("UTF-32LE", "GB18030");
    const unsigned char euro = 0x80;
    t->decode[0x80] = DecodeOne(cp, &euro, 1);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const unsigned char code[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
        char32_t c = DecodeOne(cp, code, 2);
        if (c == 0) {
          c = DecodeOne(gb, code, 2);
          if (!IsPrivateUse(c)) c = 0;
        }
        t->decode[lead * 256 + trail] = c;
      }
    }
    if (cp != reinterpret_cast<iconv_t>(-1)) iconv_close(cp);
    if (gb != reinterpret_cast<iconv_t>(-1)) iconv_close(gb);
    for (uint32_t code = 0x80; code < 65536; ++code)
      if (t->decode[code] != 0) t->encode.emplace_back(t->decode[code], uint16_t(code));
    // Where two codes give one character, the first (lower) code is the one written.
    std::stable_sort(t->encode.begin(), t->encode.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    table = std::move(t);
  });
  return *table;
}

// Appends the code page 936 bytes of `c`; false when the code page lacks it.
bool EncodeCp936(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += char(c);
    return true;
  }
  const auto& enc = Table().encode;
  auto it = std::lower_bound(enc.begin(), enc.end(), c, [](const auto& e, char32_t v) { return e.first < v; });
  if (it == enc.end() || it->first != c) return false;
  if (it->second < 0x100) {
    out += char(it->second);
  } else {
    out += char(it->second >> 8);
    out += char(it->second & 0xFF);
  }
  return true;
}

// Splits code page 936 text into code points; false at a byte sequence that is none.
bool DecodeCp936(std::string_view text, std::u32string& out) {
  const auto& dec = Table().decode;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += char32_t(c);
      continue;
    }
    char32_t cp = 0;
    if (IsLeadByte(c) && i + 1 < text.size()) {
      cp = dec[c * 256 + static_cast<unsigned char>(text[i + 1])];
      ++i;
    } else if (c == 0x80) {
      cp = dec[0x80];
    }
    if (cp == 0) return false;
    out += cp;
  }
  return true;
}

// ---- the locale's side ----

std::string DetectCharset() {
  std::string name;
  if (locale_t loc = newlocale(LC_CTYPE_MASK, "", locale_t(nullptr))) {
    if (const char* set = nl_langinfo_l(CODESET, loc)) name = set;
    freelocale(loc);
  }
  std::string upper = name;
  for (char& ch : upper)
    if (ch >= 'a' && ch <= 'z') ch = char(ch - 32);
  // The C and POSIX locales name ASCII; their files are UTF-8 all the same.
  if (upper.empty() || upper == "ANSI_X3.4-1968" || upper == "ASCII" || upper == "US-ASCII" || upper == "UTF8")
    return "UTF-8";
  return upper == "UTF-8" ? "UTF-8" : name;
}

bool IsUtf8() { return SystemCharset() == "UTF-8"; }

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// One UTF-8 character at `i` (strict: no overlong forms, surrogates or values past
// U+10FFFF); its length, or 0 when the bytes are none.
size_t NextUtf8(std::string_view s, size_t i, char32_t& c) {
  const unsigned char b = static_cast<unsigned char>(s[i]);
  size_t n;
  char32_t min;
  if (b < 0x80) {
    c = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    n = 2, c = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, c = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, c = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

// Whole text through iconv; false when any of it does not convert.
bool IconvAll(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string buf(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = buf.data();
  size_t dstLeft = buf.size();
  bool ok = true;
  while (srcLeft > 0 && ok) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    const size_t used = size_t(dst - buf.data());
    buf.resize(buf.size() * 2);
    dst = buf.data() + used;
    dstLeft = buf.size() - used;
  }
  iconv_close(cd);
  if (ok) out.assign(buf.data(), size_t(dst - buf.data()));
  return ok;
}

// Code points in the locale's set; false when it lacks one.
bool EncodeSystem(const std::u32string& text, std::string& out) {
  out.clear();
  if (IsUtf8()) {
    for (char32_t c : text) AppendUtf8(c, out);
    return true;
  }
  std::string wide(reinterpret_cast<const char*>(text.data()), text.size() * 4);
  return IconvAll(SystemCharset().c_str(), "UTF-32LE", wide, out);
}

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

const std::string& SystemCharset() {
  static const std::string name = DetectCharset();
  return name;
}

bool ToSystem(std::string_view cp936, std::string& out) {
  if (IsAscii(cp936)) {
    out.assign(cp936);
    return true;
  }
  std::u32string points;
  return DecodeCp936(cp936, points) && EncodeSystem(points, out);
}

std::string FromSystem(std::string_view text, bool* exact) {
  if (IsAscii(text)) return std::string(text);
  std::string out;
  bool allExact = true;
  if (IsUtf8()) {
    for (size_t i = 0; i < text.size();) {
      char32_t c = 0;
      const size_t n = NextUtf8(text, i, c);
      if (n == 0) {
        // Not UTF-8 at all: each such byte stands for itself as one unknown character.
        out += kUnmappable;
        allExact = false;
        ++i;
        continue;
      }
      if (!EncodeCp936(c, out)) {
        out += kUnmappable;
        allExact = false;
      }
      i += n;
    }
  } else {
    std::string wide;
    if (!IconvAll("UTF-32LE", SystemCharset().c_str(), text, wide)) {
      // Character by character would need the set's own rules for its lengths; a name
      // that does not convert whole is simply not one this program can use.
      out.assign(1, kUnmappable);
      allExact = false;
    } else {
      for (size_t i = 0; i + 4 <= wide.size(); i += 4) {
        char32_t c;
        std::memcpy(&c, wide.data() + i, 4);
        if (!EncodeCp936(c, out)) {
          out += kUnmappable;
          allExact = false;
        }
      }
    }
  }
  if (!allExact && exact) *exact = false;
  return out;
}

std::string ForDisplay(std::string_view cp936) {
  std::string out;
  if (ToSystem(cp936, out)) return out;
  // Character by character, so that one bad byte costs one '?', not the whole text.
  out.clear();
  for (size_t i = 0; i < cp936.size();) {
    const size_t n = IsLeadByte(static_cast<unsigned char>(cp936[i])) && i + 1 < cp936.size() ? 2 : 1;
    std::string piece;
    out += ToSystem(cp936.substr(i, n), piece) ? piece : "?";
    i += n;
  }
  return out;
}

}  // namespace plat::charset
