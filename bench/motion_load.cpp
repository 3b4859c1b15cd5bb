// Sends relative pointer motion through XTEST at a steady rate, as a fast mouse would: the load
// for measuring what mouse movement costs Dunelo (bench/input_cpu.sh).
//   motion_load <events per second> <seconds>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: motion_load <events per second> <seconds>\n");
    return 2;
  }
  const double rate = std::atof(argv[1]);
  const double seconds = std::atof(argv[2]);
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "motion_load: no X display\n");
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto period = std::chrono::duration<double>(1.0 / rate);
  long sent = 0;
  for (auto next = start; Clock::now() - start < std::chrono::duration<double>(seconds);
       next += std::chrono::duration_cast<Clock::duration>(period)) {
    std::this_thread::sleep_until(next);
    // Two pixels right, two left: a wiggle that never reaches a screen edge.
    const int16_t dx = (sent / 8) % 2 ? -2 : 2;
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 1, XCB_CURRENT_TIME, XCB_NONE, dx, 0, 0);
    if (++sent % 16 == 0) xcb_flush(c);
  }
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  xcb_disconnect(c);
  std::printf("%ld\n", sent);
  return 0;
}
