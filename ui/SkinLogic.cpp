// The window-system-free decisions of the skinned interface.
#include "ui/SkinLogic.h"

#include <algorithm>

namespace skin {

int OffsetColor(Color& color, int shade) {
  if (shade < -255 || shade > 255) return kBtnBadParam;
  int r = Red(color), g = Green(color), b = Blue(color);
  if (shade > 0) {
    shade = std::min({shade, 255 - r, 255 - g, 255 - b});
  } else {
    shade = std::max({shade, -r, -g, -b});
  }
  color = MakeColor(r + shade, g + shade, b + shade);
  return kBtnOk;
}

int OffsetColor(Color (&colors)[kColorSlots], int slot, int shade) {
  if (slot < 0 || slot >= kColorSlots) return kBtnInvalidIndex;
  return OffsetColor(colors[slot], shade);
}

bool IsCheckBoxType(unsigned type) {
  switch (type & kTypeMask) {
    case 0x2:  // BS_CHECKBOX
    case 0x3:  // BS_AUTOCHECKBOX
    case 0x5:  // BS_3STATE
    case 0x6:  // BS_AUTO3STATE
      return true;
    default:
      return false;
  }
}

bool IsDrawnPressed(bool selected, bool checked, bool menuShown, bool checkBox) {
  return checkBox ? (selected || checked) : (selected || menuShown);
}

ButtonImage ChooseImage(const ButtonState& s) {
  if (!s.hasHot) return s.hasNormal ? ButtonImage::Normal : ButtonImage::None;
  // A check box lights up only while pressed or checked, a push button also when hot.
  const bool lit = s.checkBox ? s.pressed : (s.pressed || s.hot);
  if (lit || !s.hasNormal) return ButtonImage::Hot;
  return ButtonImage::Normal;
}

namespace {

std::vector<Run> Runs(const Color* pixels, int count, int width, Color key, bool wantKey) {
  std::vector<Run> runs;
  count = std::clamp(count, 0, std::max(width, 0));
  int x = 0;
  while (x < width) {
    const bool isKey = x < count && (pixels[x] & 0xFFFFFF) == key;
    int end = x + 1;
    if (x < count) {
      while (end < count && ((pixels[end] & 0xFFFFFF) == key) == isKey) ++end;
      if (end == count && !isKey) end = width;  // opaque up to the bitmap's end continues past it
    } else {
      end = width;
    }
    if (isKey == wantKey) runs.push_back({x, end - x});
    x = end;
  }
  return runs;
}

}  // namespace

std::vector<Run> OpaqueRuns(const Color* pixels, int count, int width, Color key) {
  return Runs(pixels, count, width, key, false);
}

std::vector<Run> KeyRuns(const Color* pixels, int count, int width, Color key) {
  return Runs(pixels, count, width, key, true);
}

std::string ClampText(const std::string& value, size_t maxBytes) {
  size_t end = 0;
  while (end < value.size()) {
    const auto lead = static_cast<unsigned char>(value[end]);
    const size_t step = (lead >= 0x81 && lead <= 0xFE && end + 1 < value.size()) ? 2 : 1;
    if (end + step > maxBytes) break;
    end += step;
  }
  return value.substr(0, end);
}

std::string ClampVersion(const std::string& value, size_t maxBytes) { return ClampText(value, maxBytes); }

bool IsWebAddress(const std::string& address) {
  static const char* const kPrefixes[] = {"http://", "https://", "ftp://", "mailto:", "www."};
  std::string lower = address;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  bool known = false;
  for (const char* prefix : kPrefixes) {
    const std::string p = prefix;
    if (lower.size() > p.size() && lower.compare(0, p.size(), p) == 0) known = true;
  }
  if (!known) return false;
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '"') return false;
  }
  return true;
}

}  // namespace skin
