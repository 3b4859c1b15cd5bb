#include "core/debug_log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/file_io.h"

namespace dunelo {
namespace {

std::string absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? std::string(value) : std::string();
}

// Opens `path` for appending, creating it private to this user. A link is never followed and a
// FIFO never blocks the caller (O_NONBLOCK makes its open fail at once without a reader). -1
// with the reason in `*why` when the file is not one this user alone may write.
int openOwnFile(const std::string& path, struct stat* st, std::string* why) {
  const int fd =
      ::open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) {
    // ENXIO: a FIFO without a reader.
    *why = errno == ELOOP   ? std::string("it is a symbolic link")
           : errno == ENXIO ? std::string("it is not a regular file")
                            : std::strerror(errno);
    return -1;
  }
  const char* problem = nullptr;
  if (::fstat(fd, st) != 0) {
    problem = "it cannot be examined";
  } else if (!S_ISREG(st->st_mode)) {
    problem = "it is not a regular file";
  } else if (st->st_uid != ::geteuid()) {
    problem = "another user owns it";
  } else if (st->st_nlink != 1) {
    problem = "it has other names (hard links)";
  }
  if (problem) {
    ::close(fd);
    *why = problem;
    return -1;
  }
  return fd;
}

}  // namespace

std::vector<std::string> DebugLogFile::defaultPaths() {
  std::vector<std::string> paths{kDebugLogPath};
  if (const std::string state = xdgBaseDirectory("XDG_STATE_HOME", ".local/state"); !state.empty())
    paths.push_back(state + "/dunelo/debug.log");
  if (const std::string runtime = absoluteEnv("XDG_RUNTIME_DIR"); !runtime.empty())
    paths.push_back(runtime + "/dunelo/debug.log");
  return paths;
}

DebugLogFile::DebugLogFile(Options options) : options_(std::move(options)) {}

DebugLogFile::DebugLogFile() : DebugLogFile(Options{defaultPaths()}) {}

std::string DebugLogFile::currentPath() const {
  return current_ < options_.paths.size() ? options_.paths[current_] : std::string();
}

void DebugLogFile::write(std::string_view message) {
  const std::time_t now = std::time(nullptr);
  std::string text = formatLogLine(now, message);
  while (current_ < options_.paths.size()) {
    const std::string& path = options_.paths[current_];
    std::string why;
    if (current_ > 0) makeDirectories(parentDirectory(path), 0700);
    if (append(path, text, &why) == Outcome::written) return;
    // Say in the next place why the log is there, ahead of the line itself.
    const std::string next = ++current_ < options_.paths.size() ? options_.paths[current_] : "";
    if (!next.empty()) {
      text = formatLogLine(now, "[Log] " + path + " cannot be used safely (" + why +
                                    "); this run logs to " + next) +
             formatLogLine(now, message);
    }
  }
}

DebugLogFile::Outcome DebugLogFile::append(const std::string& path, const std::string& text,
                                           std::string* why) {
  struct stat st {};
  int fd = openOwnFile(path, &st, why);
  if (fd < 0) return Outcome::unusable;
  if (static_cast<uint64_t>(st.st_size) + text.size() > options_.maxBytes && st.st_size > 0) {
    // Keep one previous file. Where its name is taken by something this user may not replace
    // (another user's file in /tmp), start this one afresh instead: the cap matters more.
    const std::string previous = path + ".1";
    if (::rename(path.c_str(), previous.c_str()) == 0) {
      ::close(fd);
      fd = openOwnFile(path, &st, why);
      if (fd < 0) return Outcome::unusable;
    } else if (::ftruncate(fd, 0) != 0) {
      ::close(fd);
      return Outcome::written;  // the line is lost, the place is still ours
    }
  }
  writeAll(fd, text);
  ::close(fd);
  return Outcome::written;
}

}  // namespace dunelo
