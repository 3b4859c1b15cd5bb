#include "core/format.h"

#include <charconv>
#include <cmath>

namespace dunelo {

std::string formatDecimal(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  const double magnitude = std::fabs(value);
  const bool scientific = magnitude != 0 && (magnitude >= 1e16 || magnitude < 1e-4);
  char buffer[64];
  const auto format = scientific ? std::chars_format::scientific : std::chars_format::fixed;
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  if (!scientific && text.find('.') == std::string::npos) text += ".0";
  return text;
}

}  // namespace dunelo
