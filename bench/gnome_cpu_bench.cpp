// What the overlay costs GNOME Shell: the CPU time of a private headless gnome-shell (software
// rendering, no GPU) over a span, with Dunelo off and on, while nothing moves and while a window
// behind the focused one redraws about fifty times a second (a terminal printing a line every
// 20 ms), and with the overlay on and the mouse moving (its reports to Dunelo).
//   dunelo_gnome_cpu_bench [seconds]        (default 10)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/gnome/gnome_shell_session.h"
#include "settings/json_file_defaults_store.h"
#include "settings/settings_manager.h"

namespace {

using dunelo::gnome::testing::GnomeShellSession;

// User plus system time of `pid`, in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double measure(GnomeShellSession& session, double seconds, bool movePointer) {
  const double before = cpuSeconds(session.shellPid());
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  int step = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (movePointer) session.movePointer(++step % 2 ? 40 : -40, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(movePointer ? 16 : 200));
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return 100.0 * (cpuSeconds(session.shellPid()) - before) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
  GnomeShellSession session;
  if (!session.failure().empty()) {
    std::fprintf(stderr, "%s\n", session.failure().c_str());
    return 1;
  }
  // A still terminal (and later a scrolling one) behind a focused xterm.
  const pid_t still = session.start({"foot", "--window-size-pixels=900x600", "sh", "-c",
                                     "ls -lR /usr/include | head -300; sleep 3600"});
  session.waitForWindowOf(still);
  session.start({"xterm", "-geometry", "60x15+40+420"});
  std::this_thread::sleep_for(std::chrono::seconds(3));

  auto startDunelo = [&](bool active) {
    {
      const std::string path = session.configDir() + "/dunelo/defaults.json";
      std::remove(path.c_str());
      dunelo::JsonFileDefaultsStore store(path);
      store.setBool(dunelo::settings_keys::kIsActive, active);
    }
    const pid_t pid = session.start({DUNELO_PROGRAM}, {"XDG_CONFIG_HOME=" + session.configDir()});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return pid;
  };

  std::printf("gnome-shell CPU, %% of one core, over %.0f s each\n", seconds);
  std::printf("  idle, no Dunelo:                        %5.1f\n",
              measure(session, seconds, false));
  pid_t dunelo = startDunelo(true);
  std::printf("  idle, overlay on:                       %5.1f\n",
              measure(session, seconds, false));
  std::printf("  mouse moving, overlay on:               %5.1f\n", measure(session, seconds, true));
  session.stop(dunelo);
  dunelo = startDunelo(false);
  std::printf("  mouse moving, Dunelo off:               %5.1f\n", measure(session, seconds, true));
  session.stop(dunelo);

  session.stop(still);
  const pid_t busy = session.start({"foot", "--window-size-pixels=900x600", "sh", "-c",
                                    "i=0; while :; do i=$((i+1)); echo \"line $i\"; "
                                    "sleep 0.02; done"});
  session.waitForWindowOf(busy);
  // The xterm in front again.
  session.click(100, 600);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::printf("  window animating behind, no Dunelo:     %5.1f\n",
              measure(session, seconds, false));
  dunelo = startDunelo(true);
  std::printf("  window animating behind, overlay on:    %5.1f\n",
              measure(session, seconds, false));
  session.stop(dunelo);
  return 0;
}
