#include "settings/color_archive.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <string_view>

namespace dunelo {
namespace {

constexpr int kVersion = 1;

const char* spaceName(ColorSpace space) {
  switch (space) {
    case ColorSpace::deviceRGB:
      return "deviceRGB";
    case ColorSpace::sRGB:
      return "sRGB";
    case ColorSpace::gray:
      return "gray";
    case ColorSpace::pattern:
      return nullptr;
  }
  return nullptr;
}

std::optional<ColorSpace> spaceFromName(std::string_view name) {
  if (name == "deviceRGB") return ColorSpace::deviceRGB;
  if (name == "sRGB") return ColorSpace::sRGB;
  if (name == "gray") return ColorSpace::gray;
  return std::nullopt;
}

}  // namespace

std::optional<DefaultsData> archiveColor(const Color& color) {
  const char* space = spaceName(color.space);
  if (!space) return std::nullopt;
  nlohmann::json components = nlohmann::json::array();
  if (color.space == ColorSpace::gray) {
    components = {color.red, color.alpha};
  } else {
    components = {color.red, color.green, color.blue, color.alpha};
  }
  for (const auto& c : components)
    if (!std::isfinite(c.get<double>())) return std::nullopt;
  const nlohmann::json doc = {
      {"kind", "color"}, {"version", kVersion}, {"space", space}, {"components", components}};
  const std::string text = doc.dump();
  return DefaultsData(text.begin(), text.end());
}

std::optional<Color> unarchiveColor(const DefaultsData& data) {
  const auto doc = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
  if (!doc.is_object()) return std::nullopt;
  const auto kind = doc.find("kind");
  const auto version = doc.find("version");
  const auto spaceIt = doc.find("space");
  const auto comps = doc.find("components");
  if (kind == doc.end() || version == doc.end() || spaceIt == doc.end() || comps == doc.end())
    return std::nullopt;
  if (*kind != "color" || !version->is_number_integer() || *version != kVersion ||
      !spaceIt->is_string() || !comps->is_array())
    return std::nullopt;
  const auto space = spaceFromName(spaceIt->get_ref<const std::string&>());
  if (!space) return std::nullopt;
  const size_t expected = *space == ColorSpace::gray ? 2 : 4;
  if (comps->size() != expected) return std::nullopt;
  double c[4] = {};
  for (size_t i = 0; i < expected; ++i) {
    const auto& v = (*comps)[i];
    if (!v.is_number()) return std::nullopt;
    c[i] = v.get<double>();
    if (!std::isfinite(c[i])) return std::nullopt;
  }
  if (*space == ColorSpace::gray) return Color::grayscale(c[0], c[1]);
  return Color{c[0], c[1], c[2], c[3], *space};
}

}  // namespace dunelo
