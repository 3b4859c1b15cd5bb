#include "platform/desktop/private_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace dunelo {

namespace {

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool fail(std::string* why, std::string reason) {
  if (why) *why = std::move(reason);
  return false;
}

std::string absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? value : "";
}

}  // namespace

bool ensurePrivateDirectory(const std::string& path, uid_t uid, bool create, std::string* why) {
  if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return fail(why, std::string("cannot be made: ") + std::strerror(errno));
  // lstat: a link is judged as a link, so one planted towards some other directory is refused.
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return fail(why, std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return fail(why, "is not a directory");
  if (st.st_uid != uid) return fail(why, "belongs to uid " + std::to_string(st.st_uid));
  if ((st.st_mode & 077) != 0)
    return fail(why, "is open to others (mode " + octal(st.st_mode) + ")");
  return true;
}

RuntimeDirectory findRuntimeDirectory(uid_t uid) {
  RuntimeDirectory result;
  auto consider = [&](const std::string& path, bool create) {
    if (path.empty() || !result.path.empty()) return;
    std::string why;
    if (ensurePrivateDirectory(path, uid, create, &why))
      result.path = path;
    else
      result.notes.push_back(path + " " + why);
  };
  consider(absoluteEnv("XDG_RUNTIME_DIR"), false);
  std::string tmp = absoluteEnv("TMPDIR");
  consider((tmp.empty() ? "/tmp" : tmp) + "/dunelo-" + std::to_string(uid), true);
  std::string cache = absoluteEnv("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = absoluteEnv("HOME");
    if (!home.empty()) cache = home + "/.cache";
  }
  if (!cache.empty() && result.path.empty()) {
    ::mkdir(cache.c_str(), 0700);  // a fresh home may not have one yet
    consider(cache + "/dunelo-runtime", true);
  }
  return result;
}

}  // namespace dunelo
