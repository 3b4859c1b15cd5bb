// The application picker: the running regular applications that are not excluded yet, narrowed
// by a case-insensitive search of their names. Picking one excludes it and closes the picker.
//
// The list is computed from the live process list each time it is read; the desktop starts and
// stops applications while the picker is open.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/workspace.h"
#include "settings/settings_manager.h"
#include "ui/desktop_entries.h"

namespace dunelo {

// Regular applications with an identifier that is not in `excluded` (itself or through an alias
// `lookup` knows), sorted by name by character code (a missing name counts as empty).
std::vector<RunningApplication> availableApps(std::vector<RunningApplication> running,
                                              const std::set<std::string>& excluded,
                                              const ApplicationLookup& lookup);
// `apps` narrowed to those whose name contains `search` ignoring case; all when it is empty.
std::vector<RunningApplication> filteredApps(const std::vector<RunningApplication>& apps,
                                             const QString& search);
// What a row says: the name, else the identifier, else "Unknown".
QString pickerLabel(const RunningApplication& app);

class AppPickerModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
  Q_PROPERTY(QVariantList apps READ apps NOTIFY appsChanged)

 public:
  // `onDismiss` closes the sheet.
  AppPickerModel(SettingsManager& settings, Workspace& workspace, const ApplicationLookup& lookup,
                 std::function<void()> onDismiss, QObject* parent = nullptr);

  QString searchText() const { return searchText_; }
  void setSearchText(const QString& text);
  QVariantList apps() const;  // {bundleID, label, icon} per row of the filtered list

  // Starts a presentation: empty search, fresh list.
  void reset();
  // Excludes the application of the row (read from the list as it is now) and closes the sheet.
  Q_INVOKABLE void pick(const QString& bundleID);
  Q_INVOKABLE void done();
  // The list changed underneath (settings or the running applications).
  void refresh() { Q_EMIT appsChanged(); }

 Q_SIGNALS:
  void searchTextChanged();
  void appsChanged();

 private:
  SettingsManager& settings_;
  Workspace& workspace_;
  const ApplicationLookup& lookup_;
  std::function<void()> onDismiss_;
  QString searchText_;
};

}  // namespace dunelo
