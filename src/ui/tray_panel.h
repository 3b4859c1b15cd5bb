// The tray item and its panel: the symbol follows the user's on/off intent (not whether overlays
// are shown), and a click opens the settings panel next to the icon.
//
// The symbol's colour follows the tray. A StatusNotifierItem host gets it as a symbolic theme
// icon ("io.dunelo.Dunelo-on-symbolic"), which the host recolours, with our own drawing for
// hosts that take pixels. An XEmbed tray gets pixels in the colour it publishes, else light on a
// dark panel and dark on a light one (by the luminance of the panel around the icon).
//
// Trays differ: a StatusNotifierItem host may not report the icon's geometry, an XEmbed tray does,
// and a plain session has no tray at all (then `showPanel` is reached through a second start of
// the program). The panel is placed next to the icon when its geometry is known, at the cursor
// otherwise, always inside the available area of that screen, and it hides when it loses focus.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>
#include <optional>

#include "core/cancellable.h"
#include "platform/tray_colors.h"
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

// The tray's icon for `symbol` drawn in `color`; `symbolic` also names it as the theme icon a
// StatusNotifierItem host looks up and recolours.
QIcon trayIcon(const QString& symbol, const QColor& color, bool symbolic);

// The icon colour that reads best on `background`: dark on light, light on dark.
QColor iconColorFor(const QColor& background);
// The panel's colour around an icon: the average of the corners of its square (the symbol does
// not reach them); none for an empty image.
std::optional<QColor> backgroundAround(const QImage& icon);

class TrayPanel final : public QObject {
  Q_OBJECT
 public:
  // `colors` may be null (the tray publishes no colour).
  TrayPanel(SettingsManager& settings, PopoverModel& model, TrayColors* colors = nullptr,
            QObject* parent = nullptr);
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
  // The name of the symbol the tray shows now, and the colour it is drawn in (tests).
  QString currentSymbol() const { return symbol_; }
  QColor currentColor() const { return color_; }
  // Whether the icon goes to a StatusNotifierItem host (as a theme icon) rather than XEmbed.
  bool isStatusNotifierItem() const { return statusNotifier_; }

 private:
  void updateIcon(bool active);
  // Draws the symbol again when its colour changed (the tray's colours, the panel behind it).
  void refreshIcon();
  QColor iconColor() const;
  QQuickView& ensurePanel();
  void place();

  PopoverModel& model_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QQuickView> panel_;
  TrayColors* colors_;
  QString symbol_;
  QRect anchor_;  // where the panel was last asked to open; empty: the tray icon
  QColor color_;
  bool statusNotifier_ = false;
  qint64 hiddenAtMs_ = 0;
  CancellableBag cancellables;
};

}  // namespace dunelo
