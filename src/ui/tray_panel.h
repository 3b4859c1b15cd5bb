// The tray item and its panel: the symbol follows the user's on/off intent (not whether overlays
// are shown), and a click opens the settings panel next to the icon.
//
// Trays differ: a StatusNotifierItem host may not report the icon's geometry, an XEmbed tray does,
// and a plain session has no tray at all (then `showPanel` is reached through a second start of
// the program). The panel is placed next to the icon when its geometry is known, at the cursor
// otherwise, always inside the available area of that screen, and it hides when it loses focus.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>

#include "core/cancellable.h"
#include "settings/settings_manager.h"

class QQuickView;
class QSystemTrayIcon;
class QQmlEngine;

namespace dunelo {

class PopoverModel;

// Where the panel's top-left corner goes: centred under an anchor in the upper half of the
// screen, centred above it otherwise, then moved inside `available`.
QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& available);

// The panel window over the QML popover, on the software scene graph. Used by the tray and by
// tests that click through the real views.
std::unique_ptr<QQuickView> createPanelView(PopoverModel& model);

// Registers the image providers the views load symbols and application icons from.
void addImageProviders(QQmlEngine& engine);

// Selects the software scene graph; call before the first window is created.
void useSoftwareRendering();

class TrayPanel final : public QObject {
  Q_OBJECT
 public:
  TrayPanel(SettingsManager& settings, PopoverModel& model, QObject* parent = nullptr);
  ~TrayPanel() override;

  // Opens the panel at the tray icon, or at the cursor when the tray gives no geometry.
  void showPanel();
  void hidePanel();
  void togglePanel();
  // Toggles the panel next to `anchor` (a button standing in for the tray icon), in screen
  // coordinates.
  void togglePanelAt(const QRect& anchor);
  bool isPanelVisible() const;
  bool hasTray() const;
  QQuickView* panel() const { return panel_.get(); }  // null until first shown
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }
  // The name of the symbol the tray shows now (for tests).
  QString currentSymbol() const { return symbol_; }

 private:
  void updateIcon(bool active);
  QQuickView& ensurePanel();
  void place();

  PopoverModel& model_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QQuickView> panel_;
  QString symbol_;
  QRect anchor_;  // where the panel was last asked to open; empty: the tray icon
  qint64 hiddenAtMs_ = 0;
  CancellableBag cancellables;
};

}  // namespace dunelo
