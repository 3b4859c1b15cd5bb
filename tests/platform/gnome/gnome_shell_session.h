// A private, headless GNOME Shell for one test: its own system and session buses, a scratch
// home, Dunelo's extension installed from the build tree as a system extension, a virtual
// monitor of 1280x800, and the means to act on it as a user would: start Wayland and Xwayland
// clients, type and move the pointer through Mutter's remote-desktop input, and take screenshots
// through the shell's screenshot service. Every process it starts is ended when it goes away,
// and only those.
#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <QImage>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gnome/shell_protocol.h"
#include "support/scratch_dir.h"

namespace dunelo::gnome::testing {

class GnomeShellSession {
 public:
  struct Options {
    bool enableExtension = true;  // false: installed, but not in the enabled list
  };
  explicit GnomeShellSession(Options options);
  GnomeShellSession() : GnomeShellSession(Options{}) {}
  ~GnomeShellSession();
  GnomeShellSession(const GnomeShellSession&) = delete;
  GnomeShellSession& operator=(const GnomeShellSession&) = delete;

  // Empty when the shell is up with the overview closed; otherwise why not.
  const std::string& failure() const { return failure_; }

  // The environment a client of this session runs with.
  std::vector<std::string> clientEnvironment() const;
  // Starts a program in the session; its output goes to a file in the scratch directory.
  pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  // Ends one started program (SIGTERM, then SIGKILL after five seconds), or kills it at once;
  // returns its exit status (128 + the signal when a signal ended it), -1 for an unknown pid.
  int stop(pid_t pid, bool hard = false);

  // The extension's view of the desktop (its GetState), none while it does not answer.
  std::optional<ShellState> state();
  // Waits until `condition` holds on the state; false after `timeout`.
  bool waitForState(const std::function<bool(const ShellState&)>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // The window of process `pid`, once it is mapped.
  std::optional<WindowRecord> waitForWindowOf(pid_t pid);
  // Waits until some client owns `busName` on the session bus; false after `timeout`.
  bool waitForBusName(const std::string& busName,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // A screenshot of the whole stage; null on failure.
  QImage screenshot();
  // Takes screenshots until `condition` holds on one (returned) or `timeout` passes (null).
  QImage waitForScreenshot(const std::function<bool(const QImage&)>& condition,
                           std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // Input through a remote-desktop session: keysyms pressed in order and released in reverse,
  // relative pointer motion, and a left click at a stage position.
  void pressKeys(const std::vector<uint32_t>& keysyms);
  void movePointer(double dx, double dy);
  void click(int x, int y);

  // gsettings in this session.
  void gsettings(const std::vector<std::string>& args);

  const std::string& home() const { return scratch_.path(); }
  pid_t shellPid() const { return shell_; }
  std::string configDir() const { return scratch_.file("config"); }
  QDBusConnection& bus() { return *bus_; }

 private:
  bool startShell(const Options& options);
  pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              const std::string& output);
  bool remoteDesktop();
  void keepFailedShot(const QImage& shot);

  dunelo::testing::ScratchDir scratch_;
  std::string failure_;
  std::vector<std::string> env_;  // the session's environment for every process
  std::vector<pid_t> pids_;       // started here, in start order
  pid_t shell_ = -1;
  std::string xDisplay_;
  std::optional<QDBusConnection> bus_;
  QString busName_;
  QString remoteSession_;
  int screenshots_ = 0;
  int failedShots_ = 0;
};

// Fine detail inside `rect`: how far each pixel lies from the mean of its neighbours (both
// directions, all three channels), on average, in levels of 255. Flat areas and smooth gradients
// have none.
double detail(const QImage& image, const QRect& rect);
// Mean colour of `rect`, channels 0..255.
struct MeanColor {
  double red = 0, green = 0, blue = 0;
  double saturation() const;
  double luminance() const;
};
MeanColor meanColor(const QImage& image, const QRect& rect);
// Whether two images agree exactly inside `rect`.
bool samePixels(const QImage& a, const QImage& b, const QRect& rect);

}  // namespace dunelo::gnome::testing
