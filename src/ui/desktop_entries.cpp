#include "ui/desktop_entries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/debug_log.h"
#include "core/regular_file.h"

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

std::optional<InstalledApp> parseDesktopEntry(const QString& text, const QString& desktopId,
                                              const DesktopEntryLocale& locale,
                                              std::string* wmClass) {
  bool inMain = false;
  bool isApplication = false;
  bool hidden = false;
  LocalizedValue name(locale, "Name");
  QString icon, cls;
  for (const QString& raw : text.split(u'\n')) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(u'#')) continue;
    if (line.startsWith(u'[')) {
      inMain = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!inMain) continue;
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key == QLatin1String("Type"))
      isApplication = value == QLatin1String("Application");
    else if (key.startsWith(QLatin1String("Name")))
      name.offer(key.toStdString(), value.toStdString());
    else if (key == QLatin1String("Icon"))
      icon = value;
    else if (key == QLatin1String("StartupWMClass"))
      cls = value;
    else if (key == QLatin1String("Hidden"))
      hidden = value == QLatin1String("true");
  }
  if (!isApplication || hidden) return std::nullopt;
  if (wmClass) *wmClass = cls.toStdString();
  return InstalledApp{name.value().empty() ? desktopId.toStdString() : name.value(),
                      icon.toStdString()};
}

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
  for (const QString& dir : dirs_) {
    const QDir root(dir);
    QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      // Desktop ids of entries in subdirectories join the path parts with '-'.
      QString id = root.relativeFilePath(path);
      id.chop(int(sizeof(".desktop") - 1));
      id.replace(u'/', u'-');
      if (byId_.count(id.toStdString())) continue;  // an earlier directory wins
      // Only regular files of a sane size: a FIFO would hang the panel, /dev/zero fill memory.
      const RegularFileRead file = readRegularFile(path.toStdString(), kMaxEntryBytes);
      if (!file.ok()) {
        if (file.status != RegularFileRead::Status::missing && reported_.insert(path).second)
          debugLog("[Apps] desktop entry " + path.toStdString() + " " + file.problem() +
                   "; skipped");
        continue;
      }
      std::string cls;
      auto app = parseDesktopEntry(QString::fromUtf8(file.data), id, locale_, &cls);
      if (!app) continue;
      const std::string key = id.toStdString();
      byId_.emplace(key, Entry{std::move(*app)});
      lowerId_.emplace(lower(key), key);  // the first (by precedence) wins
      if (!cls.empty()) byWMClass_.emplace(lower(cls), key);
    }
  }
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
  if (auto it = byId_.find(bundleID); it != byId_.end()) return it->second.app;
  const std::string wanted = lower(bundleID);
  if (auto it = lowerId_.find(wanted); it != lowerId_.end()) return byId_.at(it->second).app;
  if (auto it = byWMClass_.find(wanted); it != byWMClass_.end()) return byId_.at(it->second).app;
  return std::nullopt;
}

}  // namespace dunelo
