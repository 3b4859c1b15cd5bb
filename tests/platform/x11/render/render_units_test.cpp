// The renderer's decisions that need no X server: the desktop's light or dark preference from
// XSETTINGS, and the two materials.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/x11/render/blur_material.h"
#include "platform/x11/render/damage_pieces.h"
#include "platform/x11/render/desktop_appearance.h"
#include "platform/x11/render/dual_filter_blur.h"
#include "platform/x11/render/xsettings_blob.h"

namespace dunelo::x11 {
namespace {

using testing::XSettingsBlob;

TEST(DesktopAppearance, ReadsTheThemePreferenceFromXSettings) {
  struct Case {
    const char* what;
    std::vector<uint8_t> blob;
    Appearance expected;
  };
  const std::vector<Case> cases = {
      {"dark theme name", XSettingsBlob(false).addString("Net/ThemeName", "Adwaita-dark").bytes(),
       Appearance::dark},
      {"dark theme, big-endian, after other settings",
       XSettingsBlob(true)
           .addInt("Xft/DPI", 98304)
           .addColor("Gtk/Color")
           .addString("Net/IconThemeName", "Dark-Icons")
           .addString("Net/ThemeName", "Arc-Dark")
           .bytes(),
       Appearance::dark},
      {"light theme name", XSettingsBlob(false).addString("Net/ThemeName", "Adwaita").bytes(),
       Appearance::light},
      {"prefer-dark switch beats a light theme",
       XSettingsBlob(false)
           .addInt("Gtk/ApplicationPreferDarkTheme", 1)
           .addString("Net/ThemeName", "Adwaita")
           .bytes(),
       Appearance::dark},
      {"no theme at all", XSettingsBlob(false).addInt("Xft/DPI", 98304).bytes(),
       Appearance::unknown},
      {"empty", {}, Appearance::unknown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(appearanceFromXSettings(c.blob), c.expected) << c.what;
  }
}

TEST(DesktopAppearance, MalformedBlobsAreUnknownNotACrash) {
  std::vector<uint8_t> good =
      XSettingsBlob(false).addString("Net/ThemeName", "Adwaita-dark").bytes();
  // Every truncation, and a count that promises more settings than there are.
  for (size_t n = 0; n < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
    EXPECT_EQ(appearanceFromXSettings(cut), Appearance::unknown) << n;
  }
  std::vector<uint8_t> lying = good;
  lying[8] = 200;
  EXPECT_EQ(appearanceFromXSettings(lying), Appearance::unknown);
  std::vector<uint8_t> hugeName = good;
  hugeName[14] = 0xff;  // name length 0xff0c
  hugeName[15] = 0xff;
  EXPECT_EQ(appearanceFromXSettings(hugeName), Appearance::unknown);
}

double luminance(const Color& c) {
  return 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue;
}

// How dark the veil makes a mid-grey backdrop.
double veiled(const MaterialLook& look) {
  return luminance(look.veil) * look.veil.alpha + 0.5 * (1 - look.veil.alpha);
}

TEST(BlurMaterials, DeepIsAFrostedVeilAndAmbientADarkerLighterTouch) {
  for (Appearance appearance : {Appearance::unknown, Appearance::light, Appearance::dark}) {
    SCOPED_TRACE(static_cast<int>(appearance));
    const MaterialLook deep = materialLook(BlurMaterial::deep, appearance);
    const MaterialLook ambient = materialLook(BlurMaterial::ambient, appearance);
    // Both blur far enough (a spread of 32 pixels or more) that text behind is unreadable.
    EXPECT_GE(ambient.blurLevels, 4);
    EXPECT_GT(deep.blurLevels, ambient.blurLevels);
    EXPECT_LT(veiled(ambient), veiled(deep));
    EXPECT_LT(veiled(ambient), 0.5);
  }
  EXPECT_EQ(materialLook(BlurMaterial::deep, Appearance::unknown),
            materialLook(BlurMaterial::deep, Appearance::light));
  EXPECT_LT(veiled(materialLook(BlurMaterial::deep, Appearance::dark)),
            veiled(materialLook(BlurMaterial::deep, Appearance::light)));
  EXPECT_GT(veiled(materialLook(BlurMaterial::deep, Appearance::light)), 0.5);

  // The reach is kept in points: one halving more per doubling of the scale, to the nearest.
  for (const auto& [scale, extra] : {std::pair{2.0, 1},
                                     {1.5, 1},
                                     {1.25, 0},
                                     {3.0, 2},
                                     {4.0, 2},
                                     {0.5, -1},
                                     {0.0, 0},
                                     {std::nan(""), 0}}) {
    SCOPED_TRACE(scale);
    EXPECT_EQ(materialLook(BlurMaterial::ambient, Appearance::light, scale).blurLevels, 4 + extra);
  }
  EXPECT_LE(materialLook(BlurMaterial::deep, Appearance::dark, 4).blurLevels,
            DualFilterBlur::kMaxLevels);
}

TEST(DamagePieces, NearChangesMergeFarOnesStaySeparateAndTheCountIsCapped) {
  struct Case {
    const char* what;
    std::vector<Box> added;
    std::vector<Box> expected;
  };
  const std::vector<Case> cases = {
      {"far apart", {{0, 0, 10, 10}, {100, 100, 110, 110}}, {{0, 0, 10, 10}, {100, 100, 110, 110}}},
      {"closer than the distance", {{0, 0, 10, 10}, {25, 0, 35, 10}}, {{0, 0, 35, 10}}},
      {"a bridge joins two pieces",
       {{0, 0, 10, 10}, {50, 0, 60, 10}, {25, 0, 35, 10}},
       {{0, 0, 60, 10}}},
      {"empty boxes add nothing", {{5, 5, 5, 9}, {}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DamagePieces pieces;
    pieces.setMergeDistance(20);
    for (const Box& b : c.added) pieces.add(b);
    EXPECT_EQ(pieces.boxes(), c.expected);
  }

  // A ninth far piece merges the two that cost least to join; nothing is lost.
  DamagePieces pieces;
  pieces.setMergeDistance(20);
  for (int i = 0; i < 8; ++i) pieces.add(Box::ofSize(i * 1000, 0, 10, 10));
  pieces.add(Box::ofSize(7000, 100, 10, 10));  // closest to the piece at x = 7000
  ASSERT_EQ(pieces.boxes().size(), DamagePieces::kMaxPieces);
  EXPECT_EQ(pieces.bounds(), (Box{0, 0, 7010, 110}));
  EXPECT_NE(std::find(pieces.boxes().begin(), pieces.boxes().end(), Box{7000, 0, 7010, 110}),
            pieces.boxes().end());
}

}  // namespace
}  // namespace dunelo::x11
