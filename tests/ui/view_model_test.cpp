#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>

#include "support/hostile_files.h"
#include "support/log_capture.h"
#include "ui/app_picker_model.h"
#include "ui/exclusion_summary.h"
#include "ui/image_providers.h"
#include "ui/tint_swatches.h"
#include "ui_test_support.h"

namespace dunelo {
namespace {

using test::Desk;
using test::settle;

QStringList column(const QVariantList& rows, const char* key) {
  QStringList out;
  for (const QVariant& row : rows) out << row.toMap().value(QString::fromLatin1(key)).toString();
  return out;
}

QStringList words(const char* text) {
  return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

// ---- Exclusions: one ordering by character code, the pill shows the first, the card the rest ----

TEST(Exclusions, PillShowsTheFirstInstalledAndTheCardTheRestInCharacterCodeOrder) {
  // What, the stored set, the installed ones, the pill ("Exclude app": no application), the card.
  const char* const cases[][5] = {
      {"default set: Finder in the pill, no card", "com.apple.finder", "com.apple.finder",
       "App com.apple.finder", ""},
      {"empty set", "", "", "Exclude app", ""},
      {"upper case sorts before lower case", "com.apple.finder Zed.app com.Apple.b",
       "Zed.app com.apple.finder", "App Zed.app", "com.Apple.b com.apple.finder"},
      {"Finder plus one after it: card lists only the other", "com.apple.finder org.gimp.GIMP",
       "com.apple.finder", "App com.apple.finder", "org.gimp.GIMP"},
      {"Finder not first is listed too", "com.apple.finder a.first", "a.first", "App a.first",
       "com.apple.finder"},
      {"an uninstalled first exclusion stays reachable in the card", "a.gone b.here", "b.here",
       "Exclude app", "a.gone b.here"}};
  for (const auto& [what, stored, installed, pill, cardIDs] : cases) {
    SCOPED_TRACE(what);
    Desk desk;
    desk.lookup.installed.clear();
    desk.lookup.aliases.clear();
    for (const QString& id : words(installed))
      desk.lookup.installed[id.toStdString()] = {"App " + id.toStdString(), ""};
    std::set<std::string> ids;
    for (const QString& id : words(stored)) ids.insert(id.toStdString());
    desk.settings->excludedAppBundleIDs = ids;
    PopoverModel& model = desk.makeModel();
    EXPECT_EQ(model.pillName().toStdString(), pill);
    const QVariantList card = model.furtherExclusions();
    EXPECT_EQ(column(card, "bundleID"), words(cardIDs));
    for (const QVariant& row : card) {
      const QVariantMap m = row.toMap();
      const std::string id = m["bundleID"].toString().toStdString();
      // Not installed: the bare identifier and no icon.
      EXPECT_EQ(m["name"].toString().toStdString(),
                desk.lookup.installed.count(id) ? "App " + id : id);
      EXPECT_TRUE(m["icon"].toString().isEmpty());
    }
  }
}

TEST(Exclusions, FinderIsTheFileManagerAndEveryRowRemovesItsIdentifier) {
  Desk desk;  // com.apple.finder stands for the installed org.gnome.Nautilus, "Files"
  PopoverModel& model = desk.makeModel();
  EXPECT_EQ(model.pillName(), "Files") << "the default set shows the file manager";
  EXPECT_EQ(model.pillIcon(), PopoverModel::iconUrl("system-file-manager"));

  desk.settings->excludedAppBundleIDs = {"a.first", "com.apple.finder", "d.two"};
  desk.lookup.installed["a.first"] = {"First", ""};
  int assignments = 0;
  auto token = desk.settings->excludedAppBundleIDs.publisher().dropFirst().sink(
      [&](const auto&) { ++assignments; });
  EXPECT_EQ(column(model.furtherExclusions(), "name"), (QStringList{"Files", "d.two"}));
  model.removeExclusion("com.apple.finder");
  model.removeExclusion("not.there");
  EXPECT_EQ(desk.settings->excludedAppBundleIDs.get(), (std::set<std::string>{"a.first", "d.two"}));
  model.removeExclusion("d.two");
  EXPECT_TRUE(model.furtherExclusions().isEmpty()) << "one exclusion left: the pill alone shows it";
  EXPECT_EQ(assignments, 2) << "a missing identifier is not a write";
  EXPECT_TRUE(desk.defaults.objectForKey("excludedAppBundleIDs").has_value()) << "persisted";
}

// ---- The picker: running regular applications, not excluded, filtered by name ----

TEST(Picker, OffersRegularAppsByNameAndPickingExcludesOnceAndCloses) {
  Desk desk;
  desk.launch({test::app("zsh helper", "org.helper", ActivationPolicy::accessory),
               test::app("Firefox", "org.mozilla.firefox"),
               test::app("daemon", "org.daemon", ActivationPolicy::prohibited),
               test::app("no id", std::nullopt), test::app("Files", "org.gnome.Nautilus"),
               test::app("GIMP", "org.gimp.GIMP"), test::app("alacritty", "Alacritty"),
               test::app("My Editor", "org.editor")});
  PopoverModel& model = desk.makeModel();
  auto& picker = *qobject_cast<AppPickerModel*>(model.picker());
  auto labels = [&] { return column(picker.property("apps").toList(), "label"); };

  // Regular, with an identifier, not excluded, by character code; search ignores case.
  auto search = [&](const char* text) {
    picker.setSearchText(QString::fromUtf8(text));
    return labels().join(", ");
  };
  const QString all = "Firefox, GIMP, My Editor, alacritty";
  EXPECT_EQ(search(""), all) << "regular, with an identifier, not excluded (the file manager is, "
                                "as com.apple.finder), by character code";
  EXPECT_EQ(search("fire"), "Firefox");
  EXPECT_EQ(search("FIRE"), "Firefox");
  EXPECT_EQ(search("ALAC"), "alacritty");
  EXPECT_EQ(search("mozilla"), "") << "names only";
  EXPECT_EQ(search(" "), "My Editor");
  EXPECT_EQ(search("  "), "");
  EXPECT_EQ(search(""), all);

  model.openAppPicker();
  picker.setSearchText("gim");
  int assignments = 0;
  auto token = desk.settings->excludedAppBundleIDs.publisher().dropFirst().sink(
      [&](const auto&) { ++assignments; });
  picker.pick("org.gimp.GIMP");
  EXPECT_EQ(assignments, 1);
  EXPECT_TRUE(desk.settings->excludedAppBundleIDs->count("org.gimp.GIMP"));
  EXPECT_FALSE(model.showingAppPicker());

  model.openAppPicker();
  EXPECT_TRUE(picker.searchText().isEmpty()) << "each presentation starts with an empty search";
  EXPECT_FALSE(labels().contains("GIMP"));
  picker.done();
  EXPECT_FALSE(model.showingAppPicker());
  EXPECT_EQ(assignments, 1) << "done changes nothing";

  model.removeExclusion("org.gimp.GIMP");
  model.openAppPicker();
  EXPECT_TRUE(labels().contains("GIMP")) << "listed again after removal";

  // What could not be stored is not added (it would be gone at the next start).
  picker.pick(QString(int(kMaxBundleIDBytes) + 1, u'x'));
  std::set<std::string> full;
  for (size_t i = 0; full.size() < kMaxExcludedApps; ++i) full.insert("app" + std::to_string(i));
  desk.settings->excludedAppBundleIDs = full;
  model.openAppPicker();
  picker.pick("org.editor");
  EXPECT_EQ(desk.settings->excludedAppBundleIDs.get(), full);
  EXPECT_FALSE(model.showingAppPicker());
}

TEST(PickerLabel, FallsBackToIdentifierThenUnknown) {
  EXPECT_EQ(pickerLabel(test::app("Name", "id")), "Name");
  EXPECT_EQ(pickerLabel(test::app("", "some.id")), "some.id");
  EXPECT_EQ(pickerLabel(test::app("", std::nullopt)), "Unknown");
}

// ---- Tint swatches ----

TEST(ColorsMatch, ToleranceIsStrictlyBelowOneTenthPerComponent) {
  const Color black = Color::srgb(0, 0, 0);
  const std::tuple<Color, bool, const char*> cases[] = {
      {Color::srgb(0.1, 0, 0), false, "red differs by exactly 0.1"},
      {Color::srgb(0, 0.1, 0), false, "green differs by exactly 0.1"},
      {Color::srgb(0, 0, 0.1), false, "blue differs by exactly 0.1"},
      {Color::srgb(0.0999, 0.0999, 0.0999), true, "just inside on every component"},
      {Color::srgb(0, 0, 0, 0.0), true, "alpha is not compared"},
      {Color::grayscale(0.05), true, "a gray colour converts"},
      {Color{0, 0, 0, 1, ColorSpace::pattern}, false, "a pattern colour has no components"},
      {Color::srgb(std::nan(""), 0, 0), false, "a corrupt component matches nothing"},
  };
  for (const auto& [other, match, what] : cases) {
    EXPECT_EQ(colorsMatch(black, other), match) << what;
    EXPECT_EQ(colorsMatch(other, black), match) << what << " (swapped)";
  }
}

TEST(Swatches, SelectionFollowsTheStoredColourAndAClickRaisesOnlyAFaintOpacity) {
  Desk desk;
  PopoverModel& model = desk.makeModel();
  auto selected = [&] {
    QStringList out;
    for (const QVariant& s : model.swatches())
      if (s.toMap()["selected"].toBool()) out << s.toMap()["name"].toString();
    return out;
  };
  desk.settings->tintColor = Color::srgb(1, 0.2, 0.15);  // near Red
  EXPECT_EQ(selected(), QStringList{"Red"});
  desk.settings->tintColor = Color{0, 0, 0, 1, ColorSpace::pattern};
  EXPECT_TRUE(selected().isEmpty());
  desk.settings->tintColor = Color::srgb(0.5, 0.9, 0.9);
  EXPECT_TRUE(selected().isEmpty());

  const std::pair<double, double> clicks[] = {{0.0, 0.2}, {0.05, 0.2}, {0.1, 0.1}, {0.45, 0.45}};
  for (const auto& [before, after] : clicks) {
    SCOPED_TRACE(before);
    desk.settings->tintOpacity = before;
    model.pickSwatch(3);
    EXPECT_EQ(selected(), QStringList{"Red"});
    EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), after);
    model.pickSwatch(0);
    EXPECT_EQ(selected(), QStringList{"Blue"});
    EXPECT_DOUBLE_EQ(desk.settings->tintOpacity.get(), after) << "a second swatch keeps it";
  }
}

// ---- Screens and write-through controls ----

// What the grant buttons ask of the desktop is seen in the panel's test.
TEST(Screens, TheMainScreenShowsOnlyWhileBothPermissionsAreGranted) {
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

// ---- Desktop entries ----

// Which entries exist (precedence, Hidden, unreadable files) is the shared scan's business; here
// the panel's ways of naming one, and that a new install is seen.
TEST(Entries, FindByIdCaseWindowClassOrAliasInTheUsersLanguage) {
  QTemporaryDir dir;
  auto write = [&](const QString& rel, const QByteArray& body) {
    const QString path = dir.filePath(rel);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[Desktop Entry]\n" + body);
  };
  write("org.gnome.Nautilus.desktop",
        "Type=Application\nName=Files\nName[de]=Dateien\nIcon=org.gnome.Nautilus\n"
        "StartupWMClass=nautilus-wm\n");
  write("kde/org.kde.kate.desktop", "Type=Application\nName=Kate\n");
  write("link.desktop", "Type=Link\nName=L\n");
  write("noname.desktop", "Type=Application\n");
  sim::SimDesktop sim;
  sim.setApplicationAlias("com.apple.finder", "org.gnome.Nautilus");
  sim.setApplicationAlias("org.gone", "not.installed");
  DesktopEntries entries({dir.path()}, &sim.applicationAliases(),
                         DesktopEntryLocale([](const char*) { return nullptr; }));
  auto nameOf = [&](const char* id) {
    return entries.find(id).value_or(InstalledApp{"-", ""}).name;
  };
  EXPECT_EQ(entries.find("org.gnome.Nautilus").value_or(InstalledApp{}).iconName,
            "org.gnome.Nautilus");
  for (const char* id :
       {"org.gnome.Nautilus", "ORG.GNOME.NAUTILUS", "Nautilus-WM", "com.apple.finder"})
    EXPECT_EQ(nameOf(id), "Files") << id;
  EXPECT_EQ(nameOf("kde-org.kde.kate"), "Kate");
  EXPECT_EQ(nameOf("noname"), "noname");
  EXPECT_EQ(entries.aliasOf("com.apple.finder"), "org.gnome.Nautilus");
  for (const char* id : {"link", "", "org.gone", "b"}) EXPECT_FALSE(entries.find(id)) << id;
  DesktopEntries german({dir.path()}, nullptr, DesktopEntryLocale([](const char* name) {
                          return std::string_view(name) == "LANG" ? "de_DE.UTF-8" : nullptr;
                        }));
  EXPECT_EQ(german.find("org.gnome.Nautilus")->name, "Dateien");

  QThread::msleep(20);  // directory times have millisecond resolution
  write("b.desktop", "Type=Application\nName=B\n");
  EXPECT_EQ(nameOf("b"), "B") << "a new install is seen";
}

// Icons that would block (a FIFO), never end (/dev/zero) or fill memory (200 MB) are skipped at
// once; real ones are fitted into the size asked for.
TEST(Icons, FilesThatBlockOrNeverEndAreSkippedAndPicturesFitTheSize) {
  testing::LogCapture log;
  QTemporaryDir dir;
  const auto icons = testing::plantHostileFiles(dir.path().toStdString(), ".png");
  AppIconImageProvider provider;
  for (const std::string& icon : icons)
    EXPECT_TRUE(provider.iconFile(QString::fromStdString(icon), QSize(16, 16)).isNull()) << icon;
  EXPECT_EQ(log.messagesStartingWith("[Apps] icon ").size(), 3u);
  QImage picture(64, 32, QImage::Format_ARGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(dir.filePath("picture.png")));
  EXPECT_EQ(provider.iconFile(dir.filePath("picture.png"), QSize(16, 16)).size(), QSize(16, 8));
  QFile svg(dir.filePath("drawing.svg"));
  ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
  svg.write(
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"><rect width="4" height="4"/></svg>)");
  svg.close();
  EXPECT_EQ(provider.iconFile(dir.filePath("drawing.svg"), QSize(20, 20)).size(), QSize(20, 20));
}

}  // namespace
}  // namespace dunelo
