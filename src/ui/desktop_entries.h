// Installed applications as the desktop knows them: display names and icons for application
// identifiers, read from the freedesktop.org desktop entries.
//
// An identifier is matched, in this order, against the entry's desktop id (the file name without
// ".desktop"), the same ignoring case, and the entry's StartupWMClass ignoring case, because X11
// applications identify themselves by their window class while the desktop names them by file.
// An identifier that stands for another application here ("com.apple.finder" for the desktop's
// file manager) is that application. Names are in the user's language where the entry has it.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/application_aliases.h"
#include "platform/desktop/desktop_entry_locale.h"

namespace dunelo {

struct InstalledApp {
  std::string name;      // the entry's Name, translated; falls back to the desktop id
  std::string iconName;  // the entry's Icon: a theme name or an absolute path; may be empty
};

// What the views need to know about installed applications.
class ApplicationLookup {
 public:
  virtual ~ApplicationLookup() = default;
  // The installed application with this identifier, or none when nothing is installed for it.
  virtual std::optional<InstalledApp> find(const std::string& bundleID) const = 0;
  // The identity of the application `bundleID` stands for here; none when it stands for itself.
  virtual std::optional<std::string> aliasOf(const std::string&) const { return std::nullopt; }
};

class DesktopEntries final : public ApplicationLookup {
 public:
  // Reads the "applications" directories of the XDG data locations. `aliases` may be null.
  explicit DesktopEntries(ApplicationAliases* aliases = nullptr);
  // Reads the given directories, earlier ones taking precedence (tests).
  explicit DesktopEntries(QStringList applicationDirs, ApplicationAliases* aliases = nullptr,
                          DesktopEntryLocale locale = DesktopEntryLocale::fromEnvironment());

  std::optional<InstalledApp> find(const std::string& bundleID) const override;
  std::optional<std::string> aliasOf(const std::string& bundleID) const override;

 private:
  // Rescans when a directory changed since the last scan; the desktop installs and removes
  // applications while Dunelo runs, and the lists are rebuilt on every redraw anyway.
  void refreshIfStale() const;
  void scan() const;
  std::optional<InstalledApp> findInstalled(const std::string& bundleID) const;

  QStringList dirs_;
  ApplicationAliases* aliases_;
  DesktopEntryLocale locale_;
  mutable QStringList stamps_;
  mutable std::map<std::string, InstalledApp> byId_;      // desktop id -> entry
  mutable std::map<std::string, std::string> lowerId_;    // lower-cased id -> id
  mutable std::map<std::string, std::string> byWMClass_;  // lower-cased StartupWMClass -> id
  mutable std::set<std::string> reported_;                // unusable files already logged
};

}  // namespace dunelo
