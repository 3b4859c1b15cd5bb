// Everything the tray panel decides, for the QML views to lay out.
//
// The panel shows the permission screen until both permissions are granted and the main screen
// after that; every control writes straight into the settings store and nothing here keeps a copy
// of a setting: each property reads the store or the permission checker when QML asks. A change
// published by either object is announced to QML once the assignment has completed (a published
// value is stored only after its subscribers ran), coalesced into one `changed` per turn of the
// event loop.
#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "core/cancellable.h"
#include "settings/settings_manager.h"
#include "system/permission_checker.h"
#include "ui/desktop_entries.h"

namespace dunelo {

class AppPickerModel;

class PopoverModel final : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool showsMainScreen READ showsMainScreen NOTIFY changed)
  Q_PROPERTY(bool hasScreenRecording READ hasScreenRecording NOTIFY changed)
  Q_PROPERTY(bool hasAccessibility READ hasAccessibility NOTIFY changed)
  Q_PROPERTY(QVariantMap screenRecordingHelp READ screenRecordingHelp NOTIFY changed)
  Q_PROPERTY(QVariantMap accessibilityHelp READ accessibilityHelp NOTIFY changed)
  Q_PROPERTY(bool isActive READ isActive NOTIFY changed)
  Q_PROPERTY(QString sensitivityLabel READ sensitivityLabel NOTIFY changed)
  Q_PROPERTY(QStringList sensitivityOptions READ sensitivityOptions CONSTANT)
  Q_PROPERTY(QString modeName READ modeName NOTIFY changed)
  Q_PROPERTY(bool isDeep READ isDeep NOTIFY changed)
  Q_PROPERTY(bool isGrayscale READ isGrayscale NOTIFY changed)
  Q_PROPERTY(bool autoHide READ autoHide NOTIFY changed)
  Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY changed)
  Q_PROPERTY(double blurRadius READ blurRadius NOTIFY changed)
  Q_PROPERTY(double tintOpacity READ tintOpacity NOTIFY changed)
  Q_PROPERTY(double grainIntensity READ grainIntensity NOTIFY changed)
  Q_PROPERTY(QColor tintColor READ tintColor NOTIFY changed)
  Q_PROPERTY(QVariantList swatches READ swatches NOTIFY changed)
  Q_PROPERTY(bool pillShowsApp READ pillShowsApp NOTIFY changed)
  Q_PROPERTY(QString pillName READ pillName NOTIFY changed)
  Q_PROPERTY(QString pillIcon READ pillIcon NOTIFY changed)
  Q_PROPERTY(QVariantList furtherExclusions READ furtherExclusions NOTIFY changed)
  Q_PROPERTY(bool hasCheckForUpdates READ hasCheckForUpdates CONSTANT)
  Q_PROPERTY(bool showingAppPicker READ showingAppPicker NOTIFY showingAppPickerChanged)
  Q_PROPERTY(QObject* picker READ picker CONSTANT)

 public:
  // `onCheckForUpdates` may be empty (no update row); `onQuit` defaults to quitting the Qt loop.
  PopoverModel(SettingsManager& settings, PermissionChecker& permissions,
               const ApplicationLookup& apps, Workspace& workspace,
               std::function<void()> onCheckForUpdates, std::function<void()> onQuit = {},
               QObject* parent = nullptr);
  ~PopoverModel() override;

  bool showsMainScreen() const;
  bool hasScreenRecording() const;
  bool hasAccessibility() const;
  // What the desktop says is missing, {text, command}, once the row's Grant was clicked and while
  // the permission is missing; empty otherwise.
  QVariantMap screenRecordingHelp() const;
  QVariantMap accessibilityHelp() const;
  bool isActive() const;
  QString sensitivityLabel() const;
  QStringList sensitivityOptions() const;
  QString modeName() const;
  bool isDeep() const;
  bool isGrayscale() const;
  bool autoHide() const;
  bool launchAtLogin() const;
  double blurRadius() const;
  double tintOpacity() const;
  double grainIntensity() const;
  QColor tintColor() const;
  QVariantList swatches() const;  // {name, color, selected} per preset, in row order
  bool pillShowsApp() const;
  QString pillName() const;
  QString pillIcon() const;                // image URL, empty when the entry has no icon
  QVariantList furtherExclusions() const;  // {bundleID, name, icon}
  bool hasCheckForUpdates() const { return static_cast<bool>(onCheckForUpdates_); }
  bool showingAppPicker() const { return showingAppPicker_; }
  QObject* picker() const;

  // Header and main screen.
  Q_INVOKABLE void togglePower();
  Q_INVOKABLE void selectSensitivity(int index);  // index into the declared order
  Q_INVOKABLE void toggleMode();
  Q_INVOKABLE void toggleGrayscale();
  Q_INVOKABLE void toggleAutoHide();
  Q_INVOKABLE void setLaunchAtLogin(bool on);
  // Slider moves; values outside the slider's range are brought into it.
  Q_INVOKABLE void setBlurRadius(double value);
  Q_INVOKABLE void setTintOpacity(double value);
  Q_INVOKABLE void setGrainIntensity(double value);
  Q_INVOKABLE void pickSwatch(int index);
  Q_INVOKABLE void removeExclusion(const QString& bundleID);
  Q_INVOKABLE void openAppPicker();
  Q_INVOKABLE void closeAppPicker();
  Q_INVOKABLE void checkForUpdates();
  Q_INVOKABLE void quit();
  // Escape: asks whoever shows the panel to close it.
  Q_INVOKABLE void closePanel() { Q_EMIT closeRequested(); }
  // Permission screen. Grant asks the desktop and shows what it says is missing; Check Again
  // probes both permissions and asks again what is missing.
  Q_INVOKABLE void grantScreenRecording();
  Q_INVOKABLE void grantAccessibility();
  Q_INVOKABLE void checkAgain();

  // Icon name from a desktop entry to an image URL the views can load ("" for none).
  static QString iconUrl(const std::string& iconName);

 Q_SIGNALS:
  void changed();
  void showingAppPickerChanged();
  void closeRequested();

 private:
  void scheduleChanged();

  SettingsManager& settings_;
  PermissionChecker& permissions_;
  const ApplicationLookup& apps_;
  std::function<void()> onCheckForUpdates_;
  std::function<void()> onQuit_;
  std::optional<PermissionHelp> screenRecordingHelp_;  // none until its Grant was clicked
  std::optional<PermissionHelp> accessibilityHelp_;
  bool showingAppPicker_ = false;
  bool changePending_ = false;
  AppPickerModel* picker_ = nullptr;
  CancellableBag cancellables;
};

// "low" -> "Low": the first letter upper-cased, the rest as it is.
QString capitalized(std::string_view raw);

}  // namespace dunelo
