#include "platform/desktop/desktop_entry_locale.h"

#include <algorithm>
#include <cstdlib>

namespace dunelo {
namespace {

// "de_DE.UTF-8@euro" -> de_DE@euro, de_DE, de@euro, de.
void addVariants(std::string_view locale, std::vector<std::string>& out) {
  std::string_view modifier;
  if (const size_t at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at);
    locale = locale.substr(0, at);
  }
  if (const size_t dot = locale.find('.'); dot != std::string_view::npos)
    locale = locale.substr(0, dot);
  std::string_view lang = locale, country;
  if (const size_t us = locale.find('_'); us != std::string_view::npos) {
    lang = locale.substr(0, us);
    country = locale.substr(us);
  }
  if (lang.empty() || lang == "C" || lang == "POSIX") return;
  auto add = [&](std::string name) {
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
  };
  const std::string base(lang);
  if (!country.empty() && !modifier.empty())
    add(base + std::string(country) + std::string(modifier));
  if (!country.empty()) add(base + std::string(country));
  if (!modifier.empty()) add(base + std::string(modifier));
  add(base);
}

}  // namespace

DesktopEntryLocale DesktopEntryLocale::fromEnvironment() {
  return DesktopEntryLocale([](const char* name) { return std::getenv(name); });
}

DesktopEntryLocale::DesktopEntryLocale(const std::function<const char*(const char*)>& getenv) {
  for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(variable);
    if (!value || !*value) continue;
    std::string_view list(value);
    for (size_t start = 0; start <= list.size();) {
      size_t end = list.find(':', start);
      if (end == std::string_view::npos) end = list.size();
      addVariants(list.substr(start, end - start), names_);
      start = end + 1;
    }
    break;
  }
}

std::optional<size_t> DesktopEntryLocale::rank(std::string_view key, std::string_view base) const {
  if (!key.starts_with(base)) return std::nullopt;
  const std::string_view rest = key.substr(base.size());
  if (rest.empty()) return kUntranslated;
  if (rest.size() < 3 || rest.front() != '[' || rest.back() != ']') return std::nullopt;
  const std::string_view locale = rest.substr(1, rest.size() - 2);
  const auto it = std::find(names_.begin(), names_.end(), locale);
  if (it == names_.end()) return std::nullopt;
  return static_cast<size_t>(it - names_.begin());
}

void LocalizedValue::offer(std::string_view key, std::string_view value) {
  const auto rank = locale_.rank(key, base_);
  if (!rank || (rank_ && *rank_ <= *rank)) return;
  rank_ = rank;
  value_ = std::string(value);
}

}  // namespace dunelo
