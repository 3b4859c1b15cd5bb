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

namespace dunelo::x11 {
namespace {

// Builds an XSETTINGS blob in little- or big-endian order.
class XSettingsBlob {
 public:
  explicit XSettingsBlob(bool bigEndian) : big_(bigEndian) {
    bytes_ = {static_cast<uint8_t>(bigEndian ? 1 : 0), 0, 0, 0};
    u32(42);  // serial
    u32(0);   // count, patched by add*
  }
  XSettingsBlob& addString(const std::string& name, const std::string& value) {
    header(1, name);
    u32(static_cast<uint32_t>(value.size()));
    text(value);
    return bump();
  }
  XSettingsBlob& addInt(const std::string& name, uint32_t value) {
    header(0, name);
    u32(value);
    return bump();
  }
  XSettingsBlob& addColor(const std::string& name) {
    header(2, name);
    u32(0);
    u32(0);
    return bump();
  }
  std::vector<uint8_t> bytes() const { return bytes_; }

 private:
  void u16(uint32_t v) {
    if (big_) {
      bytes_.push_back(static_cast<uint8_t>(v >> 8));
      bytes_.push_back(static_cast<uint8_t>(v));
    } else {
      bytes_.push_back(static_cast<uint8_t>(v));
      bytes_.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = big_ ? 24 - 8 * i : 8 * i;
      bytes_.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  void text(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    while (bytes_.size() % 4) bytes_.push_back(0);
  }
  void header(uint8_t type, const std::string& name) {
    bytes_.push_back(type);
    bytes_.push_back(0);
    u16(static_cast<uint32_t>(name.size()));
    text(name);
    u32(1);  // last-change serial
  }
  XSettingsBlob& bump() {
    ++count_;
    for (int i = 0; i < 4; ++i) {
      const int shift = big_ ? 24 - 8 * i : 8 * i;
      bytes_[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(count_ >> shift);
    }
    return *this;
  }
  bool big_;
  uint32_t count_ = 0;
  std::vector<uint8_t> bytes_;
};

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
