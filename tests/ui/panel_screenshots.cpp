// Renders the panel's screens to PNG files (for the README and for looking at changes):
//   panel_screenshots <output-dir>
#include <QApplication>
#include <QDir>
#include <QQuickView>
#include <QTest>

#include "ui/tray_panel.h"
#include "ui_test_support.h"

using namespace dunelo;

namespace {
void shoot(QQuickView& view, const QString& path) {
  view.show();
  if (!QTest::qWaitForWindowExposed(&view)) qWarning("panel not exposed");
  test::settle();
  QTest::qWait(400);  // let the animations finish
  view.grabWindow().save(path);
}
}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  useSoftwareRendering();
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(out);

  test::Desk desk(false);
  desk.grant(true, false);
  desk.permissions->refresh();
  desk.settings->excludedAppBundleIDs = {"com.apple.finder", "org.gimp.GIMP",
                                         "org.mozilla.firefox"};
  desk.lookup.installed["org.gimp.GIMP"] = {"GNU Image Manipulation Program", "gimp"};
  desk.launch({test::app("Firefox", "org.mozilla.firefox"), test::app("GIMP", "org.gimp.GIMP"),
               test::app("Terminal", "org.gnome.Terminal"),
               test::app("Text Editor", "org.gnome.TextEditor")});
  desk.makeModel();
  auto view = createPanelView(*desk.model);
  desk.model->grantAccessibility();
  shoot(*view, out + "/panel-permissions.png");
  desk.setPermissions(true, true);
  desk.settings->isActive = true;
  desk.settings->tintOpacity = 0.3;
  desk.settings->tintColor = Color::srgb(175 / 255.0, 82 / 255.0, 222 / 255.0);
  desk.settings->grainIntensity = 0.2;
  shoot(*view, out + "/panel-main.png");
  // The sensitivity menu, opened from the keyboard: three Tabs reach its button.
  for (int i = 0; i < 3; ++i) QTest::keyClick(view.get(), Qt::Key_Tab);
  QTest::keyClick(view.get(), Qt::Key_Space);
  shoot(*view, out + "/panel-sensitivity-menu.png");
  QTest::keyClick(view.get(), Qt::Key_Escape);
  desk.settings->excludedAppBundleIDs = {"com.apple.finder"};
  desk.model->openAppPicker();
  shoot(*view, out + "/panel-picker.png");
  return 0;
}
