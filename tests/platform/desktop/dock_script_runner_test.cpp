#include "platform/desktop/dock_script_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/run_apple_script.h"
#include "platform/sim/virtual_scheduler.h"
#include "support/fake_desktop.h"
#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::FakeDesktop;
using testing::ScratchDir;
using Clock = std::chrono::steady_clock;
using Files = FakeDesktop::Files;

std::string messageOf(const ScriptOutcome& outcome) {
  return outcome.error ? outcome.error->at(kScriptErrorMessageKey) : "";
}

struct RoundTrip {
  std::string name, desktop;
  Files before;
  DockSnapshot snapshot;
  Files hidden;
};

class DockRoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

// Several panels with different settings of their own: hiding touches the ones read, showing puts
// back exactly what each had (an Xfce panel without a setting of its own loses it again).
TEST_P(DockRoundTripTest, PutsBackEachPanelsOwnSetting) {
  const RoundTrip& c = GetParam();
  FakeDesktop desktop;
  desktop.set(c.before);
  sim::VirtualScheduler scheduler;
  DockScriptRunner runner(CommandRunner(desktop.path()), c.desktop, scheduler);
  const Deadline deadline = Deadline::in(10);

  const ScriptOutcome read = runner.runNow(kReadDockScript, {}, deadline);
  ASSERT_FALSE(read.error) << messageOf(read);
  EXPECT_EQ(read.snapshot, c.snapshot);
  EXPECT_EQ(desktop.files(), c.before);

  const ScriptOutcome hidden = runner.runNow(kHideDockScript, read.snapshot, deadline);
  EXPECT_FALSE(hidden.error) << messageOf(hidden);
  EXPECT_EQ(desktop.files(), c.hidden);

  const ScriptOutcome shown = runner.runNow(kShowDockScript, read.snapshot, deadline);
  EXPECT_FALSE(shown.error) << messageOf(shown);
  EXPECT_EQ(desktop.files(), c.before);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, DockRoundTripTest,
    ::testing::Values(RoundTrip{"GnomeFixedDock",
                                "ubuntu:GNOME",
                                {{"gs-dock-fixed", "true\n"}, {"gs-autohide", "false\n"}},
                                {"gnome", "dock-fixed=true", "autohide=false"},
                                {{"gs-dock-fixed", "false\n"}, {"gs-autohide", "true\n"}}},
                      // A dock the user already hides on their own is left so, flags and all.
                      RoundTrip{"GnomeUsersOwnAutoHide",
                                "GNOME",
                                {{"gs-dock-fixed", "false\n"}, {"gs-autohide", "false\n"}},
                                {"gnome", "dock-fixed=false", "autohide=false"},
                                {{"gs-dock-fixed", "false\n"}, {"gs-autohide", "true\n"}}},
                      RoundTrip{"PlasmaPanels",
                                "KDE",
                                {{"kde", "1=none\n4=autohide\n7=dodgewindows\n"}},
                                {"kde", "1=none", "4=autohide", "7=dodgewindows"},
                                {{"kde", "1=autohide\n4=autohide\n7=autohide\n"}}},
                      RoundTrip{
                          "XfcePanels",
                          "XFCE",
                          {{"xfce-panels", "1\n2\n3\n"}, {"xfce-1", "0\n"}, {"xfce-2", "1\n"}},
                          {"xfce", "1=0", "2=1", "3="},
                          {{"xfce-panels", "1\n2\n3\n"},
                           {"xfce-1", "2\n"},
                           {"xfce-2", "2\n"},
                           {"xfce-3", "2\n"}}}),
    [](const auto& info) { return info.param.name; });

TEST(DockScriptRunnerTest, FailuresSayWhyAndUnusableSnapshotsReachNoTool) {
  struct Case {
    const char* name;
    std::string_view script;
    std::string desktop;
    Files state;
    DockSnapshot snapshot;
    std::string error;  // part of the message
  };
  const Case cases[] = {
      {"other desktop", kReadDockScript, "openbox", {}, {}, "XDG_CURRENT_DESKTOP=openbox"},
      {"no desktop", kReadDockScript, "", {}, {}, "XDG_CURRENT_DESKTOP=unset"},
      {"no dock extension", kReadDockScript, "GNOME", {}, {}, "dash-to-dock) is not installed"},
      {"no plasmashell", kReadDockScript, "KDE", {}, {}, "dbus-send failed (exit status 1): Error"},
      {"no Xfce panels", kReadDockScript, "XFCE", {{"xfce-panels", ""}}, {}, "no panels"},
      {"unknown script", "tell application \"Finder\" to quit", "GNOME", {}, {}, "not a dock"},
      {"empty snapshot", kShowDockScript, "GNOME", {}, {}, "no remembered dock settings"},
      {"unknown desktop", kShowDockScript, "GNOME", {}, {"openbox", "1=0"}, "unknown desktop"},
      {"no panel", kHideDockScript, "XFCE", {}, {"xfce"}, "name no panel"},
      {"script in a Plasma value",
       kShowDockScript,
       "KDE",
       {},
       {"kde", "1=none\"; evil(); \""},
       "not usable"},
      {"argument in an Xfce id", kShowDockScript, "XFCE", {}, {"xfce", "1 -r=0"}, "not usable"},
      {"GNOME key", kShowDockScript, "GNOME", {}, {"gnome", "favorite-apps=true"}, "not usable"},
      {"GNOME value", kShowDockScript, "GNOME", {}, {"gnome", "autohide=maybe"}, "not usable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    desktop.set(c.state);
    sim::VirtualScheduler scheduler;
    DockScriptRunner runner(CommandRunner(desktop.path()), c.desktop, scheduler);
    const ScriptOutcome outcome = runner.runNow(c.script, c.snapshot, Deadline::in(10));
    EXPECT_NE(messageOf(outcome).find(c.error), std::string::npos) << messageOf(outcome);
    if (c.script != kReadDockScript) {
      EXPECT_TRUE(desktop.calls().empty());
    }
  }
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Hostile tools: each script has one deadline for all its tools, a time-out is reported as one,
// and nothing a tool started outlives it.
TEST(DockScriptRunnerTest, OneDeadlinePerScriptWhateverTheToolsDo) {
  struct Case {
    const char* name;
    std::string desktop, tool, body;
    Files state;
    std::string error;  // part of the message; empty: success
  };
  const Case cases[] = {
      {"hanging gsettings", "GNOME", "gsettings", "exec sleep 1000", {}, "timed out: gsettings"},
      // Thirty panels whose tool takes 0.3 s each: nine seconds one after the other.
      {"many slow Xfce panels",
       "XFCE",
       "xfconf-query",
       "case \"$*\" in *'-p /panels') seq 1 30 ;; *) sleep 0.3; echo 0 ;; esac",
       {},
       "timed out"},
      {"tool forking a grandchild",
       "KDE",
       "dbus-send",
       "sleep 1000 & echo $! > S/grandchild; exec sleep 1000",
       {},
       "timed out: dbus-send"},
      // The tool answers and exits; a child it left keeps its output open.
      {"child holding stdout",
       "GNOME",
       "gsettings",
       "case \"$1\" in get) echo true ;; esac; sleep 1000 & echo $! >> S/grandchild",
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    desktop.add(c.tool, c.body);
    sim::VirtualScheduler scheduler;
    DockScriptRunner runner(CommandRunner(desktop.path()), c.desktop, scheduler, 1.0);
    const auto start = Clock::now();
    const ScriptOutcome outcome = runner.runNow(kReadDockScript, {}, Deadline::in(1.0));
    const double took = secondsSince(start);
    EXPECT_LT(took, 3.0);
    if (c.error.empty()) {
      EXPECT_FALSE(outcome.error) << messageOf(outcome);
      EXPECT_EQ(outcome.snapshot, (DockSnapshot{"gnome", "dock-fixed=true", "autohide=true"}));
      EXPECT_LT(took, 0.9);  // not held up by the child's open output
    } else {
      EXPECT_NE(messageOf(outcome).find(c.error), std::string::npos) << messageOf(outcome);
    }
    // Killed with the tool: soon gone, or a zombie waiting for a reaper that is not ours.
    for (const auto& pid : testing::readLines(desktop.state() + "/grandchild")) {
      const auto gone = [&] {
        const std::string stat = testing::readFile("/proc/" + pid + "/stat");
        return stat.empty() || stat.find(") Z ") != std::string::npos;
      };
      const auto killedAt = Clock::now();
      while (!gone() && secondsSince(killedAt) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(gone()) << pid;
    }
  }
}

// Scripts run on the worker and complete on the main thread; the way out stops a hanging script
// at once and still puts the dock back.
TEST(DockScriptRunnerTest, RunsOffTheMainThreadAndTheWayOutCutsAHangShort) {
  FakeDesktop desktop;
  desktop.set({{"xfce-panels", "1\n2\n"}, {"xfce-1", "2\n"}, {"xfce-2", "2\n"}});
  sim::VirtualScheduler scheduler;
  DockScriptRunner runner(CommandRunner(desktop.path()), "XFCE", scheduler, 1000);
  std::vector<std::string> completed;
  const DockSnapshot snapshot{"xfce", "1=0", "2="};
  runner.run(kShowDockScript, snapshot, [&](std::optional<ScriptOutcome> outcome) {
    completed.push_back(outcome && !outcome->error ? "show" : "failed");
  });
  const auto start = Clock::now();
  while (completed.empty() && secondsSince(start) < 10) {
    scheduler.advance(0.01);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(completed, std::vector<std::string>{"show"});
  EXPECT_EQ(desktop.files(), (Files{{"xfce-panels", "1\n2\n"}, {"xfce-1", "0\n"}}));

  desktop.add("gsettings", "exec sleep 1000");
  DockScriptRunner gnome(CommandRunner(desktop.path()), "GNOME", scheduler, 1000);
  const size_t callsBefore = desktop.calls().size();
  gnome.run(kReadDockScript, {}, [&](auto) { completed.push_back("read"); });
  gnome.run(kHideDockScript, {"gnome", "autohide=false"},
            [&](auto) { completed.push_back("hide"); });
  while (desktop.calls().size() == callsBefore && secondsSince(start) < 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  desktop.add("gsettings", R"(echo "$4" > "S/gs-$3")");
  const auto exitStart = Clock::now();
  const ScriptOutcome restored = gnome.restoreBeforeExit({"gnome", "autohide=false"}, 2.0);
  EXPECT_LT(secondsSince(exitStart), 1.5);
  EXPECT_FALSE(restored.error) << messageOf(restored);
  EXPECT_EQ(desktop.files().at("gs-autohide"), "false\n");
  scheduler.advance(1.0);
  EXPECT_EQ(completed, std::vector<std::string>{"show"});  // dropped, never run
}

TEST(CommandRunnerTest, ArgumentsAreNeverShellSyntax) {
  FakeDesktop tools;
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
  FakeDesktop tools;
  tools.add("sigmask", "grep '^SigBlk' /proc/self/status");
  sigset_t quit, previous;
  sigemptyset(&quit);
  sigaddset(&quit, SIGTERM);
  sigaddset(&quit, SIGINT);
  sigprocmask(SIG_BLOCK, &quit, &previous);
  const auto result = CommandRunner(tools.path()).run({"sigmask"}, 2.0);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->output, "SigBlk:\t0000000000000000\n");
}

TEST(CommandRunnerTest, DeadlinesAndStopRequestsEndTheTool) {
  FakeDesktop tools;
  // The tool closes its output and keeps running: the deadline still holds.
  tools.add("stubborn", "exec >/dev/null 2>&1; sleep 1000");
  const CommandRunner runner(tools.path());
  const auto timedOut = runner.run({"stubborn"}, 0.3);
  ASSERT_TRUE(timedOut.has_value());
  EXPECT_TRUE(timedOut->timedOut);
  EXPECT_EQ(timedOut->exitCode, -1);

  std::stop_source stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.request_stop();
  });
  const auto start = Clock::now();
  const auto stopped = runner.run({"stubborn"}, Deadline::in(1000, stop.get_token()));
  stopper.join();
  EXPECT_LT(secondsSince(start), 5.0);
  ASSERT_TRUE(stopped.has_value());
  EXPECT_TRUE(stopped->stopped);
  EXPECT_FALSE(stopped->timedOut);
  // Once stopped, nothing further starts.
  EXPECT_TRUE(runner.run({"stubborn"}, Deadline::in(1000, stop.get_token()))->stopped);
}

}  // namespace
}  // namespace dunelo
