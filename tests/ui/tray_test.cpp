// The tray item in a real tray: a private X server with openbox and trayer (an XEmbed tray host)
// drawn dark. Clicking the icon opens the panel next to it; the symbol follows the on/off setting
// and is drawn to be seen on the tray: light on its dark panel, then in the colour the tray
// publishes; focus elsewhere closes the panel.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QQuickView>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <cmath>

#include "platform/x11/x11_tray_colors.h"
#include "platform/x11/x_server.h"
#include "ui/qt_scheduler.h"
#include "ui/tray_panel.h"
#include "ui_test_support.h"

extern char** environ;

namespace dunelo {
namespace {

template <class Pred>
bool waitFor(Pred done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QTest::qWait(20);
  return done();
}

// The screen where the icon is.
QImage grab(const QRect& area) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

double distance(const QColor& a, const QColor& b) {
  return std::abs(a.redF() - b.redF()) + std::abs(a.greenF() - b.greenF()) +
         std::abs(a.blueF() - b.blueF());
}

// The symbol's own colour on screen: the pixel most unlike the panel around it.
QColor ink(const QImage& icon) {
  const QColor panel = *backgroundAround(icon);
  QColor best = panel;
  for (int x = 0; x < icon.width(); ++x)
    for (int y = 0; y < icon.height(); ++y)
      if (distance(icon.pixelColor(x, y), panel) > distance(best, panel))
        best = icon.pixelColor(x, y);
  return best;
}

TEST(Tray, TheIconIsSeenOnTheTrayAndOpensThePanelNextToIt) {
  x11::testing::XServer server(/*withWindowManager=*/true);
  ASSERT_TRUE(server.ok());
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");  // no StatusNotifierItem host: the XEmbed tray

  pid_t trayer = -1;
  const char* argv[] = {"trayer",  "--edge",   "top", "--align",       "right",    "--widthtype",
                        "request", "--height", "24",  "--SetDockType", "true",     "--transparent",
                        "true",    "--alpha",  "0",   "--tint",        "0x202020", nullptr};
  ASSERT_EQ(posix_spawnp(&trayer, "trayer", nullptr, nullptr, const_cast<char**>(argv), environ),
            0);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } reaper{trayer};

  int argc = 1;
  char name[] = "dunelo_tray_test";
  char* args[] = {name, nullptr};
  useSoftwareRendering();
  QApplication app(argc, args);
  // A light palette: drawn in its text colour the symbol would be dark on the dark tray.
  QPalette light = QGuiApplication::palette();
  light.setColor(QPalette::WindowText, Qt::black);
  QGuiApplication::setPalette(light);
  ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));

  auto connection = x11::X11Connection::open(server.display().c_str());
  ASSERT_TRUE(connection);
  x11::X11TrayColors colors(*connection);
  QtScheduler scheduler;
  const CancellableBag attached = x11::attachToEventLoop(*connection, scheduler);

  test::Desk desk;
  desk.makeModel();
  TrayPanel tray(*desk.settings, *desk.model, &colors);
  EXPECT_FALSE(tray.isStatusNotifierItem());
  EXPECT_EQ(tray.currentSymbol(), "circle-dashed");
  ASSERT_TRUE(waitFor([&] { return tray.trayIcon()->geometry().isValid(); }))
      << "the tray embeds the icon and reports where";
  // trayer moves the icon into place after embedding it: wait until it stays put.
  QRect icon;
  for (int stable = 0, i = 0; stable < 5 && i < 200; ++i) {
    QTest::qWait(60);
    const QRect now = tray.trayIcon()->geometry();
    stable = now == icon ? stable + 1 : 0;
    icon = now;
  }

  // Light on the dark panel, with its six dashes readable at the tray's size.
  ASSERT_TRUE(waitFor([&] { return ink(grab(icon)).lightness() > 200; }))
      << "ink " << ink(grab(icon)).name().toStdString();
  {
    const QImage shown = grab(icon);
    const QColor panel = *backgroundAround(shown);
    EXPECT_LT(panel.lightness(), 60);
    std::vector<double> ring;
    const double r = 7.95 * icon.width() / 24, c = icon.width() / 2.0;
    for (int i = 0; i < 720; ++i) {
      const double a = i * M_PI / 360;
      const QColor px = shown.pixelColor(int(c + r * std::cos(a)), int(c + r * std::sin(a)));
      ring.push_back(px.lightnessF());
    }
    EXPECT_EQ(test::runsAbove(ring, 0.6), 6);
  }

  desk.settings->isActive = true;
  EXPECT_EQ(tray.currentSymbol(), "circle-fill") << "the symbol follows the setting";

  // The tray publishes its colours: the symbol takes the foreground.
  x11::testing::TestClient input(server.display());
  auto owner =
      x11::replyOf(input.xcb(), xcb_get_selection_owner_reply,
                   xcb_get_selection_owner(input.xcb(), input.atom("_NET_SYSTEM_TRAY_S0")));
  ASSERT_TRUE(owner && owner->owner);
  const uint32_t trayColors[12] = {65535, 32768, 0, 65535, 0, 0, 65535, 65535, 0, 0, 65535, 0};
  xcb_change_property(input.xcb(), XCB_PROP_MODE_REPLACE, owner->owner,
                      input.atom("_NET_SYSTEM_TRAY_COLORS"), XCB_ATOM_CARDINAL, 32, 12, trayColors);
  xcb_flush(input.xcb());
  ASSERT_TRUE(waitFor([&] { return distance(ink(grab(icon)), QColor(255, 128, 0)) < 0.15; }))
      << "ink " << ink(grab(icon)).name().toStdString();
  EXPECT_LT(distance(tray.currentColor(), QColor(255, 128, 0)), 0.01);
  // A malformed value says nothing: back to light on dark.
  xcb_change_property(input.xcb(), XCB_PROP_MODE_REPLACE, owner->owner,
                      input.atom("_NET_SYSTEM_TRAY_COLORS"), XCB_ATOM_CARDINAL, 32, 2, trayColors);
  xcb_flush(input.xcb());
  ASSERT_TRUE(waitFor([&] { return ink(grab(icon)).lightness() > 200; }));

  input.click(icon.center().x(), icon.center().y());
  ASSERT_TRUE(waitFor([&] { return tray.isPanelVisible(); }));
  ASSERT_TRUE(waitFor([&] { return tray.panel()->position().y() > 0; }));
  QTest::qWait(300);  // the window manager settles the position
  const QRect panel = tray.panel()->frameGeometry();
  const QRect screen = app.primaryScreen()->availableGeometry();
  EXPECT_TRUE(screen.contains(panel)) << "inside the available area";
  EXPECT_GE(panel.top(), icon.bottom()) << "under the tray at the top edge";
  EXPECT_LE(panel.top(), icon.bottom() + 40);
  EXPECT_GE(panel.right(), icon.left() - 2) << "horizontally next to the icon";

  // Escape closes it, as does focus elsewhere.
  QTest::keyClick(tray.panel(), Qt::Key_Escape);
  EXPECT_TRUE(waitFor([&] { return !tray.isPanelVisible(); })) << "Escape closes it";
  QTest::qWait(300);
  input.click(icon.center().x(), icon.center().y());
  ASSERT_TRUE(waitFor([&] { return tray.isPanelVisible(); }));
  ASSERT_TRUE(waitFor([&] { return tray.panel()->isActive(); }));
  input.click(100, 600);
  EXPECT_TRUE(waitFor([&] { return !tray.isPanelVisible(); })) << "focus elsewhere closes it";
}

}  // namespace
}  // namespace dunelo
