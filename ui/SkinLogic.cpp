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

std::string ClampVersion(const std::string& value, size_t maxBytes) {
  size_t end = 0;
  while (end < value.size()) {
    const auto lead = static_cast<unsigned char>(value[end]);
    const size_t step = (lead >= 0x81 && lead <= 0xFE && end + 1 < value.size()) ? 2 : 1;
    if (end + step > maxBytes) break;
    end += step;
  }
  return value.substr(0, end);
}

}  // namespace skin
