// Tests of the skinned interface's portable decisions: colour shading, the image a
// button shows, the row scan that cuts the window outline, and the version line cut.
#include <gtest/gtest.h>

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

}  // namespace
