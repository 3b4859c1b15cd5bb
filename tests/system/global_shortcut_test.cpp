#include "system/global_shortcut.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace dunelo {
namespace {

// A hot-key service that records what is live and can deliver presses, also to a handler kept
// past its removal (as a desktop might when a press is already queued).
class FakeHotKeys : public HotKeys {
 public:
  struct Registration {
    uint32_t keyCode;
    uint32_t modifiers;
    HotKeyID id;
  };

  Cancellable installPressHandler(std::function<int32_t(const HotKeyID&)> handler) override {
    const int n = next_++;
    handlers[n] = handler;
    lastHandler = handler;
    return Cancellable([this, n] { handlers.erase(n); });
  }
  Cancellable registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) override {
    const int n = next_++;
    keys[n] = Registration{keyCode, modifiers, id};
    return Cancellable([this, n] { keys.erase(n); });
  }

  // Delivers one press to every live handler; the answers in order.
  std::vector<int32_t> press() {
    std::vector<int32_t> answers;
    auto live = handlers;
    for (auto& [n, h] : live) answers.push_back(h(kDuneloHotKeyID));
    return answers;
  }

  std::map<int, std::function<int32_t(const HotKeyID&)>> handlers;
  std::map<int, Registration> keys;
  std::function<int32_t(const HotKeyID&)> lastHandler;

 private:
  int next_ = 0;
};

TEST(HotKeyModifiers, TranslatesTheFourModifiersAndDropsEveryOtherBit) {
  struct Case {
    uint64_t settings;
    uint32_t expected;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(hotKeyModifiers(c.settings), c.expected) << std::hex << c.settings;
  }
}

TEST(GlobalShortcut, KeepsOneRegistrationAndAnswersEveryPressAsHandled) {
  FakeHotKeys keys;
  GlobalShortcut shortcut(keys);
  shortcut.registerHotKey(49, 0x100000 | 0x20000);
  shortcut.registerHotKey(3, 0);  // a bare key is a valid shortcut

  ASSERT_EQ(keys.keys.size(), 1u);
  ASSERT_EQ(keys.handlers.size(), 1u);
  const auto& reg = keys.keys.begin()->second;
  EXPECT_EQ(reg.keyCode, 3u);
  EXPECT_EQ(reg.modifiers, 0u);
  EXPECT_EQ(reg.id, (HotKeyID{0x444E4C4F, 1}));

  EXPECT_EQ(keys.press(), std::vector<int32_t>{HotKeys::kHandled});  // no trigger yet
  int presses = 0;
  shortcut.onTrigger = [&] { ++presses; };
  keys.press();
  EXPECT_EQ(keys.press(), std::vector<int32_t>{HotKeys::kHandled});
  EXPECT_EQ(presses, 2);
}

TEST(GlobalShortcut, TriggerMayReRegisterWhilePressIsHandled) {
  FakeHotKeys keys;
  GlobalShortcut shortcut(keys);
  int presses = 0;
  shortcut.onTrigger = [&] {
    ++presses;
    shortcut.onTrigger = nullptr;
    shortcut.registerHotKey(50, 0);
  };
  shortcut.registerHotKey(49, 0);
  EXPECT_EQ(keys.press(), std::vector<int32_t>{HotKeys::kHandled});
  EXPECT_EQ(presses, 1);
  ASSERT_EQ(keys.keys.size(), 1u);
  EXPECT_EQ(keys.keys.begin()->second.keyCode, 50u);
}

TEST(GlobalShortcut, UnregisterAndDestructionRemoveKeyAndHandler) {
  FakeHotKeys keys;
  auto shortcut = std::make_unique<GlobalShortcut>(keys);
  shortcut->unregister();  // nothing registered: harmless
  shortcut->registerHotKey(49, 0x100000);
  shortcut->unregister();
  EXPECT_TRUE(keys.keys.empty());
  EXPECT_TRUE(keys.handlers.empty());

  int presses = 0;
  shortcut->onTrigger = [&] { ++presses; };
  shortcut->registerHotKey(49, 0x100000);
  shortcut.reset();
  EXPECT_TRUE(keys.keys.empty());
  EXPECT_TRUE(keys.handlers.empty());

  // A press that was already on its way when the shortcut went away is not handled.
  EXPECT_EQ(keys.lastHandler(kDuneloHotKeyID), HotKeys::kNotHandled);
  EXPECT_EQ(presses, 0);
}

}  // namespace
}  // namespace dunelo
