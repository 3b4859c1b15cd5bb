// Clicks and types through the real QML panel on the offscreen platform and checks what reaches
// the settings store, the permission checker and the updater, and how the panel lays itself out.
#include <gtest/gtest.h>

#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
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
    view->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    test::settle();
  }
  void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(view.get(), k, modifiers);
    test::settle();
  }
  // The named control that has the keyboard focus.
  QString focused() {
    for (QQuickItem* it = view->activeFocusItem(); it; it = it->parentItem())
      if (!it->objectName().isEmpty()) return it->objectName();
    return {};
  }
  // Whether the control shows its focus ring (a FocusRing among its descendants is visible).
  bool ringShown(QQuickItem* control) {
    for (QQuickItem* child : control->childItems()) {
      if (QString(child->metaObject()->className()).startsWith("FocusRing") && child->isVisible())
        return true;
      if (ringShown(child)) return true;
    }
    return false;
  }
  QRectF sceneRect(QQuickItem* it) {
    return QRectF(it->mapToScene(QPointF(0, 0)), QSizeF(it->width(), it->height()));
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

TEST_F(Panel, TheCardRemovesAndTheSheetDismissesAndExcludes) {
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
  EXPECT_FALSE(findItem(view->contentItem(), "accessibilityRow_help")) << "no help before Grant";
  desk.sim.setGrantOnTrustPrompt(true);  // seen at the next check, not by the grant itself
  click("screenRecordingRow_grant");
  click("accessibilityRow_grant");
  EXPECT_EQ(desk.sim.openedURLs(), std::vector<std::string>{sim::kScreenCaptureSettingsURL});
  EXPECT_EQ(desk.sim.trustPromptCount(), 1);
  // Each row now says what the desktop lacks, in its words.
  for (const auto& [row, help] :
       {std::pair{"screenRecordingRow", desk.permissions->screenRecordingHelp()},
        std::pair{"accessibilityRow", desk.permissions->accessibilityHelp()}}) {
    QQuickItem* text = item(QString(row) + "_helpText");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->property("text").toString().toStdString(), help.text);
  }
  QStringList order;
  for (int i = 0; i < 6; ++i) {
    key(Qt::Key_Tab);
    order << focused();
  }
  // On from the button just clicked, round the screen.
  EXPECT_EQ(order, (QStringList{"checkAgain", "quitButton", "exclusionPill", "powerButton",
                                "screenRecordingRow_grant", "accessibilityRow_grant"}));

  // Check Again refreshes the flags (which it assigns every time is the checker's business).
  desk.grant(true, false);
  click("checkAgain");
  EXPECT_FALSE(findItem(view->contentItem(), "screenRecordingRow_grant")) << "granted: no button";
  EXPECT_FALSE(findItem(view->contentItem(), "screenRecordingRow_help")) << "nor any help";
  EXPECT_TRUE(item("accessibilityRow_help"));
  desk.grant(true, true);
  click("checkAgain");
  EXPECT_TRUE(item("mainScreen"));
}

TEST_F(Panel, TabReachesEveryControlInOrderWithARingAndTheKeysOperateThem) {
  desk.settings->excludedAppBundleIDs = {"com.apple.finder", "org.b"};
  open();
  const QStringList order = {
      "exclusionPill", "powerButton",   "sensitivityButton", "modeCard",       "blurSlider",
      "swatchRow",     "tintSlider",    "grainSlider",       "monoPill",       "autoHidePill",
      "remove_org.b",  "launchAtLogin", "quitButton",        "checkForUpdates"};
  QStringList forward, backward;
  for (int i = 0; i < order.size(); ++i) {
    key(Qt::Key_Tab);
    forward << focused();
    EXPECT_TRUE(ringShown(item(focused()))) << focused().toStdString();
  }
  EXPECT_EQ(forward, order);
  key(Qt::Key_Tab);
  EXPECT_EQ(focused(), order.front()) << "the chain wraps";
  for (int i = 0; i < order.size(); ++i) {
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    backward.prepend(focused());
  }
  EXPECT_EQ(backward, order);
  click("powerButton");
  EXPECT_FALSE(ringShown(item("powerButton"))) << "a click focuses without a ring";

  // Space and Return press buttons; the arrows move a slider by a twentieth and pick swatches.
  auto tabTo = [&](const QString& name) {
    for (int i = 0; i <= order.size() && focused() != name; ++i) key(Qt::Key_Tab);
    ASSERT_EQ(focused(), name);
  };
  const bool active = desk.settings->isActive.get();
  tabTo("powerButton");
  key(Qt::Key_Space);
  EXPECT_NE(desk.settings->isActive.get(), active);
  tabTo("modeCard");
  key(Qt::Key_Return);
  EXPECT_EQ(desk.settings->blurMode.get(), BlurMode::ambient);
  tabTo("blurSlider");
  key(Qt::Key_Right);
  EXPECT_DOUBLE_EQ(desk.defaults.doubleForKey("blurIntensity"), 75.0);
  key(Qt::Key_Left);
  key(Qt::Key_Left);
  EXPECT_DOUBLE_EQ(desk.settings->blurRadius.get(), 65.0);
  desk.model->pickSwatch(0);
  tabTo("swatchRow");
  key(Qt::Key_Right);
  EXPECT_TRUE(desk.model->swatches()[1].toMap()["selected"].toBool());
  EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), 0.2);
  key(Qt::Key_End);
  EXPECT_TRUE(desk.model->swatches()[8].toMap()["selected"].toBool());
  key(Qt::Key_Right);
  EXPECT_TRUE(desk.model->swatches()[8].toMap()["selected"].toBool()) << "stops at the end";
  tabTo("launchAtLogin");
  key(Qt::Key_Space);
  key(Qt::Key_Return);
  key(Qt::Key_Return);
  EXPECT_TRUE(desk.settings->launchAtLogin.get());

  // The menu: Space opens it on the stored value, Down and Return pick, Escape only closes it.
  tabTo("sensitivityButton");
  key(Qt::Key_Space);
  ASSERT_TRUE(item("sensitivity_High"));
  key(Qt::Key_Down);
  key(Qt::Key_Return);
  EXPECT_EQ(desk.settings->shakeSensitivity.get(), ShakeSensitivity::high);
  EXPECT_EQ(focused(), "sensitivityButton") << "the focus comes back to the button";
  QSignalSpy closes(desk.model.operator->(), &PopoverModel::closeRequested);
  key(Qt::Key_Space);
  ASSERT_TRUE(item("sensitivity_Low"));
  key(Qt::Key_Escape);
  EXPECT_FALSE(findItem(view->contentItem(), "sensitivity_Low"));
  EXPECT_EQ(closes.count(), 0);
  EXPECT_EQ(desk.settings->shakeSensitivity.get(), ShakeSensitivity::high);

  // The sheet: typing goes to the search at once, Return picks the first match, Escape closes
  // the sheet and then the panel.
  desk.launch({test::app("GIMP", "org.gimp.GIMP"), test::app("Gnote", "org.gnome.Gnote"),
               test::app("Firefox", "org.mozilla.firefox")});
  tabTo("exclusionPill");
  key(Qt::Key_Space);
  ASSERT_TRUE(item("appPicker"));
  EXPECT_EQ(focused(), "pickerSearch");
  for (char c : std::string("gn")) QTest::keyClick(view.get(), c);
  key(Qt::Key_Return);
  EXPECT_TRUE(desk.settings->excludedAppBundleIDs->count("org.gnome.Gnote"));
  EXPECT_FALSE(desk.model->showingAppPicker());
  click("exclusionPill");
  key(Qt::Key_Tab);
  EXPECT_EQ(focused(), "pick_org.mozilla.firefox") << "Tab stays in the sheet: its first row";
  key(Qt::Key_Down);
  key(Qt::Key_Space);  // the second row: GIMP
  EXPECT_TRUE(desk.settings->excludedAppBundleIDs->count("org.gimp.GIMP"));
  click("exclusionPill");
  key(Qt::Key_Escape);
  EXPECT_FALSE(desk.model->showingAppPicker());
  EXPECT_EQ(closes.count(), 0);
  key(Qt::Key_Escape);
  EXPECT_EQ(closes.count(), 1);
}

TEST_F(Panel, HintWrapsMenuOpensBelowItsButtonRowsElideAndDividersRunEdgeToEdge) {
  desk.settings->shakeSensitivity = ShakeSensitivity::low;
  open();
  // The hint is never cut: it wraps beside the menu button inside its capsule.
  QQuickItem* hint = item("shakeHint");
  QQuickItem* button = item("sensitivityButton");
  EXPECT_FALSE(hint->property("truncated").toBool());
  EXPECT_EQ(hint->property("elide").toInt(), int(Qt::ElideNone));
  EXPECT_LE(sceneRect(hint).right(), sceneRect(button).left());
  EXPECT_LE(sceneRect(hint).bottom(), sceneRect(hint->parentItem()).bottom());

  click("sensitivityButton");
  QQuickItem* low = item("sensitivity_Low");
  ASSERT_TRUE(low);
  const QRectF menu = sceneRect(low->parentItem()->parentItem()->parentItem());
  EXPECT_GE(menu.top(), sceneRect(button).bottom()) << "below its button";
  EXPECT_GE(menu.left(), 0);
  EXPECT_LE(menu.right(), view->width());
  EXPECT_EQ(low->height(), 22);
  EXPECT_TRUE(item("sensitivity_Low_check"));
  EXPECT_FALSE(findItem(view->contentItem(), "sensitivity_High_check")) << "only the stored one";
  key(Qt::Key_Escape);

  // A long name is elided inside its row.
  desk.launch({test::app(std::string(120, 'W'), "org.long")});
  click("exclusionPill");
  QQuickItem* row = item("pick_org.long");
  ASSERT_TRUE(row);
  QQuickItem* label = findItem(row, "pickLabel");
  EXPECT_TRUE(label->property("truncated").toBool());
  EXPECT_LE(sceneRect(label).right(), sceneRect(row).right());
  key(Qt::Key_Escape);

  desk.setPermissions(false, false);
  ASSERT_TRUE(item("permissionScreen"));
  int dividers = 0;
  for (QQuickItem* it : item("permissionScreen")->childItems()) {
    if (it->objectName() != "permissionDivider") continue;
    ++dividers;
    const QRectF line = sceneRect(it->childItems().front());
    EXPECT_EQ(line.left(), 0);
    EXPECT_EQ(line.right(), view->width());
  }
  EXPECT_EQ(dividers, 2);
}

}  // namespace
}  // namespace dunelo
