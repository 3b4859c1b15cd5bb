// The two enumerations of the settings, persisted by their raw values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dunelo {

enum class BlurMode : uint8_t { deep, ambient };
enum class ShakeSensitivity : uint8_t { low, medium, high };

// All cases in declared order (the order the pickers list them in).
inline constexpr std::array<BlurMode, 2> kAllBlurModes{BlurMode::deep, BlurMode::ambient};
inline constexpr std::array<ShakeSensitivity, 3> kAllShakeSensitivities{
    ShakeSensitivity::low, ShakeSensitivity::medium, ShakeSensitivity::high};

constexpr std::string_view rawValue(BlurMode mode) {
  return mode == BlurMode::deep ? "deep" : "ambient";
}
constexpr std::string_view rawValue(ShakeSensitivity s) {
  switch (s) {
    case ShakeSensitivity::low:
      return "low";
    case ShakeSensitivity::medium:
      return "medium";
    case ShakeSensitivity::high:
      return "high";
  }
  return "medium";
}

// Exact, case-sensitive matches of the raw values; anything else is none.
constexpr std::optional<BlurMode> blurModeFromRaw(std::string_view raw) {
  for (BlurMode m : kAllBlurModes)
    if (rawValue(m) == raw) return m;
  return std::nullopt;
}
constexpr std::optional<ShakeSensitivity> shakeSensitivityFromRaw(std::string_view raw) {
  for (ShakeSensitivity s : kAllShakeSensitivities)
    if (rawValue(s) == raw) return s;
  return std::nullopt;
}

}  // namespace dunelo
