#include "platform/desktop/directory_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/debug_log.h"

namespace dunelo {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kTreeEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                 IN_ONLYDIR;
constexpr uint32_t kParentEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

std::string parentOf(const std::string& path) {
  return fs::path(path).parent_path().string();
}

std::string nameOf(const std::string& path) {
  return fs::path(path).filename().string();
}

}  // namespace

DirectoryWatcher::DirectoryWatcher(std::vector<std::string> roots) : roots_(std::move(roots)) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    debugLog(std::string("[Apps] cannot watch the application directories (") +
             std::strerror(errno) + ")");
    return;
  }
  for (size_t i = 0; i < roots_.size(); ++i) watchRoot(i);
}

DirectoryWatcher::~DirectoryWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

void DirectoryWatcher::watchRoot(size_t root) {
  std::error_code ec;
  if (fs::is_directory(roots_[root], ec)) {
    watchTree(roots_[root], root);
  } else if (fs::is_directory(parentOf(roots_[root]), ec)) {
    addWatch(parentOf(roots_[root]), root, true);
  }
}

void DirectoryWatcher::watchTree(const std::string& dir, size_t root) {
  addWatch(dir, root, false);
  std::error_code ec;
  for (auto it =
           fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code entryError;
    if (it->is_directory(entryError) && !it->is_symlink(entryError))
      addWatch(it->path().string(), root, false);
  }
}

void DirectoryWatcher::addWatch(const std::string& dir, size_t root, bool parentOfRoot) {
  const int wd = ::inotify_add_watch(fd_, dir.c_str(), parentOfRoot ? kParentEvents : kTreeEvents);
  if (wd < 0) {
    // Usually the per-user watch limit; changes in this directory go unnoticed.
    if (!refusedLogged_) debugLog("[Apps] cannot watch " + dir + " (" + std::strerror(errno) + ")");
    refusedLogged_ = true;
    return;
  }
  // A parent watch and a tree watch of one directory share a descriptor: the tree wins.
  auto [it, inserted] = watches_.try_emplace(wd, Watch{dir, root, parentOfRoot});
  if (!inserted && !parentOfRoot) it->second = Watch{dir, root, false};
}

void DirectoryWatcher::rewatchAll() {
  for (const auto& [wd, watch] : watches_) ::inotify_rm_watch(fd_, wd);
  watches_.clear();
  for (size_t i = 0; i < roots_.size(); ++i) watchRoot(i);
}

void DirectoryWatcher::readEvents() {
  if (fd_ < 0) return;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bool rewatch = false;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      const std::string name = event->len ? event->name : "";
      if (event->mask & IN_Q_OVERFLOW) {
        changed_ = rewatch = true;
        continue;
      }
      const auto it = watches_.find(event->wd);
      if (it == watches_.end()) continue;
      if (event->mask & IN_IGNORED) {
        watches_.erase(it);
        continue;
      }
      const Watch watch = it->second;
      if (watch.parentOfRoot) {
        // Only the root's own appearance counts; the parent (~/.local/share) is busy.
        if (name == nameOf(roots_[watch.root])) {
          changed_ = true;
          watchTree(roots_[watch.root], watch.root);
        }
        continue;
      }
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        changed_ = true;
        // A moved directory's watches carry stale paths, and a root that went is waited for
        // through its parent again.
        if (event->mask & IN_MOVE_SELF || watch.path == roots_[watch.root]) rewatch = true;
        continue;
      }
      const bool isDir = event->mask & IN_ISDIR;
      if (isDir && (event->mask & (IN_CREATE | IN_MOVED_TO)))
        watchTree(watch.path + "/" + name, watch.root);
      // Editors' swap files and the like do not change what is installed.
      if (isDir || name.ends_with(".desktop")) changed_ = true;
    }
    if (rewatch) rewatchAll();
  }
}

bool DirectoryWatcher::takeChanged() {
  readEvents();
  const bool changed = changed_;
  changed_ = false;
  return changed;
}

}  // namespace dunelo
