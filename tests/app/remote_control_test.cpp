#include "system/remote_control.h"

#include <gtest/gtest.h>

#include "app/composition.h"
#include "app/sim_composition.h"
#include "platform/sim/sim_desktop.h"
#include "settings/in_memory_defaults_store.h"
#include "support/log_capture.h"

namespace dunelo {
namespace {

// Dunelo on a simulated desktop with an editor in front, driven the way the command line and
// the session bus drive it.
class RemoteControlTest : public ::testing::Test {
 protected:
  std::unique_ptr<AppCoordinator> makeCoordinator() {
    d.addScreen(ScreenInfo{Rect(0, 0, 1440, 900), 2.0, 1});
    const ProcessID editor = d.launchApp(std::string("com.example.editor"), "Editor");
    d.openWindow(editor, Rect(200, 150, 800, 600));
    d.activate(editor);
    d.runUntilIdle();
    auto built = makeAppCoordinator(platform);
    d.advance(1.0);  // past the first permission poll
    return built;
  }
  bool shown() const { return coordinator->blurEngine.isActive.get(); }

  testing::LogCapture log;
  sim::SimDesktop d;
  InMemoryDefaultsStore defaults;
  Platform platform = simPlatform(d, defaults);
  std::unique_ptr<AppCoordinator> coordinator = makeCoordinator();
  int panels = 0, quits = 0;
  RemoteControl control{coordinator->settings, [this] { ++panels; }, [this] { ++quits; }};
};

TEST_F(RemoteControlTest, SwitchesLikeThePowerButtonAndAWatchHearsEachChangeOnce) {
  std::vector<bool> heard;
  Cancellable watch = control.watch([&](bool active) { heard.push_back(active); });
  const size_t mark = log.messages().size();

  EXPECT_TRUE(control.perform(RemoteCommand::On));
  EXPECT_TRUE(shown());
  const WindowNumber overlay = d.overlays().at(0);
  const int fades = d.callCount(overlay, sim::SurfaceCall::setAlpha);
  // Asking for the state in effect changes nothing: no fade, no log line, nothing heard.
  const size_t afterOn = log.messages().size();
  EXPECT_TRUE(control.perform(RemoteCommand::On));
  EXPECT_TRUE(control.perform(RemoteCommand::Status));
  EXPECT_EQ(d.callCount(overlay, sim::SurfaceCall::setAlpha), fades);
  EXPECT_EQ(log.messages().size(), afterOn);

  EXPECT_FALSE(control.perform(RemoteCommand::Toggle));
  EXPECT_FALSE(shown());
  EXPECT_FALSE(control.perform(RemoteCommand::Off));
  // Like the power button, switching writes no line of its own: only the engine speaks.
  for (size_t i = mark; i < log.messages().size(); ++i)
    EXPECT_EQ(log.messages()[i].rfind("[BlurEngine]", 0), 0u) << log.messages()[i];

  control.perform(RemoteCommand::ShowPanel);
  control.perform(RemoteCommand::Quit);
  EXPECT_EQ(std::make_pair(panels, quits), std::make_pair(1, 1));
  watch.cancel();
  control.toggle();
  EXPECT_EQ(heard, (std::vector<bool>{false, true, false}));
}

TEST_F(RemoteControlTest, SwitchingOnWithoutPermissionRecordsTheIntentButShowsNothing) {
  d.setAccessibilityTrusted(false);
  coordinator->permissions.refresh();
  control.setActive(true);
  EXPECT_TRUE(control.isActive());
  EXPECT_FALSE(shown());
}

}  // namespace
}  // namespace dunelo
