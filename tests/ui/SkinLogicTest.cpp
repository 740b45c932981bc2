// Tests of the skinned interface's portable decisions: colour shading, the button type
// read at attachment, the image a button shows, the row scan that cuts the window
// outline, the version line and link cuts, and which links a click may open.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "ui/SkinLogic.h"

namespace {

using skin::Color;
using skin::kMagenta;
using skin::MakeColor;
using Runs = std::vector<skin::Run>;

constexpr Color kInk = MakeColor(10, 20, 30);

TEST(OffsetColor, ShadeIsLimitedSoThatEveryPartStaysInRange) {
  Color c = MakeColor(250, 200, 100);
  EXPECT_EQ(skin::OffsetColor(c, 30), skin::kBtnOk);
  EXPECT_EQ(c, MakeColor(255, 205, 105));

  c = MakeColor(40, 5, 200);
  EXPECT_EQ(skin::OffsetColor(c, -30), skin::kBtnOk);
  EXPECT_EQ(c, MakeColor(35, 0, 195));

  c = MakeColor(100, 100, 100);
  EXPECT_EQ(skin::OffsetColor(c, -255), skin::kBtnOk);
  EXPECT_EQ(c, MakeColor(0, 0, 0));
  EXPECT_EQ(skin::OffsetColor(c, 255), skin::kBtnOk);
  EXPECT_EQ(c, MakeColor(255, 255, 255));
}

TEST(OffsetColor, RefusesAShadeOutOfRangeAndKeepsTheColour) {
  Color c = MakeColor(1, 2, 3);
  EXPECT_EQ(skin::OffsetColor(c, 256), skin::kBtnBadParam);
  EXPECT_EQ(skin::OffsetColor(c, -256), skin::kBtnBadParam);
  EXPECT_EQ(c, MakeColor(1, 2, 3));
}

TEST(OffsetColor, ButtonSlotIsCheckedBeforeTheShadeAndOnlyThatSlotChanges) {
  const Color start[skin::kColorSlots] = {MakeColor(250, 200, 100), kInk, kInk, kInk, kInk, kInk};
  Color colors[skin::kColorSlots];
  auto reset = [&] { std::copy(std::begin(start), std::end(start), colors); };
  auto unchanged = [&] { return std::equal(std::begin(start), std::end(start), colors); };

  reset();
  EXPECT_EQ(skin::OffsetColor(colors, 6, 10), skin::kBtnInvalidIndex);
  EXPECT_EQ(skin::OffsetColor(colors, -1, 10), skin::kBtnInvalidIndex);
  EXPECT_EQ(skin::OffsetColor(colors, 6, 256), skin::kBtnInvalidIndex);
  EXPECT_EQ(skin::OffsetColor(colors, 0, 256), skin::kBtnBadParam);
  EXPECT_TRUE(unchanged());

  EXPECT_EQ(skin::OffsetColor(colors, 0, 30), skin::kBtnOk);
  EXPECT_EQ(colors[0], MakeColor(255, 205, 105));
  for (int i = 1; i < skin::kColorSlots; ++i) EXPECT_EQ(colors[i], kInk) << i;
  EXPECT_EQ(skin::OffsetColor(colors, 5, -30), skin::kBtnOk);
  EXPECT_EQ(colors[5], MakeColor(0, 10, 20));
}

TEST(ButtonType, OnlyTheCheckBoxTypesMakeACheckBox) {
  // BS_CHECKBOX, BS_AUTOCHECKBOX, BS_3STATE, BS_AUTO3STATE; flags above the type bits
  // (BS_LEFTTEXT 0x20, BS_PUSHLIKE 0x1000) do not matter.
  for (unsigned type : {0x2u, 0x3u, 0x5u, 0x6u, 0x23u, 0x1005u}) EXPECT_TRUE(skin::IsCheckBoxType(type)) << type;
  // Push buttons, radio buttons, group box (7), push box (10), owner-drawn (11) and
  // split buttons (12, 14): several carry the bit 0x2 without being check boxes.
  for (unsigned type : {0x0u, 0x1u, 0x4u, 0x7u, 0x8u, 0x9u, 0xAu, 0xBu, 0xCu, 0xEu}) {
    EXPECT_FALSE(skin::IsCheckBoxType(type)) << type;
  }
}

TEST(ChooseImage, PushButtonLightsWhenHotOrPressed) {
  skin::ButtonState s{.hasHot = true, .hasNormal = true};
  EXPECT_EQ(skin::ChooseImage(s), skin::ButtonImage::Normal);
  s.hot = true;
  EXPECT_EQ(skin::ChooseImage(s), skin::ButtonImage::Hot);
  s.hot = false;
  s.pressed = true;
  EXPECT_EQ(skin::ChooseImage(s), skin::ButtonImage::Hot);
}

TEST(ChooseImage, CheckBoxLightsOnlyWhenPressed) {
  skin::ButtonState s{.hot = true, .checkBox = true, .hasHot = true, .hasNormal = true};
  EXPECT_EQ(skin::ChooseImage(s), skin::ButtonImage::Normal);
  s.pressed = true;
  EXPECT_EQ(skin::ChooseImage(s), skin::ButtonImage::Hot);
}

TEST(ChooseImage, CheckedCheckBoxAndOpenDropDownShowTheHotImage) {
  auto shown = [](bool selected, bool checked, bool menuShown, bool checkBox) {
    skin::ButtonState s{.checkBox = checkBox, .hasHot = true, .hasNormal = true};
    s.pressed = skin::IsDrawnPressed(selected, checked, menuShown, checkBox);
    return skin::ChooseImage(s);
  };
  // Check box: held down or checked lights it; the checked state of a push button and a
  // drop-down flag on a check box do not.
  EXPECT_EQ(shown(false, true, false, true), skin::ButtonImage::Hot);
  EXPECT_EQ(shown(true, false, false, true), skin::ButtonImage::Hot);
  EXPECT_EQ(shown(false, false, true, true), skin::ButtonImage::Normal);
  // Push button: held down or with its drop-down open.
  EXPECT_EQ(shown(false, false, true, false), skin::ButtonImage::Hot);
  EXPECT_EQ(shown(false, true, false, false), skin::ButtonImage::Normal);
}

TEST(ChooseImage, WithoutANormalImageTheHotOneIsAlwaysShown) {
  EXPECT_EQ(skin::ChooseImage({.hasHot = true}), skin::ButtonImage::Hot);
  EXPECT_EQ(skin::ChooseImage({}), skin::ButtonImage::None);
}

TEST(RowScan, RowWithoutKeyIsKeptWhole) {
  std::vector<Color> row(588, kInk);
  EXPECT_EQ(skin::OpaqueRuns(row.data(), 588, 588), (Runs{{0, 588}}));
  EXPECT_TRUE(skin::KeyRuns(row.data(), 588, 588).empty());
}

TEST(RowScan, RowOfKeyFromEndToEndIsOneRun) {
  std::vector<Color> row(588, kMagenta);
  EXPECT_TRUE(skin::OpaqueRuns(row.data(), 588, 588).empty());
  EXPECT_EQ(skin::KeyRuns(row.data(), 588, 588), (Runs{{0, 588}}));
}

TEST(RowScan, RunsAtBothEndsAndInsideAreFound) {
  // key key ink ink key ink key key
  std::vector<Color> row = {kMagenta, kMagenta, kInk, kInk, kMagenta, kInk, kMagenta, kMagenta};
  EXPECT_EQ(skin::KeyRuns(row.data(), 8, 8), (Runs{{0, 2}, {4, 1}, {6, 2}}));
  EXPECT_EQ(skin::OpaqueRuns(row.data(), 8, 8), (Runs{{2, 2}, {5, 1}}));
}

TEST(RowScan, AlphaByteDoesNotHideTheKey) {
  std::vector<Color> row = {0xFF000000u | kMagenta, kInk};
  EXPECT_EQ(skin::KeyRuns(row.data(), 2, 2), (Runs{{0, 1}}));
}

TEST(RowScan, PixelsBeyondTheBitmapAreKept) {
  std::vector<Color> row = {kInk, kMagenta, kMagenta};
  EXPECT_EQ(skin::OpaqueRuns(row.data(), 3, 6), (Runs{{0, 1}, {3, 3}}));
  EXPECT_EQ(skin::OpaqueRuns(nullptr, 0, 4), (Runs{{0, 4}}));
  std::vector<Color> ink = {kInk, kInk};
  EXPECT_EQ(skin::OpaqueRuns(ink.data(), 2, 5), (Runs{{0, 5}}));
}

TEST(ClampVersion, KeepsAtMostNineteenBytes) {
  EXPECT_EQ(skin::ClampVersion("1.0.3"), "1.0.3");
  EXPECT_EQ(skin::ClampVersion("12345678901234567890123"), "1234567890123456789");
  EXPECT_EQ(skin::ClampVersion(""), "");
}

TEST(ClampVersion, NeverCutsADoubleByteCharacter) {
  // 18 ASCII bytes and then a two-byte character: the character does not fit whole.
  const std::string value = std::string(18, '1') + "\xB0\xE6" + "x";
  EXPECT_EQ(skin::ClampVersion(value), std::string(18, '1'));
  const std::string fits = std::string(17, '1') + "\xB0\xE6" + "x";
  EXPECT_EQ(skin::ClampVersion(fits), fits.substr(0, 19));
  // A lead byte at the very end has no trail byte; it counts as one byte.
  EXPECT_EQ(skin::ClampVersion("1.0\x81"), "1.0\x81");
}

TEST(LinkAddress, KeepsAtMost259BytesAndNoHalfCharacter) {
  const std::string longAscii = "http://example.com/" + std::string(400, 'a');
  EXPECT_EQ(skin::ClampText(longAscii, skin::kMaxLinkBytes), longAscii.substr(0, 259));
  // A two-byte character across the limit is left out whole.
  const std::string straddling = std::string(258, 'a') + "\xB0\xE6";
  EXPECT_EQ(skin::ClampText(straddling, skin::kMaxLinkBytes), std::string(258, 'a'));
  EXPECT_EQ(skin::ClampText("", skin::kMaxLinkBytes), "");
}

TEST(LinkAddress, OnlyWebAddressesAreOpened) {
  for (const char* ok : {"http://www.quorvane.example/", "HTTPS://quorvane.example/news?a=1&b=2",
                         "www.quorvane.example", "mailto:support@quorvane.example", "ftp://files.example/x",
                         "http://quorvane.example/\xB8\xFC\xD0\xC2"}) {
    EXPECT_TRUE(skin::IsWebAddress(ok)) << ok;
  }
  for (const char* bad : {"", "http://", "www.", "C:\\Windows\\System32\\cmd.exe", "calc.exe", "file:///C:/x.bat",
                          "\\\\server\\share\\run.exe", "javascript:alert(1)", "http://a.example/ --new-window",
                          "http://a.example/\" --x", "http://a.example/\tx", " http://a.example/"}) {
    EXPECT_FALSE(skin::IsWebAddress(bad)) << bad;
  }
}

}  // namespace
