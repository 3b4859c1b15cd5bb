#include "platform/desktop/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

extern char** environ;

namespace dunelo {
namespace {

std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

// Reads what is there without blocking; false once the pipe is closed.
bool drain(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      const size_t room =
          CommandRunner::kMaxOutput - std::min(into.size(), CommandRunner::kMaxOutput);
      into.append(buffer, std::min(static_cast<size_t>(n), room));
      continue;
    }
    if (n == 0) return false;
    return errno == EAGAIN || errno == EINTR;
  }
}

}  // namespace

CommandRunner CommandRunner::forThisProcess() {
  const char* path = std::getenv("PATH");
  return CommandRunner(path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
}

std::optional<std::string> CommandRunner::find(std::string_view program) const {
  if (program.empty() || program.find('/') != std::string_view::npos) return std::nullopt;
  size_t start = 0;
  while (start <= searchPath_.size()) {
    size_t end = searchPath_.find(':', start);
    if (end == std::string::npos) end = searchPath_.size();
    const std::string dir = searchPath_.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir[0] != '/') continue;  // relative entries would depend on the cwd
    std::string candidate = dir + "/" + std::string(program);
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::optional<CommandResult> CommandRunner::run(const std::vector<std::string>& argv,
                                                double timeout) const {
  if (argv.empty()) return std::nullopt;
  const auto program = find(argv[0]);
  if (!program) return std::nullopt;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // A tool starts with no signal blocked, whatever the mask of the thread that starts it: a
  // blocked SIGTERM would make it unstoppable.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> args = argv;
  args[0] = *program;
  auto cargv = argvOf(args);
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, program->c_str(), &actions, &attributes, cargv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) {
    close(out[0]);
    close(err[0]);
    return std::nullopt;
  }
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);

  CommandResult result;
  bool outOpen = true, errOpen = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      break;
    }
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    if (outOpen && fds[0].revents) outOpen = drain(out[0], result.output);
    if (errOpen && fds[1].revents) errOpen = drain(err[0], result.errorOutput);
  }
  close(out[0]);
  close(err[0]);
  // A tool that closed its output but keeps running is waited for until the same deadline.
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return result;  // not our child any more: status unknown
    if (result.timedOut || std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return result;
    }
    usleep(2000);
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool CommandRunner::spawnDetached(const std::vector<std::string>& argv) const {
  if (argv.empty()) return false;
  const auto program = find(argv[0]);
  if (!program) return false;
  std::vector<std::string> args = argv;
  args[0] = *program;
  auto cargv = argvOf(args);
  sigset_t none;
  sigemptyset(&none);
  // Everything the children need is prepared before fork: they only call async-signal-safe
  // functions.
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    sigprocmask(SIG_SETMASK, &none, nullptr);  // see run()
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    if (fork() == 0) {
      execve(cargv[0], cargv.data(), environ);
      _exit(127);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace dunelo
