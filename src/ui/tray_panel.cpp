#include "ui/tray_panel.h"

#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QScreen>
#include <QSystemTrayIcon>
#include <algorithm>

#include "ui/image_providers.h"
#include "ui/popover_model.h"

namespace dunelo {

namespace {

constexpr int kGap = 4;  // between the icon and the panel

// Drawn in the palette's text colour, which trays draw their own labels in.
QIcon symbolIcon(const QString& name) {
  const QColor color = QGuiApplication::palette().color(QPalette::WindowText);
  QIcon icon;
  for (int px : {16, 22, 24, 32, 44, 64})
    icon.addPixmap(QPixmap::fromImage(renderSymbol(name, color, QSize(px, px))));
  return icon;
}

}  // namespace

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

TrayPanel::TrayPanel(SettingsManager& settings, PopoverModel& model, QObject* parent)
    : QObject(parent), model_(model) {
  tray_ = std::make_unique<QSystemTrayIcon>();
  tray_->setToolTip(QStringLiteral("Dunelo"));
  connect(tray_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick ||
                reason == QSystemTrayIcon::Context)
              togglePanel();
          });
  // The new value arrives before the store holds it; the icon uses the value it is given.
  cancellables.push_back(settings.isActive.subscribe([this](bool active) { updateIcon(active); }));
  tray_->show();
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
  const QString name = active ? QStringLiteral("circle-fill") : QStringLiteral("circle-dashed");
  if (name == symbol_) return;
  symbol_ = name;
  tray_->setIcon(symbolIcon(name));
}

bool TrayPanel::hasTray() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}
bool TrayPanel::isPanelVisible() const {
  return panel_ && panel_->isVisible();
}

void TrayPanel::place() {
  QRect anchor = tray_->geometry();
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
