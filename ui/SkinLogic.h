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
// The same for slot `slot` of a button's six colours: kBtnInvalidIndex for a slot outside
// 0..5 (checked first), kBtnBadParam for a bad shade; nothing changes on a refusal.
int OffsetColor(Color (&colors)[kColorSlots], int slot, int shade);

// Button types, the low bits of a button's style (the BS_* values of Win32).
inline constexpr unsigned kTypeMask = 0xF;
inline constexpr unsigned kTypeDefPushButton = 0x1;
// True for the check-box types (BS_CHECKBOX, BS_AUTOCHECKBOX, BS_3STATE, BS_AUTO3STATE).
// Testing a single bit instead would also take group boxes and owner-drawn buttons for
// check boxes and miss the three-state ones.
bool IsCheckBoxType(unsigned type);

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
// Whether a drawing shows the button pushed in: selected (held down) or with its
// drop-down open; a check box also while it is checked.
bool IsDrawnPressed(bool selected, bool checked, bool menuShown, bool checkBox);

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

// At most `maxBytes` bytes of `value`, cut before a code page 936 character that would
// not fit whole.
std::string ClampText(const std::string& value, size_t maxBytes);
// The version value as the version line shows it: at most 19 bytes.
std::string ClampVersion(const std::string& value, size_t maxBytes = 19);

// The longest link address a button keeps, in bytes.
inline constexpr size_t kMaxLinkBytes = 259;
// True for an address that the shell may open as a web page: it begins with "http://",
// "https://", "ftp://", "mailto:" or "www." (any case), and holds no spaces, control
// characters or quotes. A click then never starts a local program or hands the browser
// extra command-line arguments.
bool IsWebAddress(const std::string& address);

}  // namespace skin
