#include "platform/desktop/dock_script_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "app/run_apple_script.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::ScratchDir;

// A directory of stand-in desktop tools that record each call ("tool arg arg ...") in one file.
class FakeTools {
 public:
  // `body` is shell code run after the call is recorded.
  void add(const std::string& name, const std::string& body = "") {
    const std::string path = dir_.file(name);
    testing::writeFile(
        path, "#!/bin/sh\necho \"" + name + " $*\" >> '" + callsPath() + "'\n" + body + "\n");
    chmod(path.c_str(), 0755);
  }
  std::string path() const { return dir_.path(); }
  std::string callsPath() const { return dir_.file("calls"); }
  std::vector<std::string> calls() const { return testing::readLines(callsPath()); }

 private:
  ScratchDir dir_;
};

const std::string kSchema = "org.gnome.shell.extensions.dash-to-dock";
const std::string kXfceListing = "echo 'Value is an array with 2 items:'; echo; echo 1; echo 2";

struct Case {
  std::string name;
  std::string desktop;
  bool hide;
  std::map<std::string, std::string> tools;  // name → body
  std::vector<std::string> calls;
  std::string error;  // part of the error message; empty when the script succeeds
};

class DockScriptRunnerTest : public ::testing::TestWithParam<Case> {};

TEST_P(DockScriptRunnerTest, MapsTheScriptToTheDesktopsDock) {
  const Case& c = GetParam();
  FakeTools tools;
  for (const auto& [name, body] : c.tools) tools.add(name, body);
  DockScriptRunner runner(CommandRunner(tools.path()), c.desktop, 1.0);

  const auto outcome = runner.run(c.hide ? kHideDockScript : kShowDockScript);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(tools.calls(), c.calls);
  if (c.error.empty()) {
    EXPECT_FALSE(outcome->error.has_value()) << outcome->error->at(kScriptErrorMessageKey);
  } else {
    ASSERT_TRUE(outcome->error.has_value());
    EXPECT_NE(outcome->error->at(kScriptErrorMessageKey).find(c.error), std::string::npos)
        << outcome->error->at(kScriptErrorMessageKey);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, DockScriptRunnerTest,
    ::testing::Values(
        Case{"GnomeHide",
             "ubuntu:GNOME",
             true,
             {{"gsettings", ""}},
             {"gsettings list-keys " + kSchema, "gsettings set " + kSchema + " dock-fixed false",
              "gsettings set " + kSchema + " autohide true"},
             ""},
        Case{"GnomeShow",
             "GNOME",
             false,
             {{"gsettings", ""}},
             {"gsettings list-keys " + kSchema, "gsettings set " + kSchema + " dock-fixed true"},
             ""},
        Case{"GnomeWithoutDockExtension",
             "GNOME",
             true,
             {{"gsettings", "echo 'No such schema' >&2; exit 1"}},
             {"gsettings list-keys " + kSchema},
             "not installed"},
        Case{"GnomeWithoutGsettings", "GNOME", true, {}, {}, "gsettings is not installed"},
        Case{"GnomeSetFails",
             "GNOME",
             true,
             {{"gsettings",
               "if [ \"$1\" = set ]; then echo 'dconf: permission denied' >&2; exit 3; fi"}},
             {"gsettings list-keys " + kSchema, "gsettings set " + kSchema + " dock-fixed false"},
             "exit status 3): dconf: permission denied"},
        Case{"PlasmaHide",
             "KDE",
             true,
             {{"dbus-send", ""}},
             {"dbus-send --session --print-reply --dest=org.kde.plasmashell /PlasmaShell "
              "org.kde.PlasmaShell.evaluateScript string:panels().forEach(function (p) { p.hiding "
              "= \"autohide\"; });"},
             ""},
        Case{"PlasmaShow",
             "KDE",
             false,
             {{"dbus-send", ""}},
             {"dbus-send --session --print-reply --dest=org.kde.plasmashell /PlasmaShell "
              "org.kde.PlasmaShell.evaluateScript string:panels().forEach(function (p) { p.hiding "
              "= \"none\"; });"},
             ""},
        Case{"XfceHideEveryPanel",
             "XFCE",
             true,
             {{"xfconf-query", kXfceListing}},
             {"xfconf-query -c xfce4-panel -p /panels",
              "xfconf-query -c xfce4-panel -p /panels/panel-1/autohide-behavior -n -t int -s 2",
              "xfconf-query -c xfce4-panel -p /panels/panel-2/autohide-behavior -n -t int -s 2"},
             ""},
        Case{"XfceShow",
             "XFCE",
             false,
             {{"xfconf-query", kXfceListing}},
             {"xfconf-query -c xfce4-panel -p /panels",
              "xfconf-query -c xfce4-panel -p /panels/panel-1/autohide-behavior -n -t int -s 0",
              "xfconf-query -c xfce4-panel -p /panels/panel-2/autohide-behavior -n -t int -s 0"},
             ""},
        // Openbox, an unset variable: nothing is run, the failure says why.
        Case{"NoDock",
             "openbox",
             true,
             {{"gsettings", ""}, {"xfconf-query", kXfceListing}},
             {},
             "XDG_CURRENT_DESKTOP=openbox"},
        Case{"UnsetDesktop", "", false, {{"gsettings", ""}}, {}, "XDG_CURRENT_DESKTOP=unset"},
        Case{"HangingToolIsCut",
             "GNOME",
             true,
             {{"gsettings", "exec sleep 10"}},
             {"gsettings list-keys " + kSchema},
             "not installed"}),
    [](const auto& info) { return info.param.name; });

TEST(DockScriptRunnerOtherTest, UnknownScriptFailsWithoutRunningAnything) {
  FakeTools tools;
  tools.add("gsettings");
  DockScriptRunner runner(CommandRunner(tools.path()), "GNOME");
  for (std::string_view source :
       {"tell application \"Finder\" to quit",
        "tell application \"System Events\" to set autohide of dock preferences to TRUE", ""}) {
    const auto outcome = runner.run(source);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_TRUE(outcome->error.has_value()) << source;
  }
  EXPECT_TRUE(tools.calls().empty());
}

TEST(CommandRunnerTest, ArgumentsAreNeverShellSyntax) {
  FakeTools tools;
  tools.add("echoargs", "for a in \"$@\"; do printf '[%s]' \"$a\"; done");
  const CommandRunner runner(tools.path());
  const auto result = runner.run({"echoargs", "a b", "$(touch x)", "; rm -rf /", "*"}, 2.0);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->exitCode, 0);
  EXPECT_EQ(result->output, "[a b][$(touch x)][; rm -rf /][*]");
  // Only programs in the search path run: no paths, no relative entries.
  EXPECT_FALSE(runner.run({"/bin/true"}, 1.0).has_value());
  EXPECT_FALSE(CommandRunner("relative/dir").find("sh").has_value());
}

TEST(CommandRunnerTest, ToolsDoNotInheritBlockedSignals) {
  FakeTools tools;
  tools.add("sigmask", "grep '^SigBlk' /proc/self/status");
  sigset_t quit, previous;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  sigprocmask(SIG_BLOCK, &quit, &previous);
  const auto result = CommandRunner(tools.path() + ":/usr/bin:/bin").run({"sigmask"}, 2.0);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->output, "SigBlk:\t0000000000000000\n");
}

TEST(CommandRunnerTest, TimedOutCommandIsKilledAndReported) {
  FakeTools tools;
  // The tool closes its output and keeps running: the deadline still holds.
  tools.add("stubborn", "exec >/dev/null 2>&1; sleep 10");
  const auto result = CommandRunner(tools.path()).run({"stubborn"}, 0.3);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->timedOut);
  EXPECT_EQ(result->exitCode, -1);
}

}  // namespace
}  // namespace dunelo
