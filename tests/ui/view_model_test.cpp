#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <limits>

#include "ui/app_picker_model.h"
#include "ui/exclusion_summary.h"
#include "ui/tint_swatches.h"
#include "ui_test_support.h"

namespace dunelo {
namespace {

using test::Desk;
using test::settle;

QStringList namesOf(const QVariantList& rows, const char* key) {
  QStringList out;
  for (const QVariant& row : rows) out << row.toMap().value(QString::fromLatin1(key)).toString();
  return out;
}

// ---- Exclusions: one ordering by character code, the pill shows the first, the card the rest ----

struct ExclusionCase {
  const char* what;
  std::set<std::string> ids;
  std::vector<std::string> installed;
  const char* pill;                 // "Exclude app" when the pill shows no application
  std::vector<const char*> card;    // bundle ids in the card, in order
  std::vector<bool> removable;
};

void PrintTo(const ExclusionCase& c, std::ostream* os) { *os << c.what; }

class Exclusions : public testing::TestWithParam<ExclusionCase> {};

TEST_P(Exclusions, PillAndCardSplitTheSortedSet) {
  const ExclusionCase& c = GetParam();
  Desk desk;
  desk.lookup.installed.clear();
  for (const auto& id : c.installed) desk.lookup.installed[id] = {"App " + id, ""};
  desk.settings->excludedAppBundleIDs = c.ids;
  PopoverModel& model = desk.makeModel();

  EXPECT_EQ(model.pillName().toStdString(), c.pill) << c.what;
  const QVariantList card = model.furtherExclusions();
  ASSERT_EQ(card.size(), qsizetype(c.card.size())) << c.what;
  for (size_t i = 0; i < c.card.size(); ++i) {
    EXPECT_EQ(card[qsizetype(i)].toMap()["bundleID"].toString().toStdString(), c.card[i]) << c.what;
    EXPECT_EQ(card[qsizetype(i)].toMap()["removable"].toBool(), bool(c.removable[i])) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ByCharacterCodeAndFinderRules, Exclusions,
    testing::Values(
        ExclusionCase{"default set: Finder in the pill, no card", {"com.apple.finder"},
                      {"com.apple.finder"}, "App com.apple.finder", {}, {}},
        ExclusionCase{"empty set", {}, {}, "Exclude app", {}, {}},
        ExclusionCase{"upper case sorts before lower case",
                      {"com.apple.finder", "Zed.app", "com.Apple.b"},
                      {"Zed.app", "com.apple.finder"}, "App Zed.app",
                      {"com.Apple.b", "com.apple.finder"}, {true, false}},
        ExclusionCase{"Finder plus one after it: card lists only the other",
                      {"com.apple.finder", "org.gimp.GIMP"}, {"com.apple.finder"},
                      "App com.apple.finder", {"org.gimp.GIMP"}, {true}},
        ExclusionCase{"Finder not first is listed without a remove button",
                      {"com.apple.finder", "a.first"}, {"a.first"}, "App a.first",
                      {"com.apple.finder"}, {false}},
        ExclusionCase{"an uninstalled first exclusion stays reachable in the card",
                      {"a.gone", "b.here"}, {"b.here"}, "Exclude app", {"a.gone", "b.here"},
                      {true, true}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ExclusionCard, UninstalledRowsShowTheBareIdentifierWithoutIcon) {
  Desk desk;
  desk.settings->excludedAppBundleIDs = {"com.apple.finder", "x.notinstalled"};
  const auto row = desk.makeModel().furtherExclusions().at(0).toMap();
  EXPECT_EQ(row["name"].toString(), "x.notinstalled");
  EXPECT_TRUE(row["icon"].toString().isEmpty());
}

TEST(ExclusionCard, RemovingWritesTheSetWithoutThatIdentifierAndFinderStays) {
  Desk desk;
  desk.settings->excludedAppBundleIDs = {"com.apple.finder", "d.two", "e.three"};
  PopoverModel& model = desk.makeModel();
  int assignments = 0;
  auto token = desk.settings->excludedAppBundleIDs.publisher().dropFirst().sink(
      [&](const auto&) { ++assignments; });

  model.removeExclusion("d.two");
  EXPECT_EQ(desk.settings->excludedAppBundleIDs.get(),
            (std::set<std::string>{"com.apple.finder", "e.three"}));
  EXPECT_EQ(model.furtherExclusions().size(), 1);
  model.removeExclusion("e.three");
  EXPECT_TRUE(model.furtherExclusions().isEmpty()) << "one exclusion left: the pill alone shows it";
  model.removeExclusion("com.apple.finder");
  EXPECT_EQ(desk.settings->excludedAppBundleIDs.get(), std::set<std::string>{"com.apple.finder"});
  EXPECT_EQ(assignments, 2);
  // Persisted through the store.
  EXPECT_TRUE(desk.defaults.objectForKey("excludedAppBundleIDs").has_value());
}

// ---- The picker: running regular applications, not excluded, filtered by name ----

class Picker : public testing::Test {
 protected:
  Desk desk;
  void SetUp() override {
    desk.launch({
        test::app("zsh helper", "org.helper", ActivationPolicy::accessory),
        test::app("Firefox", "org.mozilla.firefox"),
        test::app("daemon", "org.daemon", ActivationPolicy::prohibited),
        test::app("no id", std::nullopt),
        test::app("Files", "com.apple.finder"),
        test::app("GIMP", "org.gimp.GIMP"),
        test::app("alacritty", "Alacritty"),
        test::app("My Editor", "org.editor"),
    });
  }
  QStringList labels() { return namesOf(desk.makeModel().picker()->property("apps").toList(), "label"); }
  AppPickerModel& picker() { return *qobject_cast<AppPickerModel*>(desk.model->picker()); }
};

TEST_F(Picker, OffersRegularNotExcludedAppsSortedByCharacterCode) {
  EXPECT_EQ(labels(), (QStringList{"Firefox", "GIMP", "My Editor", "alacritty"}));
}

TEST_F(Picker, SearchIgnoresCaseAndOnlyLooksAtNames) {
  desk.makeModel();
  struct Case { const char* search; QStringList expected; };
  const Case cases[] = {
      {"fire", {"Firefox"}},  {"FIRE", {"Firefox"}},   {"ALAC", {"alacritty"}},
      {"mozilla", {}},        {" ", {"My Editor"}},    {"  ", {}},
      {"", {"Firefox", "GIMP", "My Editor", "alacritty"}},
  };
  for (const Case& c : cases) {
    picker().setSearchText(QString::fromUtf8(c.search));
    EXPECT_EQ(namesOf(picker().apps(), "label"), c.expected) << "search '" << c.search << "'";
  }
}

TEST_F(Picker, PickingExcludesOnceAndClosesWhileDoneChangesNothing) {
  PopoverModel& model = desk.makeModel();
  model.openAppPicker();
  picker().setSearchText("gim");
  int assignments = 0;
  auto token = desk.settings->excludedAppBundleIDs.publisher().dropFirst().sink(
      [&](const auto&) { ++assignments; });

  picker().pick("org.gimp.GIMP");
  EXPECT_EQ(assignments, 1);
  EXPECT_TRUE(desk.settings->excludedAppBundleIDs->count("org.gimp.GIMP"));
  EXPECT_FALSE(model.showingAppPicker());

  model.openAppPicker();
  EXPECT_TRUE(picker().searchText().isEmpty()) << "each presentation starts with an empty search";
  EXPECT_FALSE(namesOf(picker().apps(), "label").contains("GIMP"));
  picker().done();
  EXPECT_FALSE(model.showingAppPicker());
  EXPECT_EQ(assignments, 1);

  model.removeExclusion("org.gimp.GIMP");
  model.openAppPicker();
  EXPECT_TRUE(namesOf(picker().apps(), "label").contains("GIMP")) << "listed again after removal";
}

TEST(PickerLabel, FallsBackToIdentifierThenUnknown) {
  EXPECT_EQ(pickerLabel(test::app("Name", "id")), "Name");
  EXPECT_EQ(pickerLabel(test::app("", "some.id")), "some.id");
  EXPECT_EQ(pickerLabel(test::app("", std::nullopt)), "Unknown");
}

// ---- Tint swatches ----

TEST(ColorsMatch, ToleranceIsStrictlyBelowOneTenthPerComponent) {
  const Color black = Color::srgb(0, 0, 0);
  struct Case { Color other; bool match; const char* what; };
  const Case cases[] = {
      {Color::srgb(0.1, 0, 0), false, "red differs by exactly 0.1"},
      {Color::srgb(0, 0.1, 0), false, "green differs by exactly 0.1"},
      {Color::srgb(0, 0, 0.1), false, "blue differs by exactly 0.1"},
      {Color::srgb(0.0999, 0.0999, 0.0999), true, "just inside on every component"},
      {Color::srgb(0, 0, 0, 0.0), true, "alpha is not compared"},
      {Color::grayscale(0.05), true, "a gray colour converts"},
      {Color{0, 0, 0, 1, ColorSpace::pattern}, false, "a pattern colour has no components"},
      {Color::srgb(std::nan(""), 0, 0), false, "a corrupt component matches nothing"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(colorsMatch(black, c.other), c.match) << c.what;
    EXPECT_EQ(colorsMatch(c.other, black), c.match) << c.what << " (swapped)";
  }
}

TEST(Swatches, SelectionFollowsTheStoredColour) {
  Desk desk;
  PopoverModel& model = desk.makeModel();
  auto selected = [&] {
    QStringList out;
    for (const QVariant& s : model.swatches())
      if (s.toMap()["selected"].toBool()) out << s.toMap()["name"].toString();
    return out;
  };
  EXPECT_EQ(namesOf(model.swatches(), "name"),
            (QStringList{"Blue", "Purple", "Magenta", "Red", "Orange", "Yellow", "Green", "Gray",
                         "Black"}));
  desk.settings->tintColor = Color::srgb(1, 0.2, 0.15);  // near Red
  EXPECT_EQ(selected(), QStringList{"Red"});
  desk.settings->tintColor = Color{0, 0, 0, 1, ColorSpace::pattern};
  EXPECT_TRUE(selected().isEmpty());
  desk.settings->tintColor = Color::srgb(0.5, 0.9, 0.9);
  EXPECT_TRUE(selected().isEmpty());
}

TEST(Swatches, ClickSetsColourAndRaisesOnlyAFaintOpacityToTwoTenths) {
  struct Case { double before; double after; };
  for (const Case c : {Case{0.0, 0.2}, Case{0.05, 0.2}, Case{0.1, 0.1}, Case{0.45, 0.45}}) {
    Desk desk;
    desk.settings->tintOpacity = c.before;
    PopoverModel& model = desk.makeModel();
    model.pickSwatch(3);
    EXPECT_TRUE(colorsMatch(desk.settings->tintColor.get(), tintPresets()[3].color));
    EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), c.after) << "before " << c.before;
    model.pickSwatch(0);
    EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), c.after) << "a second swatch keeps it";
    EXPECT_TRUE(colorsMatch(desk.settings->tintColor.get(), tintPresets()[0].color));
  }
}

// ---- Screens, labels and write-through controls ----

TEST(Screens, PermissionScreenUntilBothGrantedThenSwitchesWithoutReopening) {
  Desk desk(false);
  PopoverModel& model = desk.makeModel();
  QSignalSpy changed(&model, &PopoverModel::changed);
  EXPECT_FALSE(model.showsMainScreen());

  desk.grant(true, false);
  model.checkAgain();
  settle();
  EXPECT_FALSE(model.showsMainScreen()) << "one permission is not enough";
  EXPECT_TRUE(model.hasScreenRecording());
  EXPECT_FALSE(model.hasAccessibility());

  const int before = int(changed.count());
  desk.grant(true, true);
  desk.permissions->refresh();  // the coordinator's poll, no click
  settle();
  EXPECT_GT(changed.count(), before);
  EXPECT_TRUE(model.showsMainScreen());

  desk.setPermissions(true, false);
  settle();
  EXPECT_FALSE(model.showsMainScreen()) << "losing one switches back";
}

TEST(Screens, ChangesAreAnnouncedOnceAfterTheStoreHoldsThem) {
  Desk desk;
  PopoverModel& model = desk.makeModel();
  QSignalSpy changed(&model, &PopoverModel::changed);
  std::vector<bool> seen;
  QObject::connect(&model, &PopoverModel::changed, [&] { seen.push_back(model.isActive()); });
  desk.settings->isActive = true;
  desk.settings->isGrayscale = true;
  settle();
  EXPECT_EQ(changed.count(), 1) << "coalesced per turn of the loop";
  EXPECT_EQ(seen, std::vector<bool>{true}) << "views re-read after the value is stored";
}

TEST(Labels, SensitivityAndModeAreCapitalisedRawValues) {
  Desk desk;
  PopoverModel& model = desk.makeModel();
  EXPECT_EQ(model.sensitivityOptions(), (QStringList{"Low", "Medium", "High"}));
  for (ShakeSensitivity s : kAllShakeSensitivities) {
    desk.settings->shakeSensitivity = s;
    EXPECT_EQ(model.sensitivityLabel(), capitalized(rawValue(s)));
  }
  EXPECT_EQ(model.sensitivityLabel(), "High");
  EXPECT_EQ(model.modeName(), "Deep");
  desk.settings->blurMode = BlurMode::ambient;
  EXPECT_EQ(model.modeName(), "Ambient");
  EXPECT_EQ(capitalized(""), "");
}

TEST(Controls, SensitivityChoiceAssignsEvenTheSelectedValue) {
  Desk desk;
  PopoverModel& model = desk.makeModel();
  std::vector<ShakeSensitivity> assigned;
  auto token = desk.settings->shakeSensitivity.publisher().dropFirst().sink(
      [&](ShakeSensitivity s) { assigned.push_back(s); });
  model.selectSensitivity(1);  // medium, already stored
  model.selectSensitivity(0);
  model.selectSensitivity(7);  // out of range: ignored
  EXPECT_EQ(assigned, (std::vector{ShakeSensitivity::medium, ShakeSensitivity::low}));
  EXPECT_EQ(desk.defaults.stringForKey("shakeSensitivity"), "low");
}

TEST(Controls, TogglesWriteTheNegationAndModeTwiceReturns) {
  Desk desk;
  PopoverModel& model = desk.makeModel();
  model.toggleMode();
  EXPECT_EQ(desk.settings->blurMode.get(), BlurMode::ambient);
  model.toggleMode();
  EXPECT_EQ(desk.settings->blurMode.get(), BlurMode::deep);
  model.togglePower();
  EXPECT_TRUE(desk.defaults.boolForKey("isActive"));
  model.toggleGrayscale();
  model.toggleAutoHide();
  EXPECT_TRUE(desk.settings->isGrayscale.get());
  EXPECT_TRUE(desk.settings->autoHideDockAndMenuBar.get());
  model.setLaunchAtLogin(true);
  EXPECT_TRUE(desk.defaults.boolForKey("launchAtLogin"));
}

TEST(Controls, SlidersStayInTheirRangesAndOpeningWritesNothing) {
  Desk desk;
  desk.settings->blurRadius = 250.0;  // from an older version
  const size_t writes = desk.defaults.writeCount();
  PopoverModel& model = desk.makeModel();
  EXPECT_DOUBLE_EQ(model.blurRadius(), 250.0);
  EXPECT_EQ(desk.defaults.writeCount(), writes) << "showing a value is not a write";

  model.setBlurRadius(180);
  EXPECT_DOUBLE_EQ(desk.settings->blurRadius.get(), 100.0);
  model.setTintOpacity(-1);
  EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), 0.0);
  model.setGrainIntensity(0.9);
  EXPECT_DOUBLE_EQ(desk.settings->grainIntensity.get(), 0.5);
  model.setTintOpacity(std::numeric_limits<double>::quiet_NaN());
  EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), 0.0);
}

TEST(Controls, UpdatesRowOnlyWithACallbackAndQuitUsesItsOwn) {
  Desk desk;
  EXPECT_FALSE(desk.makeModel(false).hasCheckForUpdates());
  desk.model->checkForUpdates();
  EXPECT_EQ(desk.sim.updateCheckCount(), 0);
  PopoverModel& model = desk.makeModel(true);
  EXPECT_TRUE(model.hasCheckForUpdates());
  model.quit();
  EXPECT_EQ(desk.quits, 1);
}

TEST(Onboarding, GrantButtonsAskWithoutChangingTheFlags) {
  Desk desk(false);
  PopoverModel& model = desk.makeModel();
  desk.sim.setGrantOnTrustPrompt(true);
  model.grantScreenRecording();
  model.grantAccessibility();
  EXPECT_EQ(desk.sim.openedURLs().size(), 1u);
  EXPECT_EQ(desk.sim.trustPromptCount(), 1);
  EXPECT_FALSE(model.hasScreenRecording());
  EXPECT_FALSE(model.hasAccessibility());
}

// ---- Desktop entries ----

class Entries : public testing::Test {
 protected:
  QTemporaryDir user, system;
  void write(const QTemporaryDir& dir, const QString& rel, const QByteArray& text) {
    const QString path = dir.filePath(rel);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  }
};

TEST_F(Entries, FindsByIdThenCaseThenWindowClass) {
  write(system, "org.gnome.Nautilus.desktop",
        "[Desktop Entry]\nType=Application\nName=Files\nIcon=org.gnome.Nautilus\n"
        "StartupWMClass=nautilus-wm\n[Desktop Action new]\nName=New Window\n");
  write(system, "kde/org.kde.kate.desktop", "[Desktop Entry]\nType=Application\nName=Kate\n");
  write(system, "hidden.desktop", "[Desktop Entry]\nType=Application\nName=H\nHidden=true\n");
  write(system, "link.desktop", "[Desktop Entry]\nType=Link\nName=L\n");
  write(system, "noname.desktop", "[Desktop Entry]\nType=Application\n");
  DesktopEntries entries({system.path()});

  ASSERT_TRUE(entries.find("org.gnome.Nautilus"));
  EXPECT_EQ(entries.find("org.gnome.Nautilus")->name, "Files");
  EXPECT_EQ(entries.find("org.gnome.Nautilus")->iconName, "org.gnome.Nautilus");
  EXPECT_EQ(entries.find("ORG.GNOME.NAUTILUS")->name, "Files");
  EXPECT_EQ(entries.find("Nautilus-WM")->name, "Files");
  EXPECT_EQ(entries.find("kde-org.kde.kate")->name, "Kate");
  EXPECT_EQ(entries.find("noname")->name, "noname");
  EXPECT_FALSE(entries.find("hidden"));
  EXPECT_FALSE(entries.find("link"));
  EXPECT_FALSE(entries.find(""));
  EXPECT_FALSE(entries.find("com.apple.finder"));
}

TEST_F(Entries, EarlierDirectoryWinsAndNewInstallsAreSeen) {
  write(system, "a.desktop", "[Desktop Entry]\nType=Application\nName=System A\n");
  write(user, "a.desktop", "[Desktop Entry]\nType=Application\nName=User A\n");
  DesktopEntries entries({user.path(), system.path()});
  EXPECT_EQ(entries.find("a")->name, "User A");
  EXPECT_FALSE(entries.find("b"));
  QThread::msleep(20);  // directory times have millisecond resolution
  write(user, "b.desktop", "[Desktop Entry]\nType=Application\nName=B\n");
  ASSERT_TRUE(entries.find("b"));
  EXPECT_EQ(entries.find("b")->name, "B");
}

}  // namespace
}  // namespace dunelo
