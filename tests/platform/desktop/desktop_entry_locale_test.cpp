#include "platform/desktop/desktop_entry_locale.h"

#include <gtest/gtest.h>

#include <map>

namespace dunelo {
namespace {

DesktopEntryLocale localeOf(std::map<std::string, std::string> env) {
  return DesktopEntryLocale([env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

using Names = std::vector<std::string>;

TEST(DesktopEntryLocale, LanguagesComeFromTheFirstVariableSetEachWithItsFallbacks) {
  const std::pair<std::map<std::string, std::string>, Names> cases[] = {
      {{{"LANG", "de_DE.UTF-8@euro"}}, {"de_DE@euro", "de_DE", "de@euro", "de"}},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "sr_RS@latin"}},
       {"sr_RS@latin", "sr_RS", "sr@latin", "sr"}},
      {{{"LC_ALL", "pt_BR"}, {"LC_MESSAGES", "fr_FR"}}, {"pt_BR", "pt"}},
      {{{"LANGUAGE", "de_AT:de:en_GB"}, {"LANG", "fr_FR"}}, {"de_AT", "de", "en_GB", "en"}},
      {{{"LANGUAGE", ""}, {"LANG", "nb"}}, {"nb"}},
      {{{"LANG", "C.UTF-8"}}, {}},
      {{{"LANG", "POSIX"}}, {}},
      {{}, {}},
  };
  for (const auto& [env, names] : cases) EXPECT_EQ(localeOf(env).names(), names);
}

TEST(DesktopEntryLocale, TheBestTranslationWinsWhateverTheOrderOfTheLines) {
  const DesktopEntryLocale locale = localeOf({{"LANG", "de_AT.UTF-8"}});
  using Lines = std::vector<std::pair<std::string, std::string>>;
  const std::pair<Lines, std::string> cases[] = {
      {{{"Name", "Files"}, {"Name[de]", "Dateien"}, {"Name[de_AT]", "Dateien (AT)"}},
       "Dateien (AT)"},
      {{{"Name[de_AT]", "Dateien (AT)"}, {"Name[de]", "Dateien"}, {"Name", "Files"}},
       "Dateien (AT)"},
      {{{"Name[fr]", "Fichiers"}, {"Name", "Files"}}, "Files"},
      {{{"Name[de_DE]", "Dateien (DE)"}, {"Name", "Files"}}, "Files"},
      {{{"GenericName[de]", "Dateiverwaltung"}, {"Name", "Files"}, {"Name[de", "broken"}}, "Files"},
      {{{"Name[]", "empty"}, {"NameX[de]", "other key"}}, ""},
  };
  for (const auto& [lines, expected] : cases) {
    LocalizedValue name(locale, "Name");
    for (const auto& [key, value] : lines) name.offer(key, value);
    EXPECT_EQ(name.value(), expected);
  }
}

}  // namespace
}  // namespace dunelo
