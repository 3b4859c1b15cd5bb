// Desktop entries (freedesktop.org .desktop files) as Dunelo reads them: the keys it needs from
// the [Desktop Entry] group, and the walk over the "applications" directories that gives every
// desktop id its one entry.
//
// The directories come in precedence order: the first entry of an id wins, and a Hidden one (the
// user's way of deleting an installed entry) hides the id in the later directories too. A desktop
// id is the path below "applications/" without ".desktop", its '/' turned into '-'. Entries are
// files anyone may have put there: only regular files of a sane size are read, and any other is
// skipped with one log line for the life of the caller's `reported` set.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/desktop_entry_locale.h"

namespace dunelo {

struct DesktopEntryKeys {
  bool isApplication = false;  // Type=Application
  bool hidden = false;         // Hidden=true
  std::string name;            // Name, in the locale's language where the entry has it
  std::string icon;
  std::string startupWMClass;
};

// The keys of `text`'s [Desktop Entry] group; none when it has no such group.
std::optional<DesktopEntryKeys> parseDesktopEntry(std::string_view text,
                                                  const DesktopEntryLocale& locale);

struct DesktopEntryScan {
  // Real desktop entries are a few kilobytes; larger files are skipped.
  static constexpr uint64_t kMaxEntryBytes = 1024 * 1024;

  std::vector<std::string> applicationDirs;  // precedence order
  const DesktopEntryLocale& locale;
  std::string logWhat;  // a skipped file's log line: "<logWhat> <path> <problem>; skipped"
  std::set<std::string>* reported;  // paths already logged
  uint64_t filesRead = 0;           // files opened by this scan

  // Calls `visit` with each id's winning entry, unless it is hidden.
  void run(const std::function<void(const std::string& id, DesktopEntryKeys&& entry)>& visit);
};

}  // namespace dunelo
