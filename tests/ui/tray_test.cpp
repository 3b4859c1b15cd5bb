// The tray item in a real tray: a private X server with openbox and trayer (an XEmbed tray host).
// Clicking the icon opens the panel next to it; the symbol follows the on/off setting; focus
// elsewhere closes the panel.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QQuickView>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include "ui/tray_panel.h"
#include "ui_test_support.h"
#include "x11/x_server.h"

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

TEST(Tray, ClickingTheIconOpensThePanelNextToIt) {
  x11::testing::XServer server(/*withWindowManager=*/true);
  ASSERT_TRUE(server.ok());
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);

  pid_t trayer = -1;
  const char* argv[] = {"trayer",  "--edge",   "top", "--align",       "right", "--widthtype",
                        "request", "--height", "24",  "--SetDockType", "true",  nullptr};
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
  ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));

  test::Desk desk;
  desk.makeModel();
  TrayPanel tray(*desk.settings, *desk.model);
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

  desk.settings->isActive = true;
  EXPECT_EQ(tray.currentSymbol(), "circle-fill") << "the symbol follows the setting";

  x11::testing::TestClient input(server.display());
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

  input.click(100, 600);
  EXPECT_TRUE(waitFor([&] { return !tray.isPanelVisible(); })) << "focus elsewhere closes it";
}

}  // namespace
}  // namespace dunelo
