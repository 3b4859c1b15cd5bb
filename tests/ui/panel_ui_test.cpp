// Clicks through the real QML panel on the offscreen platform and checks what reaches the
// settings store, the permission checker and the updater.
#include <gtest/gtest.h>

#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include "ui/app_picker_model.h"
#include "ui/tray_panel.h"
#include "ui_test_support.h"

namespace dunelo {
namespace {

using test::Desk;

QQuickItem* findItem(QQuickItem* root, const QString& name) {
  if (!root) return nullptr;
  if (root->objectName() == name && root->isVisible()) return root;
  for (QQuickItem* child : root->childItems())
    if (QQuickItem* hit = findItem(child, name)) return hit;
  return nullptr;
}

class Panel : public testing::Test {
 protected:
  Desk desk;
  std::unique_ptr<QQuickView> view;

  // The desk starts with both permissions granted.
  void open(bool granted = true) {
    if (!granted) desk.setPermissions(false, false);
    desk.makeModel();
    view = createPanelView(*desk.model);
    ASSERT_EQ(view->status(), QQuickView::Ready);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    test::settle();
  }
  QQuickItem* item(const QString& name) {
    QQuickItem* found = nullptr;
    // The views follow the model one turn of the loop later.
    for (int i = 0; i < 50 && !found; ++i) {
      found = findItem(view->contentItem(), name);
      if (!found) QTest::qWait(10);
    }
    EXPECT_TRUE(found) << "no visible item " << name.toStdString();
    return found;
  }
  QPoint centre(QQuickItem* it) {
    return it->mapToScene(QPointF(it->width() / 2, it->height() / 2)).toPoint();
  }
  void click(const QString& name) {
    QQuickItem* it = item(name);
    if (!it) return;
    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::NoModifier, centre(it));
    test::settle();
  }
  // Drags a slider's knob far past its trailing end.
  void dragToEnd(const QString& name) {
    QQuickItem* slider = item(name);
    auto* handle = slider ? slider->property("handle").value<QQuickItem*>() : nullptr;
    ASSERT_TRUE(handle);
    const QPoint from = centre(handle);
    const int end = int(slider->mapToScene(QPointF(slider->width() + 40, 0)).x());
    const QPoint to(std::min(end, view->width() - 1), from.y());
    QTest::mousePress(view.get(), Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 10; ++i) QTest::mouseMove(view.get(), from + (to - from) * i / 10);
    QTest::mouseRelease(view.get(), Qt::LeftButton, Qt::NoModifier, to);
    test::settle();
  }
};

TEST_F(Panel, MainScreenOpensWithoutWritingAndEachControlWritesThrough) {
  desk.settings->blurRadius = 400.0;  // from an older version
  const size_t writes = desk.defaults.writeCount();
  open();
  EXPECT_EQ(desk.defaults.writeCount(), writes) << "showing an out-of-range value is not a write";
  EXPECT_DOUBLE_EQ(desk.settings->blurRadius.get(), 400.0);
  click("powerButton");
  EXPECT_TRUE(desk.defaults.boolForKey("isActive"));
  click("powerButton");
  EXPECT_FALSE(desk.defaults.boolForKey("isActive"));

  // The sensitivity menu assigns even the selected value; the mode card toggles.
  std::vector<ShakeSensitivity> sensitivities;
  auto a = desk.settings->shakeSensitivity.publisher().dropFirst().sink(
      [&](ShakeSensitivity s) { sensitivities.push_back(s); });
  std::vector<BlurMode> modes;
  auto b =
      desk.settings->blurMode.publisher().dropFirst().sink([&](BlurMode m) { modes.push_back(m); });
  click("sensitivityButton");
  click("sensitivity_Medium");
  click("sensitivityButton");
  click("sensitivity_High");
  EXPECT_EQ(sensitivities, (std::vector{ShakeSensitivity::medium, ShakeSensitivity::high}));
  EXPECT_EQ(item("sensitivityLabel")->property("text").toString(), "High");
  EXPECT_EQ(desk.defaults.stringForKey("shakeSensitivity"), "high");
  click("modeCard");
  EXPECT_EQ(item("modeName")->property("text").toString(), "Ambient");
  click("modeCard");
  EXPECT_EQ(modes, (std::vector{BlurMode::ambient, BlurMode::deep}));
  EXPECT_EQ(desk.defaults.stringForKey("blurMode"), "deep");

  // A swatch selects its colour and makes the tint visible.
  click("swatch_Green");
  EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), 0.2);
  EXPECT_TRUE(desk.model->swatches()[6].toMap()["selected"].toBool());

  click("checkForUpdates");
  EXPECT_EQ(desk.sim.updateCheckCount(), 1);
  click("checkForUpdates");
  EXPECT_EQ(desk.sim.updateCheckCount(), 2) << "once per click";
  click("monoPill");
  click("autoHidePill");
  click("launchAtLogin");
  for (const char* key : {"isGrayscale", "autoHideDockAndMenuBar", "launchAtLogin"})
    EXPECT_TRUE(desk.defaults.boolForKey(key)) << key;
  click("quitButton");
  EXPECT_EQ(desk.quits, 1);

  // Each slider dragged to its end stores the range maximum.
  desk.settings->blurRadius = 50.0;  // inside the range, so that dragging moves the knob
  test::settle();
  dragToEnd("blurSlider");
  dragToEnd("tintSlider");
  dragToEnd("grainSlider");
  EXPECT_DOUBLE_EQ(desk.defaults.doubleForKey("blurIntensity"), 100.0);
  EXPECT_DOUBLE_EQ(desk.defaults.doubleForKey("tintOpacity"), 0.6);
  EXPECT_DOUBLE_EQ(desk.defaults.doubleForKey("grainIntensity"), 0.5);
}

TEST_F(Panel, TheCardRemovesAndTheSheetSearchesDismissesAndExcludes) {
  desk.launch({test::app("Firefox", "org.mozilla.firefox"), test::app("GIMP", "org.gimp.GIMP")});
  // Not installed and first: the pill offers to exclude, Finder is in the card.
  desk.settings->excludedAppBundleIDs = {"com.apple.finder", "a.gone", "org.b"};
  open();
  EXPECT_TRUE(item("exclusion_com.apple.finder"));
  EXPECT_TRUE(item("remove_com.apple.finder")) << "every row can be removed";
  click("remove_a.gone");
  EXPECT_EQ(desk.settings->excludedAppBundleIDs.get(),
            (std::set<std::string>{"com.apple.finder", "org.b"}));
  EXPECT_FALSE(findItem(view->contentItem(), "exclusion_a.gone"));

  click("exclusionPill");
  ASSERT_TRUE(item("appPicker"));
  EXPECT_GE(view->height(), 400) << "the panel grows to hold the sheet";
  click("pickerSearch");
  for (char c : std::string("FIRE")) QTest::keyClick(view.get(), c);
  test::settle();
  EXPECT_TRUE(item("pick_org.mozilla.firefox"));
  EXPECT_FALSE(findItem(view->contentItem(), "pick_org.gimp.GIMP"));
  click("pickerDone");
  EXPECT_FALSE(desk.model->showingAppPicker());
  EXPECT_EQ(desk.settings->excludedAppBundleIDs->size(), 2u);

  click("exclusionPill");
  click("pick_org.gimp.GIMP");
  EXPECT_EQ(desk.settings->excludedAppBundleIDs.get(),
            (std::set<std::string>{"com.apple.finder", "org.b", "org.gimp.GIMP"}));
  EXPECT_FALSE(desk.model->showingAppPicker());
  EXPECT_FALSE(findItem(view->contentItem(), "appPicker"));
  EXPECT_TRUE(item("exclusion_org.gimp.GIMP")) << "listed in the card";
}

TEST_F(Panel, PermissionScreenPowerGrantAndCheckAgainReachTheirOwners) {
  open(false);
  ASSERT_TRUE(item("permissionScreen"));
  click("powerButton");
  EXPECT_TRUE(desk.defaults.boolForKey("isActive"));
  click("powerButton");
  EXPECT_FALSE(desk.defaults.boolForKey("isActive"));
  click("screenRecordingRow_grant");
  click("accessibilityRow_grant");
  EXPECT_EQ(desk.sim.openedURLs().size(), 1u);
  EXPECT_EQ(desk.sim.trustPromptCount(), 1);

  int screenAssignments = 0, accessibilityAssignments = 0;
  auto a = desk.permissions->hasScreenRecording.publisher().dropFirst().sink(
      [&](bool) { ++screenAssignments; });
  auto b = desk.permissions->hasAccessibility.publisher().dropFirst().sink(
      [&](bool) { ++accessibilityAssignments; });
  click("checkAgain");
  EXPECT_EQ(screenAssignments, 1);
  EXPECT_EQ(accessibilityAssignments, 1);
  EXPECT_TRUE(item("accessibilityRow_grant"));

  desk.grant(true, false);
  click("checkAgain");
  EXPECT_FALSE(findItem(view->contentItem(), "screenRecordingRow_grant")) << "granted: no button";
  EXPECT_TRUE(item("accessibilityRow_grant"));

  desk.grant(true, true);
  click("checkAgain");
  EXPECT_EQ(screenAssignments, 3);
  EXPECT_EQ(accessibilityAssignments, 3);
  EXPECT_TRUE(item("mainScreen"));
}

}  // namespace
}  // namespace dunelo
