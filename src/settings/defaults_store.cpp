#include "settings/defaults_store.h"

#include <cmath>
#include <limits>

namespace dunelo {

std::optional<double> DefaultsValue::asNumber() const {
  if (const auto* i = getIf<int64_t>()) return static_cast<double>(*i);
  if (const auto* d = getIf<double>()) return *d;
  return std::nullopt;
}

bool DefaultsStore::boolForKey(std::string_view key) const {
  const auto v = objectForKey(key);
  if (!v) return false;
  if (const auto* b = v->getIf<bool>()) return *b;
  if (const auto n = v->asNumber()) return *n != 0.0;
  return false;
}

double DefaultsStore::doubleForKey(std::string_view key) const {
  const auto v = objectForKey(key);
  if (!v) return 0.0;
  if (const auto* b = v->getIf<bool>()) return *b ? 1.0 : 0.0;
  return v->asNumber().value_or(0.0);
}

int64_t DefaultsStore::integerForKey(std::string_view key) const {
  const auto v = objectForKey(key);
  if (!v) return 0;
  if (const auto* b = v->getIf<bool>()) return *b ? 1 : 0;
  if (const auto* i = v->getIf<int64_t>()) return *i;
  if (const auto* d = v->getIf<double>()) {
    if (std::isnan(*d)) return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (*d >= kLimit) return std::numeric_limits<int64_t>::max();
    if (*d < -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(*d);
  }
  return 0;
}

std::optional<std::string> DefaultsStore::stringForKey(std::string_view key) const {
  auto v = objectForKey(key);
  if (!v || !v->is<std::string>()) return std::nullopt;
  return std::get<std::string>(std::move(v->value));
}

std::optional<DefaultsArray> DefaultsStore::arrayForKey(std::string_view key) const {
  auto v = objectForKey(key);
  if (!v || !v->is<DefaultsArray>()) return std::nullopt;
  return std::get<DefaultsArray>(std::move(v->value));
}

std::optional<DefaultsData> DefaultsStore::dataForKey(std::string_view key) const {
  auto v = objectForKey(key);
  if (!v || !v->is<DefaultsData>()) return std::nullopt;
  return std::get<DefaultsData>(std::move(v->value));
}

}  // namespace dunelo
