#include "core/file_io.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace dunelo {
namespace {

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

bool writeAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string parentDirectory(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool makeDirectories(const std::string& dir, mode_t mode, std::string* error) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    setError(error, dir + " is not a directory");
    return false;
  }
  const std::string parent = parentDirectory(dir);
  if (parent != dir && parent != "." && !makeDirectories(parent, mode, error)) return false;
  if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) {
    setError(error, "cannot create " + dir + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

bool replaceFile(const std::string& path, std::string_view data, mode_t mode, std::string* error) {
  const std::string dir = parentDirectory(path);
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    setError(error, "cannot create a file in " + dir + ": " + std::strerror(errno));
    return false;
  }
  const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
  const int writeErr = errno;
  if (::close(fd) != 0 || !written) {
    setError(error, "cannot write " + temp + ": " + std::strerror(written ? errno : writeErr));
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    setError(error, "cannot replace " + path + ": " + std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
  }
  if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

std::string xdgBaseDirectory(const char* variable, const char* homeRelative) {
  if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
  std::string home;
  if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
    home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
    home = pw->pw_dir;
  }
  return home.empty() ? home : home + "/" + homeRelative;
}

std::vector<std::string> xdgDataDirectories() {
  std::vector<std::string> dirs;
  if (std::string home = xdgBaseDirectory("XDG_DATA_HOME", ".local/share"); !home.empty())
    dirs.push_back(std::move(home));
  const char* system = std::getenv("XDG_DATA_DIRS");
  const std::string list = system && *system ? system : "/usr/local/share:/usr/share";
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(':', start), list.size());
    // Relative entries are not valid in the list and are skipped.
    if (end > start && list[start] == '/') dirs.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return dirs;
}

std::string formatUtc(std::time_t when, const char* format) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  const size_t n = std::strftime(text, sizeof text, format, &utc);
  return std::string(text, n);
}

}  // namespace dunelo
