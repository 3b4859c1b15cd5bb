#include "platform/x11/x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace dunelo::x11::testing {
namespace {

template <class T>
struct Freed {
  T* p;
  ~Freed() { free(p); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

}  // namespace

pid_t XServer::spawn(const std::vector<std::string>& argv, int keepFd) const {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // A process group of its own, so that whatever it starts (a session bus) goes with it.
  setpgid(0, 0);
  if (!display_.empty()) setenv("DISPLAY", display_.c_str(), 1);
  const int devnull = open("/dev/null", O_RDWR);
  dup2(devnull, 0);
  dup2(devnull, 1);
  dup2(devnull, 2);
  for (int fd = 3; fd < 1024; ++fd)
    if (fd != keepFd) close(fd);
  execvp(args[0], args.data());
  _exit(127);
}

XServer::XServer(const Options& options) {
  int fds[2];
  if (pipe(fds) != 0) return;
  std::vector<std::string> argv = {
      "Xvfb",
      "-displayfd",
      std::to_string(fds[1]),
      "-screen",
      "0",
      std::to_string(options.width) + "x" + std::to_string(options.height) + "x24",
      "+extension",
      "RANDR",
      "+extension",
      "Composite",
      "-nolisten",
      "tcp",
      "-noreset"};
  if (options.blackBackground) argv.push_back("-br");
  xvfb_ = spawn(argv, fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[32];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<size_t>(n));
    if (number.find('\n') != std::string::npos) break;
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (number.empty()) return;
  display_ = ":" + number;
  if (options.windowManager) {
    wm_ = spawn({"openbox", "--sm-disable"});
    if (!waitForWindowManager()) return;
  }
  ok_ = true;
}

bool XServer::waitForWindowManager() {
  if (!probeClient_) probeClient_ = xcb_connect(display_.c_str(), nullptr);
  xcb_connection_t* c = probeClient_;
  if (xcb_connection_has_error(c)) return false;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  Freed<xcb_intern_atom_reply_t> atom{
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 24, "_NET_SUPPORTING_WM_CHECK"), nullptr)};
  bool ready = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (atom && !ready && std::chrono::steady_clock::now() < deadline) {
    Freed<xcb_get_property_reply_t> prop{xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr)};
    ready = prop && xcb_get_property_value_length(prop.p) == 4;
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The check window appears before the manager takes windows: wait until it manages a probe
  // (re-mapping it, since a window mapped while it started up may stay unmanaged).
  Freed<xcb_intern_atom_reply_t> list{
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 16, "_NET_CLIENT_LIST"), nullptr)};
  const xcb_window_t probe = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  bool managed = false;
  for (int attempt = 0; ready && !managed && attempt < 50; ++attempt) {
    if (attempt % 10 == 0) {
      xcb_unmap_window(c, probe);
      xcb_map_window(c, probe);
    }
    xcb_flush(c);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Freed<xcb_get_property_reply_t> prop{xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, list->atom, XCB_ATOM_WINDOW, 0, 1024), nullptr)};
    if (!prop) continue;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(prop.p));
    for (int i = 0; i < xcb_get_property_value_length(prop.p) / 4; ++i) managed |= ids[i] == probe;
  }
  ready = ready && managed;
  // A manager that lags behind (under load) still moves and resizes the probe after it is gone.
  // Were the connection closed, the server would hand the same ids to the next client, and the
  // manager's late requests would shrink that client's first window to the probe's size.
  xcb_destroy_window(c, probe);
  xcb_flush(c);
  return ready;
}

XServer::~XServer() {
  if (probeClient_) xcb_disconnect(probeClient_);
  std::vector<pid_t> children(started_.rbegin(), started_.rend());
  children.insert(children.end(), {wm_, xvfb_});
  for (pid_t pid : children) {
    if (pid <= 0) continue;
    kill(-pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
  }
}

int XServer::run(const std::vector<std::string>& argv) const {
  const pid_t pid = spawn(argv);
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t XServer::start(const std::vector<std::string>& argv) {
  const pid_t pid = spawn(argv);
  if (pid > 0) started_.push_back(pid);
  return pid;
}

TestClient::TestClient(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
  if (!xcb_connection_has_error(c_)) root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
}

TestClient::~TestClient() {
  xcb_disconnect(c_);
}

xcb_atom_t TestClient::atom(const std::string& name) {
  Freed<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(
      c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr)};
  return r ? r->atom : XCB_NONE;
}

xcb_window_t TestClient::createWindow(int x, int y, int width, int height, int32_t pid,
                                      const std::string& wmInstance, const std::string& wmClass,
                                      const std::string& type, bool takeFocus) {
  const xcb_window_t w = xcb_generate_id(c_);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
  const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, static_cast<int16_t>(x),
                    static_cast<int16_t>(y), static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  std::string cls = wmInstance + '\0' + wmClass + '\0';
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(cls.size()), cls.data());
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                      &pid);
  // Ask for the position given (openbox would otherwise place the window itself).
  uint32_t hints[18] = {};
  hints[0] = 1 | 2 | 4 | 8;  // USPosition | USSize | PPosition | PSize
  hints[1] = static_cast<uint32_t>(x);
  hints[2] = static_cast<uint32_t>(y);
  hints[3] = static_cast<uint32_t>(width);
  hints[4] = static_cast<uint32_t>(height);
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS,
                      XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
  if (!type.empty()) {
    const xcb_atom_t t = atom(type);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                        32, 1, &t);
  }
  if (!takeFocus) {
    const uint32_t never = 0;
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL,
                        32, 1, &never);
  }
  xcb_map_window(c_, w);
  xcb_flush(c_);
  return w;
}

xcb_window_t TestClient::createUnmanagedWindow(int x, int y, int width, int height) {
  const xcb_window_t w = xcb_generate_id(c_);
  const uint32_t overrideRedirect = 1;
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, static_cast<int16_t>(x),
                    static_cast<int16_t>(y), static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
  xcb_map_window(c_, w);
  xcb_flush(c_);
  return w;
}

void TestClient::sync() {
  free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

void TestClient::destroy(xcb_window_t window) {
  xcb_destroy_window(c_, window);
  xcb_flush(c_);
}

void TestClient::activate(xcb_window_t window) {
  xcb_client_message_event_t e{};
  e.response_type = XCB_CLIENT_MESSAGE;
  e.format = 32;
  e.window = window;
  e.type = atom("_NET_ACTIVE_WINDOW");
  e.data.data32[0] = 2;  // from a pager: honoured at once
  e.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(c_, 0, root_,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&e));
  xcb_flush(c_);
}

void TestClient::configure(xcb_window_t window, int x, int y, int width, int height) {
  const uint32_t values[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                             static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  xcb_configure_window(c_, window,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                           XCB_CONFIG_WINDOW_HEIGHT,
                       values);
  xcb_flush(c_);
}

xcb_window_t TestClient::frameOf(xcb_window_t window) {
  xcb_window_t current = window;
  for (int i = 0; i < 16; ++i) {
    Freed<xcb_query_tree_reply_t> t{xcb_query_tree_reply(c_, xcb_query_tree(c_, current), nullptr)};
    if (!t) return XCB_NONE;
    if (t->parent == root_) return current;
    current = t->parent;
  }
  return XCB_NONE;
}

std::vector<xcb_window_t> TestClient::stacking() {
  Freed<xcb_query_tree_reply_t> t{xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr)};
  if (!t) return {};
  const xcb_window_t* children = xcb_query_tree_children(t.p);
  return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(t.p));
}

xcb_rectangle_t TestClient::geometry(xcb_window_t window) {
  Freed<xcb_get_geometry_reply_t> g{
      xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr)};
  if (!g) return {};
  return xcb_rectangle_t{g->x, g->y, static_cast<uint16_t>(g->width + 2 * g->border_width),
                         static_cast<uint16_t>(g->height + 2 * g->border_width)};
}

bool TestClient::isViewable(xcb_window_t window) {
  Freed<xcb_get_window_attributes_reply_t> a{
      xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr)};
  return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

void TestClient::click(int x, int y) {
  xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, static_cast<int16_t>(x),
                      static_cast<int16_t>(y), 0);
  xcb_test_fake_input(c_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
}

}  // namespace dunelo::x11::testing
