#include "platform/gnome/gnome_shell_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/gnome/shell_connection.h"

namespace dunelo::gnome::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kButtonLeft = 0x110;  // BTN_LEFT

// QtDBus wants an application object; the tests have none of their own.
void ensureApplication() {
  static int argc = 1;
  static char name[] = "dunelo-gnome-tests";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (condition()) return true;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

QDBusMessage callOn(QDBusConnection& bus, const QString& service, const QString& path,
                    const QString& interface, const QString& method, const QVariantList& args,
                    int timeoutMs = 5000) {
  QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
  m.setArguments(args);
  return bus.call(m, QDBus::Block, timeoutMs);
}

}  // namespace

GnomeShellSession::GnomeShellSession(Options options) {
  ensureApplication();
  try {
    if (!startShell(options) && failure_.empty()) failure_ = "the shell did not start";
  } catch (const std::exception& e) {
    failure_ = e.what();
  }
}

GnomeShellSession::~GnomeShellSession() {
  if (bus_) {
    if (!remoteSession_.isEmpty()) {
      callOn(*bus_, QStringLiteral("org.gnome.Mutter.RemoteDesktop"), remoteSession_,
             QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"), QStringLiteral("Stop"), {},
             1000);
    }
    QDBusConnection::disconnectFromBus(busName_);
    bus_.reset();
  }
  // Clients first, then the shell, then the buses it used.
  for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) stop(*it);
}

pid_t GnomeShellSession::spawn(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env, const std::string& output) {
  std::vector<std::string> args = argv;
  std::vector<char*> cargv, cenv;
  for (auto& a : args) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::vector<std::string> envCopy = env;
  for (auto& e : envCopy) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Whatever ends the test process (a crash, the test runner's time-out) ends this one too.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execvpe(cargv[0], cargv.data(), cenv.data());
    ::_exit(127);
  }
  ::close(in);
  ::close(out);
  if (pid > 0) pids_.push_back(pid);
  return pid;
}

int GnomeShellSession::stop(pid_t pid, bool hard) {
  if (pid <= 0 || std::find(pids_.begin(), pids_.end(), pid) == pids_.end()) return -1;
  ::kill(pid, hard ? SIGKILL : SIGTERM);
  int status = 0;
  const auto deadline = Clock::now() + 5s;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  std::erase(pids_, pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> GnomeShellSession::clientEnvironment() const {
  std::vector<std::string> env = env_;
  env.push_back("WAYLAND_DISPLAY=wayland-dunelo");
  if (!xDisplay_.empty()) {
    env.push_back("DISPLAY=" + xDisplay_);
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.file("run"))) {
      if (entry.path().filename().string().starts_with(".mutter-Xwaylandauth"))
        env.push_back("XAUTHORITY=" + entry.path().string());
    }
  }
  return env;
}

pid_t GnomeShellSession::start(const std::vector<std::string>& argv,
                               const std::vector<std::string>& extraEnv) {
  std::vector<std::string> env = clientEnvironment();
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  const std::string name = std::filesystem::path(argv.front()).filename().string();
  return spawn(argv, env, scratch_.file(name + ".log"));
}

void GnomeShellSession::gsettings(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"gsettings"};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = spawn(argv, env_, scratch_.file("gsettings.log"));
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  std::erase(pids_, pid);
}

bool GnomeShellSession::startShell(const Options& options) {
  if (scratch_.path().empty()) return false;
  for (const char* dir : {"run", "config", "data", "prefix"})
    std::filesystem::create_directories(scratch_.file(dir));
  ::chmod(scratch_.file("run").c_str(), 0700);

  // The extension exactly as `cmake --install` lays it out, as a system-wide one.
  const std::string prefix = scratch_.file("prefix");
  {
    const pid_t pid = spawn({DUNELO_CMAKE_COMMAND, "--install", DUNELO_BUILD_DIR, "--prefix",
                             prefix, "--component", "gnome_extension"},
                            {"PATH=/usr/bin:/bin"}, scratch_.file("install.log"));
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    std::erase(pids_, pid);
    if (!exists(prefix + "/share/gnome-shell/extensions/" + kExtensionUUID + "/metadata.json")) {
      failure_ = "cmake --install did not install the extension: " +
                 dunelo::testing::readFile(scratch_.file("install.log"));
      return false;
    }
  }

  const std::string run = scratch_.file("run");
  env_ = {"HOME=" + scratch_.path(),
          "XDG_RUNTIME_DIR=" + run,
          "XDG_CONFIG_HOME=" + scratch_.file("config"),
          "XDG_DATA_HOME=" + scratch_.file("data"),
          "XDG_DATA_DIRS=" + prefix + "/share:/usr/local/share:/usr/share",
          "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + run + "/system_bus",
          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + run + "/bus",
          "XDG_SESSION_TYPE=wayland",
          "XDG_CURRENT_DESKTOP=GNOME",
          "NO_AT_BRIDGE=1",
          "GSETTINGS_SCHEMA_DIR=/usr/share/glib-2.0/schemas",
          "LANG=C.UTF-8",
          "PATH=/usr/local/bin:/usr/bin:/bin"};
  // GNOME Shell dies at start without a system bus; a private one will do.
  spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
         "--address=unix:path=" + run + "/system_bus"},
        env_, scratch_.file("system-bus.log"));
  spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
         "--address=unix:path=" + run + "/bus"},
        env_, scratch_.file("session-bus.log"));
  if (!waitFor([&] { return exists(run + "/bus") && exists(run + "/system_bus"); }, 10s)) {
    failure_ = "the private buses did not start";
    return false;
  }

  gsettings({"set", "org.gnome.shell", "welcome-dialog-last-shown-version", "'999'"});
  gsettings({"set", "org.gnome.shell", "disable-user-extensions", "false"});
  // The pointer crosses the top-left corner on its way; it must not open the overview.
  gsettings({"set", "org.gnome.desktop.interface", "enable-hot-corners", "false"});
  gsettings({"set", "org.gnome.shell", "enabled-extensions",
             options.enableExtension ? std::string("['") + kExtensionUUID + "']" : "[]"});

  shell_ = spawn({"gnome-shell", "--headless", "--wayland", "--virtual-monitor", "1280x800",
                  "--wayland-display=wayland-dunelo"},
                 env_, scratch_.file("shell.log"));
  if (shell_ <= 0) {
    failure_ = "gnome-shell could not be started";
    return false;
  }

  busName_ = QStringLiteral("dunelo-test-%1").arg(reinterpret_cast<quintptr>(this));
  bus_ =
      QDBusConnection::connectToBus(QString::fromStdString("unix:path=" + run + "/bus"), busName_);
  if (!bus_->isConnected()) {
    failure_ = "cannot connect to the session bus";
    return false;
  }
  auto hasOwner = [&](const char* name) {
    return bus_->interface()->isServiceRegistered(QString::fromLatin1(name)).value();
  };
  if (!waitFor(
          [&] { return hasOwner("org.gnome.Shell") && hasOwner("org.gnome.Mutter.RemoteDesktop"); },
          30s)) {
    failure_ =
        "GNOME Shell did not come up: " + dunelo::testing::readFile(scratch_.file("shell.log"));
    return false;
  }
  if (options.enableExtension && !waitFor([&] { return hasOwner(kShellBusName); }, 20s)) {
    failure_ =
        "the extension did not start: " + dunelo::testing::readFile(scratch_.file("shell.log"));
    return false;
  }

  // The headless shell starts in the overview; close it once start-up is over.
  auto overview = [&]() -> std::optional<bool> {
    const auto reply =
        callOn(*bus_, QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
               QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
               {QStringLiteral("org.gnome.Shell"), QStringLiteral("OverviewActive")});
    if (reply.type() != QDBusMessage::ReplyMessage) return std::nullopt;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
  };
  waitFor([&] { return overview() == true; }, 10s);
  const bool closed = waitFor(
      [&] {
        callOn(*bus_, QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
               QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
               {QStringLiteral("org.gnome.Shell"), QStringLiteral("OverviewActive"),
                QVariant::fromValue(QDBusVariant(false))});
        std::this_thread::sleep_for(300ms);
        return overview() == false;
      },
      20s);
  if (!closed) {
    failure_ = "the overview did not close";
    return false;
  }

  const std::string log = dunelo::testing::readFile(scratch_.file("shell.log"));
  std::smatch m;
  if (std::regex_search(log, m, std::regex("Using public X11 display (:[0-9]+)"))) xDisplay_ = m[1];
  if (!remoteDesktop()) {
    failure_ = "no remote-desktop input";
    return false;
  }
  // The screenshot service answers only the desktop's own screenshot tool; the tests stand in
  // for it.
  bus_->registerService(QStringLiteral("org.gnome.Screenshot"));
  return true;
}

bool GnomeShellSession::remoteDesktop() {
  const auto reply =
      callOn(*bus_, QStringLiteral("org.gnome.Mutter.RemoteDesktop"),
             QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
             QStringLiteral("org.gnome.Mutter.RemoteDesktop"), QStringLiteral("CreateSession"), {});
  if (reply.type() != QDBusMessage::ReplyMessage) return false;
  remoteSession_ = reply.arguments().first().value<QDBusObjectPath>().path();
  const auto started =
      callOn(*bus_, QStringLiteral("org.gnome.Mutter.RemoteDesktop"), remoteSession_,
             QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"), QStringLiteral("Start"), {});
  return started.type() == QDBusMessage::ReplyMessage;
}

void GnomeShellSession::pressKeys(const std::vector<uint32_t>& keysyms) {
  auto key = [&](uint32_t keysym, bool down) {
    callOn(*bus_, QStringLiteral("org.gnome.Mutter.RemoteDesktop"), remoteSession_,
           QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"),
           QStringLiteral("NotifyKeyboardKeysym"), {keysym, down});
  };
  for (uint32_t k : keysyms) key(k, true);
  for (auto it = keysyms.rbegin(); it != keysyms.rend(); ++it) key(*it, false);
}

void GnomeShellSession::movePointer(double dx, double dy) {
  callOn(*bus_, QStringLiteral("org.gnome.Mutter.RemoteDesktop"), remoteSession_,
         QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"),
         QStringLiteral("NotifyPointerMotionRelative"), {dx, dy});
}

void GnomeShellSession::click(int x, int y) {
  // The pointer goes to the bottom-right corner first (the screen's edges stop it there), then
  // to the position.
  movePointer(5000, 5000);
  movePointer(x - 1279, y - 799);
  for (bool down : {true, false}) {
    callOn(*bus_, QStringLiteral("org.gnome.Mutter.RemoteDesktop"), remoteSession_,
           QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"),
           QStringLiteral("NotifyPointerButton"), {static_cast<int>(kButtonLeft), down});
  }
}

std::optional<ShellState> GnomeShellSession::state() {
  const auto reply =
      callOn(*bus_, QString::fromLatin1(kShellBusName), QString::fromLatin1(kShellObjectPath),
             QString::fromLatin1(kShellInterface), QStringLiteral("GetState"), {}, 2000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 4)
    return std::nullopt;
  auto windows = parseWindows(reply.arguments()[0]);
  auto monitors = parseMonitors(reply.arguments()[2]);
  if (!windows || !monitors) return std::nullopt;
  ShellState s;
  s.windows = *windows;
  s.focus = reply.arguments()[1].toULongLong();
  s.monitors = *monitors;
  s.prefersDark = reply.arguments()[3].toBool();
  return s;
}

bool GnomeShellSession::waitForState(const std::function<bool(const ShellState&)>& condition,
                                     std::chrono::milliseconds timeout) {
  return waitFor(
      [&] {
        const auto s = state();
        return s && condition(*s);
      },
      timeout);
}

std::optional<WindowRecord> GnomeShellSession::waitForWindowOf(pid_t pid) {
  std::optional<WindowRecord> found;
  waitForState([&](const ShellState& s) {
    for (const auto& w : s.windows) {
      if (w.pid == pid && w.width > 0) {
        found = w;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool GnomeShellSession::waitForBusName(const std::string& busName,
                                       std::chrono::milliseconds timeout) {
  const QString name = QString::fromStdString(busName);
  return waitFor([&] { return bus_->interface()->isServiceRegistered(name).value(); }, timeout);
}

QImage GnomeShellSession::screenshot() {
  const std::string path = scratch_.file("shot-" + std::to_string(++screenshots_) + ".png");
  for (int attempt = 0; attempt < 50; ++attempt) {
    const auto reply = callOn(
        *bus_, QStringLiteral("org.gnome.Shell.Screenshot"),
        QStringLiteral("/org/gnome/Shell/Screenshot"), QStringLiteral("org.gnome.Shell.Screenshot"),
        QStringLiteral("Screenshot"), {false, false, QString::fromStdString(path)});
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().first().toBool()) {
      QImage image(QString::fromStdString(path));
      // DUNELO_GNOME_SHOTS=<directory> keeps every screenshot for a look.
      if (const char* keep = std::getenv("DUNELO_GNOME_SHOTS"); keep && *keep) {
        static int kept = 0;
        std::filesystem::copy_file(path,
                                   std::string(keep) + "/shot-" + std::to_string(getpid()) + "-" +
                                       std::to_string(++kept) + ".png",
                                   std::filesystem::copy_options::overwrite_existing);
      }
      std::filesystem::remove(path);
      return image.convertToFormat(QImage::Format_RGB32);
    }
    // The shell learns that this connection owns the screenshot tool's name asynchronously.
    std::this_thread::sleep_for(100ms);
  }
  return {};
}

QImage GnomeShellSession::waitForScreenshot(const std::function<bool(const QImage&)>& condition,
                                            std::chrono::milliseconds timeout) {
  QImage found, last;
  const bool met = waitFor(
      [&] {
        QImage shot = screenshot();
        if (!shot.isNull()) last = shot;
        if (shot.isNull() || !condition(shot)) return false;
        found = shot;
        return true;
      },
      timeout);
  if (!met && !last.isNull()) keepFailedShot(last);
  return found;
}

// The last screenshot of a wait that timed out, kept in the build tree for whoever reads the
// failure: build/test-shots/gnome/<test>-<n>.png.
void GnomeShellSession::keepFailedShot(const QImage& shot) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "session";
  std::replace(name.begin(), name.end(), '/', '_');
  const std::string dir = std::string(DUNELO_BUILD_DIR) + "/test-shots/gnome";
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  const std::string path = dir + "/" + name + "-" + std::to_string(++failedShots_) + ".png";
  if (shot.save(QString::fromStdString(path)))
    std::fprintf(stderr, "the screen when the wait gave up: %s\n", path.c_str());
}

double detail(const QImage& image, const QRect& rect) {
  const QRect r = rect.intersected(image.rect().adjusted(1, 1, -1, -1));
  double sum = 0;
  long count = 0;
  // How far a pixel lies from the mean of its two neighbours: zero on flat areas and smooth
  // gradients (what a blur leaves), large on text and edges.
  auto bend = [](QRgb before, QRgb p, QRgb after) {
    auto one = [](int a, int b, int c) { return std::abs(2 * b - a - c); };
    return one(qRed(before), qRed(p), qRed(after)) + one(qGreen(before), qGreen(p), qGreen(after)) +
           one(qBlue(before), qBlue(p), qBlue(after));
  };
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      sum += bend(image.pixel(x - 1, y), p, image.pixel(x + 1, y)) +
             bend(image.pixel(x, y - 1), p, image.pixel(x, y + 1));
      count += 6;
    }
  }
  return count ? sum / count : 0;
}

double MeanColor::saturation() const {
  const double hi = std::max({red, green, blue}), lo = std::min({red, green, blue});
  return hi > 0 ? (hi - lo) / hi : 0;
}

double MeanColor::luminance() const {
  return 0.299 * red + 0.587 * green + 0.114 * blue;
}

MeanColor meanColor(const QImage& image, const QRect& rect) {
  const QRect r = rect.intersected(image.rect());
  MeanColor c;
  long n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      c.red += qRed(p);
      c.green += qGreen(p);
      c.blue += qBlue(p);
      ++n;
    }
  }
  if (n) {
    c.red /= n;
    c.green /= n;
    c.blue /= n;
  }
  return c;
}

bool samePixels(const QImage& a, const QImage& b, const QRect& rect) {
  const QRect r = rect.intersected(a.rect()).intersected(b.rect());
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
    }
  }
  return !r.isEmpty();
}

}  // namespace dunelo::gnome::testing
