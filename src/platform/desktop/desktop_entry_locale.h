// Translated keys of desktop entries ("Name[de]=Dateien") for the user's language.
//
// The languages are those of LANGUAGE (a colon-separated list), else of LC_ALL, LC_MESSAGES or
// LANG, the first of them that is set, as GLib reads them; "C" and "POSIX" mean no translation.
// Each language is tried as lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER and lang (the
// encoding dropped), in that order, before the untranslated value.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunelo {

class DesktopEntryLocale {
 public:
  static constexpr size_t kUntranslated = std::numeric_limits<size_t>::max();

  // From this process's environment.
  static DesktopEntryLocale fromEnvironment();
  // From `getenv` (tests); null means unset.
  explicit DesktopEntryLocale(const std::function<const char*(const char*)>& getenv);

  // The locale names tried, best first.
  const std::vector<std::string>& names() const { return names_; }

  // How well `key` ("Name", "Name[de_DE]") serves as the key `base` ("Name"): lower is better,
  // kUntranslated for the untranslated key; none when it is another key or another language.
  std::optional<size_t> rank(std::string_view key, std::string_view base) const;

 private:
  std::vector<std::string> names_;
};

// The best value of one key among the lines of an entry.
class LocalizedValue {
 public:
  LocalizedValue(const DesktopEntryLocale& locale, std::string base)
      : locale_(locale), base_(std::move(base)) {}
  // Keeps `value` when `key` is this key in a better language than the value kept so far.
  void offer(std::string_view key, std::string_view value);
  const std::string& value() const { return value_; }

 private:
  const DesktopEntryLocale& locale_;
  std::string base_;
  std::optional<size_t> rank_;
  std::string value_;
};

}  // namespace dunelo
