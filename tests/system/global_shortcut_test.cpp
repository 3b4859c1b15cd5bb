#include "system/global_shortcut.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/sim/sim_desktop.h"

namespace dunelo {
namespace {

// The desktop's hot-key service, keeping the latest press handler past its removal (as a desktop
// might when a press is already queued).
class KeepingHotKeys : public HotKeys {
 public:
  explicit KeepingHotKeys(HotKeys& inner) : inner_(inner) {}
  Cancellable installPressHandler(std::function<int32_t(const HotKeyID&)> handler) override {
    lastHandler = handler;
    return inner_.installPressHandler(std::move(handler));
  }
  Cancellable registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) override {
    return inner_.registerHotKey(keyCode, modifiers, id);
  }
  std::function<int32_t(const HotKeyID&)> lastHandler;

 private:
  HotKeys& inner_;
};

TEST(HotKeyModifiers, TranslatesTheFourModifiersAndDropsEveryOtherBit) {
  const std::pair<uint64_t, uint32_t> cases[] = {
      {0, 0},
      {0x100000, 0x0100},
      {0x20000, 0x0200},
      {0x80000, 0x0800},
      {0x40000, 0x1000},
      {0x100000 | 0x20000, 0x0300},
      {0x100000 | 0x80000, 0x0900},
      {0x100000 | 0x20000 | 0x80000 | 0x40000, 0x1B00},
      // caps lock, numeric pad, function key, and the device-dependent low bits
      {0x10000 | 0x200000 | 0x800000 | 0xFF, 0},
      {0x10000 | 0x100000 | 0xFFFFFFFF00000000ull, 0x0100},
      // the hot-key mask values themselves are not settings bits
      {0x0100 | 0x0200 | 0x0800 | 0x1000, 0},
  };
  for (const auto& [settings, expected] : cases)
    EXPECT_EQ(hotKeyModifiers(settings), expected) << std::hex << settings;
}

struct GlobalShortcutTest : ::testing::Test {
  sim::SimDesktop d;
  KeepingHotKeys keys{d.hotKeys()};
  std::unique_ptr<GlobalShortcut> shortcut = std::make_unique<GlobalShortcut>(keys);
  int presses = 0;
};

TEST_F(GlobalShortcutTest, KeepsOneRegistrationAndAnswersEveryPressAsHandled) {
  shortcut->registerHotKey(49, 0x100000 | 0x20000);
  shortcut->registerHotKey(3, 0);  // a bare key is a valid shortcut
  EXPECT_EQ(d.registeredHotKeys(), (std::vector<sim::RegisteredHotKey>{{3, 0, kDuneloHotKeyID}}));
  EXPECT_EQ(kDuneloHotKeyID, (HotKeyID{0x444E4C4F, 1}));
  EXPECT_EQ(d.pressHandlerCount(), 1u);

  EXPECT_EQ(d.pressHotKey(3, 0), HotKeys::kHandled);  // no trigger yet
  shortcut->onTrigger = [&] { ++presses; };
  d.pressHotKey(3, 0);
  EXPECT_EQ(d.pressHotKey(3, 0), HotKeys::kHandled);
  EXPECT_EQ(presses, 2);

  // The trigger may re-register while its press is handled.
  shortcut->onTrigger = [&] {
    ++presses;
    shortcut->onTrigger = nullptr;
    shortcut->registerHotKey(50, 0);
  };
  EXPECT_EQ(d.pressHotKey(3, 0), HotKeys::kHandled);
  EXPECT_EQ(presses, 3);
  EXPECT_EQ(d.registeredHotKeys(), (std::vector<sim::RegisteredHotKey>{{50, 0, kDuneloHotKeyID}}));
}

TEST_F(GlobalShortcutTest, UnregisterAndDestructionRemoveKeyAndHandler) {
  shortcut->unregister();  // nothing registered: harmless
  shortcut->registerHotKey(49, 0x100000);
  shortcut->unregister();
  EXPECT_TRUE(d.registeredHotKeys().empty());
  EXPECT_EQ(d.pressHandlerCount(), 0u);

  shortcut->onTrigger = [&] { ++presses; };
  shortcut->registerHotKey(49, 0x100000);
  shortcut.reset();
  EXPECT_TRUE(d.registeredHotKeys().empty());
  EXPECT_EQ(d.pressHandlerCount(), 0u);

  // A press that was already on its way when the shortcut went away is not handled.
  EXPECT_EQ(keys.lastHandler(kDuneloHotKeyID), HotKeys::kNotHandled);
  EXPECT_EQ(presses, 0);
}

}  // namespace
}  // namespace dunelo
