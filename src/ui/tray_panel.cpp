#include "ui/tray_panel.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "ui/image_providers.h"
#include "ui/popover_model.h"

namespace dunelo {

namespace {

constexpr int kGap = 4;  // between the icon and the panel
constexpr int kIconSizes[] = {16, 22, 24, 32, 44, 64};

QString themeNameOf(const QString& symbol) {
  return symbol == QLatin1String("circle-fill") ? QStringLiteral("io.dunelo.Dunelo-on-symbolic")
                                                : QStringLiteral("io.dunelo.Dunelo-off-symbolic");
}

// A symbolic theme icon for StatusNotifierItem hosts: its name is what the host looks up (and
// recolours); its pixels, our own drawing, are for hosts that do not find the name.
class SymbolicIconEngine final : public QIconEngine {
 public:
  SymbolicIconEngine(QString symbol, QColor color)
      : symbol_(std::move(symbol)), color_(std::move(color)) {}
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    painter->drawImage(rect, renderSymbol(symbol_, color_, rect.size()));
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    return QPixmap::fromImage(renderSymbol(symbol_, color_, size));
  }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (int px : kIconSizes) sizes << QSize(px, px);
    return sizes;
  }
  QString iconName() override { return themeNameOf(symbol_); }
  QString key() const override { return QStringLiteral("dunelo-symbolic"); }
  QIconEngine* clone() const override { return new SymbolicIconEngine(symbol_, color_); }

 private:
  QString symbol_;
  QColor color_;
};

// Qt hands the tray icon to a StatusNotifierItem host whenever a watcher is registered on the
// session bus, and to an XEmbed tray otherwise; this asks the same question.
bool statusNotifierWatcherRegistered() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

double linear(double c) {
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

QIcon trayIcon(const QString& symbol, const QColor& color, bool symbolic) {
  if (symbolic) return QIcon(new SymbolicIconEngine(symbol, color));
  QIcon icon;
  for (int px : kIconSizes)
    icon.addPixmap(QPixmap::fromImage(renderSymbol(symbol, color, QSize(px, px))));
  return icon;
}

QColor iconColorFor(const QColor& background) {
  const double luminance = 0.2126 * linear(background.redF()) +
                           0.7152 * linear(background.greenF()) +
                           0.0722 * linear(background.blueF());
  // Above this, black text has the better contrast ratio against it than white.
  return luminance > 0.179 ? QColor(0x2e, 0x34, 0x36) : QColor(0xf6, 0xf5, 0xf4);
}

std::optional<QColor> backgroundAround(const QImage& icon) {
  if (icon.width() < 4 || icon.height() < 4) return std::nullopt;
  const QImage image = icon.convertToFormat(QImage::Format_RGB32);
  double r = 0, g = 0, b = 0;
  int n = 0;
  for (int cornerX : {0, image.width() - 2})
    for (int cornerY : {0, image.height() - 2})
      for (int dx = 0; dx < 2; ++dx)
        for (int dy = 0; dy < 2; ++dy) {
          const QColor c = image.pixelColor(cornerX + dx, cornerY + dy);
          r += c.redF();
          g += c.greenF();
          b += c.blueF();
          ++n;
        }
  return QColor::fromRgbF(float(r / n), float(g / n), float(b / n));
}

QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& available) {
  int x = anchor.center().x() - panel.width() / 2;
  const bool below = anchor.center().y() < available.center().y();
  int y = below ? anchor.bottom() + 1 + kGap : anchor.top() - kGap - panel.height();
  // Inside the available area; a panel larger than the area keeps its top-left corner visible.
  x = std::max(available.left(), std::min(x, available.right() + 1 - panel.width()));
  y = std::max(available.top(), std::min(y, available.bottom() + 1 - panel.height()));
  return {x, y};
}

void useSoftwareRendering() {
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

void addImageProviders(QQmlEngine& engine) {
  engine.addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
  engine.addImageProvider(QStringLiteral("appicon"), new AppIconImageProvider);
}

std::unique_ptr<QQuickView> createPanelView(PopoverModel& model) {
  auto view = std::make_unique<QQuickView>();
  view->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  // Opaque: without a compositor a transparent window shows black where it is not drawn.
  view->setColor(QColor(41, 41, 43));
  view->setTitle(QStringLiteral("Dunelo"));
  view->setResizeMode(QQuickView::SizeViewToRootObject);
  addImageProviders(*view->engine());
  view->setInitialProperties({{QStringLiteral("popover"), QVariant::fromValue<QObject*>(&model)}});
  view->setSource(QUrl(QStringLiteral("qrc:/dunelo/qml/Popover.qml")));
  return view;
}

TrayPanel::TrayPanel(SettingsManager& settings, PopoverModel& model, TrayColors* colors,
                     QObject* parent)
    : QObject(parent), model_(model), colors_(colors) {
  statusNotifier_ = statusNotifierWatcherRegistered();
  tray_ = std::make_unique<QSystemTrayIcon>();
  tray_->setToolTip(QStringLiteral("Dunelo"));
  connect(tray_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick ||
                reason == QSystemTrayIcon::Context)
              togglePanel();
            refreshIcon();  // the panel behind the icon may have changed its colours
          });
  if (colors_) cancellables.push_back(colors_->observe([this] { refreshIcon(); }));
  // The new value arrives before the store holds it; the icon uses the value it is given.
  cancellables.push_back(settings.isActive.subscribe([this](bool active) { updateIcon(active); }));
  tray_->show();
  // An XEmbed tray reports where the icon is only once it has embedded it: look at the panel
  // behind it then. Without a tray nothing will embed it, and the watch would only wake the
  // process four times a second for ten seconds.
  if (!statusNotifier_ && hasTray()) {
    auto* settle = new QTimer(this);
    settle->setInterval(250);
    connect(settle, &QTimer::timeout, this, [this, settle, ticks = 0]() mutable {
      const QRect at = tray_->geometry();
      if ((at.isValid() && !at.isEmpty()) || ++ticks >= 40) {
        settle->deleteLater();
        refreshIcon();
      }
    });
    settle->start();
  }
}

TrayPanel::~TrayPanel() = default;

QQuickView& TrayPanel::ensurePanel() {
  // Built on first use: the tray icon appears sooner and a panel never opened costs nothing.
  if (panel_) return *panel_;
  panel_ = createPanelView(model_);
  connect(&model_, &PopoverModel::closeRequested, this, &TrayPanel::hidePanel);
  connect(panel_.get(), &QWindow::activeChanged, this, [this] {
    if (!panel_->isActive() && panel_->isVisible()) hidePanel();
  });
  // The height follows the content (the screen shown, the open sheet): keep the panel on screen.
  connect(panel_.get(), &QWindow::heightChanged, this, [this] {
    if (panel_->isVisible()) place();
  });
  return *panel_;
}

void TrayPanel::updateIcon(bool active) {
  symbol_ = active ? QStringLiteral("circle-fill") : QStringLiteral("circle-dashed");
  color_ = QColor();
  refreshIcon();
}

void TrayPanel::refreshIcon() {
  if (symbol_.isEmpty()) return;
  const QColor color = iconColor();
  if (color == color_) return;
  color_ = color;
  tray_->setIcon(dunelo::trayIcon(symbol_, color, statusNotifier_));
}

QColor TrayPanel::iconColor() const {
  if (colors_)
    if (auto published = colors_->foreground()) {
      const auto rgb = published->toDeviceRGB();
      if (rgb) return QColor::fromRgbF(float(rgb->red), float(rgb->green), float(rgb->blue));
    }
  const QRect at = tray_->geometry();
  QScreen* screen = at.isValid() ? QGuiApplication::screenAt(at.center()) : nullptr;
  if (!statusNotifier_ && screen) {
    const QRect local = at.translated(-screen->geometry().topLeft());
    const QImage behind =
        screen->grabWindow(0, local.x(), local.y(), local.width(), local.height()).toImage();
    if (auto background = backgroundAround(behind)) return iconColorFor(*background);
  }
  // Trays draw their own labels in the palette's text colour.
  return QGuiApplication::palette().color(QPalette::WindowText);
}

bool TrayPanel::hasTray() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}
bool TrayPanel::isPanelVisible() const {
  return panel_ && panel_->isVisible();
}

void TrayPanel::place() {
  QRect anchor = anchor_.isEmpty() ? tray_->geometry() : anchor_;
  if (!anchor.isValid() || anchor.isEmpty()) anchor = QRect(QCursor::pos(), QSize(1, 1));
  QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  panel_->setScreen(screen);
  panel_->setPosition(panelPosition(anchor, panel_->size(), screen->availableGeometry()));
}

void TrayPanel::showPanel() {
  ensurePanel();
  place();
  panel_->show();
  panel_->raise();
  panel_->requestActivate();
}

void TrayPanel::hidePanel() {
  if (!isPanelVisible()) return;
  hiddenAtMs_ = QDateTime::currentMSecsSinceEpoch();
  model_.closeAppPicker();
  panel_->hide();
}

void TrayPanel::togglePanelAt(const QRect& anchor) {
  anchor_ = anchor;
  togglePanel();
}

void TrayPanel::togglePanel() {
  // A click on the icon first takes focus from the panel (which hides it); that same click must
  // not open it again.
  if (isPanelVisible()) {
    hidePanel();
    return;
  }
  if (QDateTime::currentMSecsSinceEpoch() - hiddenAtMs_ < 250) return;
  showPanel();
}

}  // namespace dunelo
