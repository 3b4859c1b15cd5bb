// A test fixture for the overlay renderer: one private display of `Width` x `Height` shared by the
// suite, and a fresh render harness on it for each test.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>

#include "platform/x11/render/private_display.h"
#include "platform/x11/render/render_harness.h"

namespace dunelo::x11::testing {

template <int Width, int Height>
class PrivateDisplayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { display_ = std::make_unique<PrivateDisplay>(Width, Height); }
  static void TearDownTestSuite() { display_.reset(); }

  // Skips the test without Xvfb; derived fixtures return when this skipped or failed.
  void SetUp() override {
    if (display_->name().empty()) GTEST_SKIP() << "Xvfb could not be started";
    prepareDisplay();
    h_ = std::make_unique<RenderHarness>(display_->name());
    ASSERT_TRUE(h_->ok()) << "the private display cannot blur";
  }
  // Sets the display up before the harness connects to it.
  virtual void prepareDisplay() {}
  bool unusable() const { return IsSkipped() || HasFatalFailure(); }

  // Paints `state` on the overlay already shown and captures its next frame, `settle` s later.
  Image repaint(const OverlayVisualState& state, double settle = 0) {
    h_->paint(state);
    EXPECT_TRUE(h_->waitForFrames(1));
    if (settle > 0) h_->settle(settle);
    return h_->capture(screen());
  }

  static Box screen() { return {0, 0, Width, Height}; }

  static inline std::unique_ptr<PrivateDisplay> display_;
  std::unique_ptr<RenderHarness> h_;
  xcb_window_t background_ = XCB_NONE;
  xcb_window_t focused_ = XCB_NONE;
};

}  // namespace dunelo::x11::testing
