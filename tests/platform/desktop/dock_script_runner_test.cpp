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

const std::string kListKeys = "gsettings list-keys org.gnome.shell.extensions.dash-to-dock";
const std::string kSet = "gsettings set org.gnome.shell.extensions.dash-to-dock ";
const std::string kXfceListing = "echo 'Value is an array with 2 items:'; echo; echo 1; echo 2";
const std::string kXfcePanel = "xfconf-query -c xfce4-panel -p /panels";
const std::string kPlasma =
    "dbus-send --session --print-reply --dest=org.kde.plasmashell /PlasmaShell "
    "org.kde.PlasmaShell.evaluateScript string:panels().forEach(function (p) { p.hiding = ";

struct Case {
  std::string name, desktop;
  bool hide;
  std::map<std::string, std::string> tools;  // name → shell body run after the call is recorded
  std::vector<std::string> calls;
  std::string error;  // part of the error message; empty when the script succeeds
};

Case make(std::string name, std::string desktop, bool hide,
          std::map<std::string, std::string> tools, std::vector<std::string> calls,
          std::string error) {
  return {std::move(name),  std::move(desktop), hide,
          std::move(tools), std::move(calls),   std::move(error)};
}

class DockScriptRunnerTest : public ::testing::TestWithParam<Case> {};

TEST_P(DockScriptRunnerTest, MapsTheScriptToTheDesktopsDock) {
  const Case& c = GetParam();
  FakeTools tools;
  for (const auto& [name, body] : c.tools) tools.add(name, body);
  DockScriptRunner runner(CommandRunner(tools.path()), c.desktop, 1.0);

  const auto outcome = runner.run(c.hide ? kHideDockScript : kShowDockScript);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(tools.calls(), c.calls);
  const std::string message = outcome->error ? outcome->error->at(kScriptErrorMessageKey) : "";
  EXPECT_EQ(outcome->error.has_value(), !c.error.empty()) << message;
  EXPECT_NE(message.find(c.error), std::string::npos) << message;
}

const std::map<std::string, std::string> kGsettings{{"gsettings", ""}};
const std::map<std::string, std::string> kXfconf{{"xfconf-query", kXfceListing}};

INSTANTIATE_TEST_SUITE_P(
    Desktops, DockScriptRunnerTest,
    ::testing::Values(
        make("GnomeHide", "ubuntu:GNOME", true, kGsettings,
             {kListKeys, kSet + "dock-fixed false", kSet + "autohide true"}, ""),
        make("GnomeShow", "GNOME", false, kGsettings, {kListKeys, kSet + "dock-fixed true"}, ""),
        make("GnomeWithoutDockExtension", "GNOME", true,
             {{"gsettings", "echo 'No such schema' >&2; exit 1"}}, {kListKeys}, "not installed"),
        make("GnomeWithoutGsettings", "GNOME", true, {}, {}, "gsettings is not installed"),
        make("GnomeSetFails", "GNOME", true,
             {{"gsettings",
               "if [ \"$1\" = set ]; then echo 'dconf: permission denied' >&2; exit 3; fi"}},
             {kListKeys, kSet + "dock-fixed false"}, "exit status 3): dconf: permission denied"),
        make("PlasmaHide", "KDE", true, {{"dbus-send", ""}}, {kPlasma + "\"autohide\"; });"}, ""),
        make("PlasmaShow", "KDE", false, {{"dbus-send", ""}}, {kPlasma + "\"none\"; });"}, ""),
        make("XfceHideEveryPanel", "XFCE", true, kXfconf,
             {kXfcePanel, kXfcePanel + "/panel-1/autohide-behavior -n -t int -s 2",
              kXfcePanel + "/panel-2/autohide-behavior -n -t int -s 2"},
             ""),
        make("XfceShow", "XFCE", false, kXfconf,
             {kXfcePanel, kXfcePanel + "/panel-1/autohide-behavior -n -t int -s 0",
              kXfcePanel + "/panel-2/autohide-behavior -n -t int -s 0"},
             ""),
        // Openbox, an unset variable: nothing is run, the failure says why.
        make("NoDock", "openbox", true, {{"gsettings", ""}, {"xfconf-query", kXfceListing}}, {},
             "XDG_CURRENT_DESKTOP=openbox"),
        make("UnsetDesktop", "", false, kGsettings, {}, "XDG_CURRENT_DESKTOP=unset"),
        make("HangingToolIsCut", "GNOME", true, {{"gsettings", "exec sleep 10"}}, {kListKeys},
             "not installed")),
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
