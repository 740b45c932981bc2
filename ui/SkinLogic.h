// The decisions of the skinned interface that need no window system: colour shading,
// which image a button shows, the transparent runs of a background row and the length
// of the version line. Both builds compile this file so that Linux can test it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace skin {

// A colour in the Win32 COLORREF layout: 0x00BBGGRR.
using Color = uint32_t;
inline constexpr Color kMagenta = 0xFF00FF;

constexpr Color MakeColor(int r, int g, int b) {
  return static_cast<Color>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int Red(Color c) { return static_cast<int>(c & 0xFF); }
constexpr int Green(Color c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int Blue(Color c) { return static_cast<int>((c >> 16) & 0xFF); }

// Results of the button's colour operations.
enum : int { kBtnOk = 0, kBtnInvalidIndex = 3, kBtnBadParam = 5 };
// The six colour slots: background and text for hot, normal and focused.
inline constexpr int kColorSlots = 6;

// Lightens (shade > 0) or darkens (shade < 0) `color` by the same amount in red, green
// and blue, the amount shrunk so that no part leaves 0..255. Returns kBtnBadParam for a
// shade outside -255..255 and leaves `color` alone then.
int OffsetColor(Color& color, int shade);

// Which of a button's two images a drawing shows.
enum class ButtonImage { None, Hot, Normal };
struct ButtonState {
  bool pressed = false;   // selected, or the drop-down is open
  bool hot = false;       // the mouse is over the button
  bool checkBox = false;  // the button acts as a check box
  bool hasHot = false;    // an image is loaded for the hot state
  bool hasNormal = false; // a separate image is loaded for the normal state
};
ButtonImage ChooseImage(const ButtonState& state);

// A horizontal run of pixels [x, x + length).
struct Run {
  int x = 0;
  int length = 0;
  bool operator==(const Run&) const = default;
};
// Scans one row of `width` pixels of which the first `count` come from the bitmap
// (pixels beyond the bitmap are never transparent). Returns the runs that are NOT the
// key colour, i.e. what the window keeps of the row.
std::vector<Run> OpaqueRuns(const Color* pixels, int count, int width, Color key = kMagenta);
// The complementary runs: those of the key colour, which the window loses.
std::vector<Run> KeyRuns(const Color* pixels, int count, int width, Color key = kMagenta);

// The version value as the version line shows it: at most `maxBytes` bytes, cut before
// a code page 936 character that would not fit whole.
std::string ClampVersion(const std::string& value, size_t maxBytes = 19);

}  // namespace skin
