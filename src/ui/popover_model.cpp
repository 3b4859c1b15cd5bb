#include "ui/popover_model.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

#include "ui/app_picker_model.h"
#include "ui/exclusion_summary.h"
#include "ui/tint_swatches.h"

namespace dunelo {

namespace {

// The ranges the sliders offer; the panel never writes outside them.
constexpr double kBlurMax = kMaxBlurRadius;
constexpr double kTintOpacityMax = kMaxTintOpacity;
constexpr double kGrainMax = kMaxGrainIntensity;

double clampTo(double value, double hi) {
  if (std::isnan(value)) return 0.0;
  return std::clamp(value, 0.0, hi);
}

QColor toQColor(const Color& c) {
  const auto rgb = c.toDeviceRGB();
  if (!rgb) return QColor(Qt::transparent);
  auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
  return QColor::fromRgbF(float(unit(rgb->red)), float(unit(rgb->green)), float(unit(rgb->blue)),
                          float(unit(rgb->alpha)));
}

ExclusionSummary summaryOf(const SettingsManager& settings, const ApplicationLookup& apps) {
  return summarizeExclusions(sortedExclusions(settings.excludedAppBundleIDs.get()), apps);
}

QVariantMap helpMap(const std::optional<PermissionHelp>& help) {
  if (!help) return {};
  // The desktop may find nothing missing by now (the permission came while the user looked).
  const QString text = help->text.empty()
                           ? QStringLiteral("Nothing seems to be missing now: choose Check Again.")
                           : QString::fromStdString(help->text);
  return {{QStringLiteral("text"), text},
          {QStringLiteral("command"), QString::fromStdString(help->command)}};
}

}  // namespace

QString capitalized(std::string_view raw) {
  QString s = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
  if (!s.isEmpty()) s[0] = s[0].toUpper();
  return s;
}

QString PopoverModel::iconUrl(const std::string& iconName) {
  if (iconName.empty()) return {};
  const QString name = QString::fromStdString(iconName);
  // Only icons that exist: an application without one shows none, not a broken image.
  const bool exists = name.startsWith(u'/') ? QFileInfo::exists(name) : QIcon::hasThemeIcon(name);
  if (!exists) return {};
  return QStringLiteral("image://appicon/") + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

PopoverModel::PopoverModel(SettingsManager& settings, PermissionChecker& permissions,
                           const ApplicationLookup& apps, Workspace& workspace,
                           std::function<void()> onCheckForUpdates, std::function<void()> onQuit,
                           QObject* parent)
    : QObject(parent),
      settings_(settings),
      permissions_(permissions),
      apps_(apps),
      onCheckForUpdates_(std::move(onCheckForUpdates)),
      onQuit_(std::move(onQuit)) {
  picker_ = new AppPickerModel(
      settings_, workspace, apps_, [this] { closeAppPicker(); }, this);
  cancellables.push_back(settings_.objectWillChange.subscribe([this] { scheduleChanged(); }));
  cancellables.push_back(permissions_.objectWillChange.subscribe([this] { scheduleChanged(); }));
}

PopoverModel::~PopoverModel() = default;

void PopoverModel::scheduleChanged() {
  if (changePending_) return;
  changePending_ = true;
  // Queued: the published value is stored only after this notification returns.
  QMetaObject::invokeMethod(
      this,
      [this] {
        changePending_ = false;
        Q_EMIT changed();
        if (showingAppPicker_) picker_->refresh();
      },
      Qt::QueuedConnection);
}

bool PopoverModel::showsMainScreen() const {
  return permissions_.hasScreenRecording.get() && permissions_.hasAccessibility.get();
}
bool PopoverModel::hasScreenRecording() const {
  return permissions_.hasScreenRecording.get();
}
bool PopoverModel::hasAccessibility() const {
  return permissions_.hasAccessibility.get();
}
QVariantMap PopoverModel::screenRecordingHelp() const {
  return permissions_.hasScreenRecording.get() ? QVariantMap() : helpMap(screenRecordingHelp_);
}

QVariantMap PopoverModel::accessibilityHelp() const {
  return permissions_.hasAccessibility.get() ? QVariantMap() : helpMap(accessibilityHelp_);
}

bool PopoverModel::isActive() const {
  return settings_.isActive.get();
}

QString PopoverModel::sensitivityLabel() const {
  return capitalized(rawValue(settings_.shakeSensitivity.get()));
}

QStringList PopoverModel::sensitivityOptions() const {
  QStringList out;
  for (ShakeSensitivity s : kAllShakeSensitivities) out << capitalized(rawValue(s));
  return out;
}

QString PopoverModel::modeName() const {
  return capitalized(rawValue(settings_.blurMode.get()));
}
bool PopoverModel::isDeep() const {
  return settings_.blurMode.get() == BlurMode::deep;
}
bool PopoverModel::isGrayscale() const {
  return settings_.isGrayscale.get();
}
bool PopoverModel::autoHide() const {
  return settings_.autoHideDockAndMenuBar.get();
}
bool PopoverModel::launchAtLogin() const {
  return settings_.launchAtLogin.get();
}
double PopoverModel::blurRadius() const {
  return settings_.blurRadius.get();
}
double PopoverModel::tintOpacity() const {
  return settings_.tintOpacity.get();
}
double PopoverModel::grainIntensity() const {
  return settings_.grainIntensity.get();
}
QColor PopoverModel::tintColor() const {
  return toQColor(settings_.tintColor.get());
}

QVariantList PopoverModel::swatches() const {
  QVariantList out;
  const Color stored = settings_.tintColor.get();
  for (const TintPreset& preset : tintPresets()) {
    QVariantMap m;
    m[QStringLiteral("name")] =
        QString::fromLatin1(preset.name.data(), qsizetype(preset.name.size()));
    m[QStringLiteral("color")] = toQColor(preset.color);
    m[QStringLiteral("selected")] = colorsMatch(preset.color, stored);
    out.push_back(m);
  }
  return out;
}

bool PopoverModel::pillShowsApp() const {
  return summaryOf(settings_, apps_).pill.has_value();
}

QString PopoverModel::pillName() const {
  const auto pill = summaryOf(settings_, apps_).pill;
  return pill ? QString::fromStdString(pill->name) : QStringLiteral("Exclude app");
}

QString PopoverModel::pillIcon() const {
  const auto pill = summaryOf(settings_, apps_).pill;
  return pill ? iconUrl(pill->iconName) : QString();
}

QVariantList PopoverModel::furtherExclusions() const {
  QVariantList out;
  for (const ExclusionRow& row : summaryOf(settings_, apps_).card) {
    QVariantMap m;
    m[QStringLiteral("bundleID")] = QString::fromStdString(row.bundleID);
    m[QStringLiteral("name")] = QString::fromStdString(row.name);
    m[QStringLiteral("icon")] = row.installed ? iconUrl(row.iconName) : QString();
    out.push_back(m);
  }
  return out;
}

QObject* PopoverModel::picker() const {
  return picker_;
}

void PopoverModel::togglePower() {
  settings_.isActive = !settings_.isActive.get();
}

void PopoverModel::selectSensitivity(int index) {
  if (index < 0 || index >= int(kAllShakeSensitivities.size())) return;
  settings_.shakeSensitivity = kAllShakeSensitivities[size_t(index)];
}

void PopoverModel::toggleMode() {
  settings_.blurMode =
      settings_.blurMode.get() == BlurMode::deep ? BlurMode::ambient : BlurMode::deep;
}

void PopoverModel::toggleGrayscale() {
  settings_.isGrayscale = !settings_.isGrayscale.get();
}
void PopoverModel::toggleAutoHide() {
  settings_.autoHideDockAndMenuBar = !settings_.autoHideDockAndMenuBar.get();
}
void PopoverModel::setLaunchAtLogin(bool on) {
  settings_.launchAtLogin = on;
}
void PopoverModel::setBlurRadius(double v) {
  settings_.blurRadius = clampTo(v, kBlurMax);
}
void PopoverModel::setTintOpacity(double v) {
  settings_.tintOpacity = clampTo(v, kTintOpacityMax);
}
void PopoverModel::setGrainIntensity(double v) {
  settings_.grainIntensity = clampTo(v, kGrainMax);
}

void PopoverModel::pickSwatch(int index) {
  const auto& presets = tintPresets();
  if (index < 0 || index >= int(presets.size())) return;
  settings_.tintColor = presets[size_t(index)].color;
  if (settings_.tintOpacity.get() < kSwatchMinimumOpacity)
    settings_.tintOpacity = kSwatchDefaultOpacity;
}

void PopoverModel::removeExclusion(const QString& bundleID) {
  const std::string id = bundleID.toStdString();
  auto ids = settings_.excludedAppBundleIDs.get();
  if (ids.erase(id) == 0) return;
  settings_.excludedAppBundleIDs = std::move(ids);
}

void PopoverModel::openAppPicker() {
  picker_->reset();
  if (showingAppPicker_) return;
  showingAppPicker_ = true;
  Q_EMIT showingAppPickerChanged();
}

void PopoverModel::closeAppPicker() {
  if (!showingAppPicker_) return;
  showingAppPicker_ = false;
  Q_EMIT showingAppPickerChanged();
}

void PopoverModel::checkForUpdates() {
  if (onCheckForUpdates_) onCheckForUpdates_();
}

void PopoverModel::quit() {
  if (onQuit_) {
    onQuit_();
    return;
  }
  QCoreApplication::quit();
}

void PopoverModel::grantScreenRecording() {
  permissions_.openScreenRecordingSettings();
  screenRecordingHelp_ = permissions_.screenRecordingHelp();
  scheduleChanged();
}

void PopoverModel::grantAccessibility() {
  permissions_.requestAccessibility();
  accessibilityHelp_ = permissions_.accessibilityHelp();
  scheduleChanged();
}

void PopoverModel::checkAgain() {
  permissions_.refresh();
  if (screenRecordingHelp_) screenRecordingHelp_ = permissions_.screenRecordingHelp();
  if (accessibilityHelp_) accessibilityHelp_ = permissions_.accessibilityHelp();
  scheduleChanged();
}

}  // namespace dunelo
