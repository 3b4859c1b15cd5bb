#include "ui/app_picker_model.h"

#include <QVariantMap>
#include <algorithm>

#include "ui/popover_model.h"

namespace dunelo {

std::vector<RunningApplication> availableApps(std::vector<RunningApplication> running,
                                              const std::set<std::string>& excluded,
                                              const ApplicationLookup& lookup) {
  std::set<std::string> ids = excluded;
  for (const std::string& stored : excluded)
    if (auto alias = lookup.aliasOf(stored)) ids.insert(*alias);
  std::erase_if(running, [&](const RunningApplication& app) {
    return app.activationPolicy != ActivationPolicy::regular || !app.bundleID ||
           ids.count(*app.bundleID) > 0;
  });
  std::stable_sort(running.begin(), running.end(),
                   [](const RunningApplication& a, const RunningApplication& b) {
                     return a.localizedName < b.localizedName;
                   });
  return running;
}

std::vector<RunningApplication> filteredApps(const std::vector<RunningApplication>& apps,
                                             const QString& search) {
  if (search.isEmpty()) return apps;
  std::vector<RunningApplication> out;
  for (const auto& app : apps)
    if (QString::fromStdString(app.localizedName).contains(search, Qt::CaseInsensitive))
      out.push_back(app);
  return out;
}

QString pickerLabel(const RunningApplication& app) {
  if (!app.localizedName.empty()) return QString::fromStdString(app.localizedName);
  if (app.bundleID && !app.bundleID->empty()) return QString::fromStdString(*app.bundleID);
  return QStringLiteral("Unknown");
}

AppPickerModel::AppPickerModel(SettingsManager& settings, Workspace& workspace,
                               const ApplicationLookup& lookup, std::function<void()> onDismiss,
                               QObject* parent)
    : QObject(parent),
      settings_(settings),
      workspace_(workspace),
      lookup_(lookup),
      onDismiss_(std::move(onDismiss)) {}

void AppPickerModel::setSearchText(const QString& text) {
  if (text == searchText_) return;
  searchText_ = text;
  Q_EMIT searchTextChanged();
  Q_EMIT appsChanged();
}

QVariantList AppPickerModel::apps() const {
  QVariantList rows;
  const auto list = filteredApps(availableApps(workspace_.runningApplications(),
                                               settings_.excludedAppBundleIDs.get(), lookup_),
                                 searchText_);
  for (const auto& app : list) {
    QVariantMap row;
    row[QStringLiteral("bundleID")] = QString::fromStdString(app.bundleID.value_or(""));
    row[QStringLiteral("label")] = pickerLabel(app);
    const auto installed = app.bundleID ? lookup_.find(*app.bundleID) : std::nullopt;
    row[QStringLiteral("icon")] =
        installed ? PopoverModel::iconUrl(installed->iconName) : QString();
    rows.push_back(row);
  }
  return rows;
}

void AppPickerModel::reset() {
  searchText_.clear();
  Q_EMIT searchTextChanged();
  Q_EMIT appsChanged();
}

void AppPickerModel::pick(const QString& bundleID) {
  auto ids = settings_.excludedAppBundleIDs.get();
  const std::string id = bundleID.toStdString();
  // What could not be stored is not added: it would be gone at the next start.
  if (!id.empty() && id.size() <= kMaxBundleIDBytes && ids.size() < kMaxExcludedApps) {
    ids.insert(id);
    settings_.excludedAppBundleIDs = std::move(ids);
  }
  done();
}

void AppPickerModel::done() {
  if (onDismiss_) onDismiss_();
}

}  // namespace dunelo
