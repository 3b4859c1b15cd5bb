#include "ui/desktop_entries.h"

#include <QFileInfo>
#include <QStandardPaths>

#include "platform/desktop/desktop_entry.h"

namespace dunelo {

namespace {

std::string lower(const std::string& s) {
  return QString::fromStdString(s).toLower().toStdString();
}

QString stampOf(const QString& dir) {
  const QFileInfo info(dir);
  if (!info.exists()) return QStringLiteral("-");
  return QString::number(info.lastModified().toMSecsSinceEpoch());
}

}  // namespace

DesktopEntries::DesktopEntries(ApplicationAliases* aliases)
    : DesktopEntries(QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation),
                     aliases) {}

DesktopEntries::DesktopEntries(QStringList applicationDirs, ApplicationAliases* aliases,
                               DesktopEntryLocale locale)
    : dirs_(std::move(applicationDirs)), aliases_(aliases), locale_(std::move(locale)) {}

void DesktopEntries::refreshIfStale() const {
  QStringList stamps;
  for (const QString& d : dirs_) stamps << stampOf(d);
  if (stamps == stamps_) return;
  stamps_ = stamps;
  scan();
}

void DesktopEntries::scan() const {
  byId_.clear();
  lowerId_.clear();
  byWMClass_.clear();
  std::vector<std::string> dirs;
  for (const QString& dir : dirs_) dirs.push_back(dir.toStdString());
  DesktopEntryScan scan{std::move(dirs), locale_, "[Apps] desktop entry", &reported_};
  scan.run([this](const std::string& id, DesktopEntryKeys&& entry) {
    if (!entry.isApplication) return;
    byId_.emplace(id, InstalledApp{entry.name.empty() ? id : entry.name, entry.icon});
    lowerId_.emplace(lower(id), id);
    if (!entry.startupWMClass.empty()) byWMClass_.emplace(lower(entry.startupWMClass), id);
  });
}

std::optional<std::string> DesktopEntries::aliasOf(const std::string& bundleID) const {
  return aliases_ ? aliases_->resolve(bundleID) : std::nullopt;
}

std::optional<InstalledApp> DesktopEntries::find(const std::string& bundleID) const {
  if (auto alias = aliasOf(bundleID))
    if (auto app = findInstalled(*alias)) return app;
  return findInstalled(bundleID);
}

std::optional<InstalledApp> DesktopEntries::findInstalled(const std::string& bundleID) const {
  if (bundleID.empty()) return std::nullopt;
  refreshIfStale();
  if (auto it = byId_.find(bundleID); it != byId_.end()) return it->second;
  const std::string wanted = lower(bundleID);
  if (auto it = lowerId_.find(wanted); it != lowerId_.end()) return byId_.at(it->second);
  if (auto it = byWMClass_.find(wanted); it != byWMClass_.end()) return byId_.at(it->second);
  return std::nullopt;
}

}  // namespace dunelo
