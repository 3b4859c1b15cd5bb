// The identity of an X client as desktop shells see it: the id of its desktop file.
//
// Settings and exclusions name applications by identity, and a Linux user expects the same names
// the application menu and the dock use. Shells find the desktop file of a window from
// _GTK_APPLICATION_ID, then from WM_CLASS (instance, then class) matched against each file's
// StartupWMClass and then against the file names themselves; this index does the same over the
// XDG data directories. The identity is the desktop-file id without ".desktop"
// ("org.gnome.Nautilus", "firefox-esr"); a client that matches nothing is known by its WM_CLASS
// class.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/desktop/desktop_entry_locale.h"

namespace dunelo::x11 {

struct DesktopEntry {
  std::string id;    // desktop-file id without ".desktop"
  std::string name;  // Name=, in the user's language where the entry has it, for display
  std::string startupWMClass;
};

class DesktopFileIndex {
 public:
  // `dataDirs` in precedence order (the first holding an id wins); each is searched under
  // "applications/". Names are read in `locale`'s language.
  explicit DesktopFileIndex(std::vector<std::string> dataDirs,
                            DesktopEntryLocale locale = DesktopEntryLocale::fromEnvironment());
  // $XDG_DATA_HOME (or ~/.local/share), then $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
  static std::vector<std::string> defaultDataDirs();
  // The directories a scan reads: "applications" under each data directory.
  const std::vector<std::string>& applicationDirs() const { return appDirs_; }

  // What tells the index to read its directories again: asked at every lookup, it answers
  // whether anything in them changed since it was last asked (a directory watcher). Without
  // one, a missed lookup re-reads them at most every few seconds.
  void setRescanTrigger(std::function<bool()> changedSinceLastAsked);

  // The desktop entry for a window's hints, or none.
  std::optional<DesktopEntry> lookup(const std::optional<std::string>& gtkApplicationID,
                                     const std::string& wmInstance, const std::string& wmClass);

  // Re-reads the directories.
  void rescan();
  // Files opened by all scans so far.
  uint64_t filesRead() const { return filesRead_; }

 private:
  std::optional<DesktopEntry> find(const std::optional<std::string>& gtkApplicationID,
                                   const std::string& wmInstance, const std::string& wmClass) const;

  std::vector<std::string> appDirs_;
  DesktopEntryLocale locale_;
  std::function<bool()> changed_;
  std::set<std::string> reported_;  // unusable files already logged
  uint64_t filesRead_ = 0;
  std::map<std::string, DesktopEntry> byID_;      // exact ids
  std::map<std::string, std::string> lowerID_;    // lower-cased id -> id
  std::map<std::string, std::string> byWMClass_;  // StartupWMClass -> id
  std::chrono::steady_clock::time_point lastScan_{};
};

}  // namespace dunelo::x11
