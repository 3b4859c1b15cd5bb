// Tells whether anything changed in a few directory trees, through inotify: desktop entries
// installed, removed, renamed or rewritten, in the trees or in subdirectories made later. A tree
// that does not exist yet (~/.local/share/applications before the first user install) is watched
// for through its parent.
//
// Nothing here blocks. The owner either serves fd() from its main loop with readEvents() (so the
// kernel's queue never overflows) or just asks takeChanged(), which reads what is queued first.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace dunelo {

class DirectoryWatcher {
 public:
  explicit DirectoryWatcher(std::vector<std::string> roots);
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // False when inotify is not available (or every watch was refused); the owner then has to
  // look for changes another way.
  bool isWatching() const { return fd_ >= 0 && !watches_.empty(); }
  // Readable when events are queued; -1 when not watching.
  int fd() const { return fd_; }

  // Reads the queued events without blocking.
  void readEvents();
  // True when something changed since the last call.
  bool takeChanged();

 private:
  struct Watch {
    std::string path;
    size_t root;        // index into roots_
    bool parentOfRoot;  // watches for the root's creation only
  };
  void watchRoot(size_t root);
  void watchTree(const std::string& dir, size_t root);
  void addWatch(const std::string& dir, size_t root, bool parentOfRoot);
  void rewatchAll();

  std::vector<std::string> roots_;
  int fd_ = -1;
  std::map<int, Watch> watches_;  // by watch descriptor
  bool changed_ = false;
  bool refusedLogged_ = false;
};

}  // namespace dunelo
