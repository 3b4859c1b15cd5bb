#include "platform/desktop/detached_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "core/debug_log.h"

namespace dunelo {

bool spawnDetached(const std::vector<std::string>& command) {
  if (command.empty()) return false;
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The grandchild reports a failed exec through a close-on-exec pipe; a successful exec closes
  // it with nothing written.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    const pid_t grandchild = fork();
    if (grandchild < 0) {
      const int error = errno;
      ssize_t ignored = write(pipeFds[1], &error, sizeof error);
      (void)ignored;
      _exit(127);
    }
    if (grandchild > 0) _exit(0);  // the middle process exits at once; init adopts the other
    setsid();
    execvp(argv[0], argv.data());
    const int error = errno;
    ssize_t ignored = write(pipeFds[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(pipeFds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  if (n > 0) {
    debugLog("[Desktop] cannot start " + command.front());
    return false;
  }
  return true;
}

}  // namespace dunelo
