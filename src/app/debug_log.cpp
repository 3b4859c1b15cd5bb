#include "app/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "core/file_io.h"

namespace dunelo {
namespace {

std::string& overridePath() {
  static std::string path;
  return path;
}

std::string timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return std::string(text, n);
}

}  // namespace

void setDebugLogPathForTesting(std::string path) {
  overridePath() = std::move(path);
}

void debugLog(std::string_view message) {
  std::string line = timestamp();
  line += ": ";
  line += message;
  line += '\n';

  const std::string& custom = overridePath();
  const char* path = custom.empty() ? kDebugLogPath : custom.c_str();
  // The default path lies in a world-writable directory: another user may have put a link or a
  // file of their own there. Never follow a link, create the file private to this user, and
  // write only into a regular file that this user owns and that has no other names. O_NONBLOCK:
  // a FIFO planted there would otherwise block the open (and the whole program) until a reader
  // turns up; with it the open fails at once.
  const int fd = ::open(
      path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
      st.st_nlink == 1) {
    writeAll(fd, line);
  }
  ::close(fd);
}

}  // namespace dunelo
