#include "platform/desktop/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>

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

// True once `pid` has exited; it stays unreaped (a zombie), so its process group id stays ours.
bool hasExited(pid_t pid) {
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno == ECHILD;  // reaped elsewhere (SIGCHLD ignored): it is gone
  return info.si_pid == pid;
}

}  // namespace

Deadline Deadline::in(double seconds, std::stop_token stop) {
  // A day stands for "no deadline" and keeps the arithmetic finite.
  const double bounded = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 86400.0) : 86400.0;
  return Deadline{Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(bounded)),
                  std::move(stop)};
}

double Deadline::secondsLeft() const {
  return std::max(0.0, std::chrono::duration<double>(at - Clock::now()).count());
}

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
                                                const Deadline& deadline) const {
  if (argv.empty()) return std::nullopt;
  const auto program = find(argv[0]);
  if (!program) return std::nullopt;
  CommandResult result;
  const auto markEnd = [&] {
    result.stopped = deadline.stop.stop_requested();
    result.timedOut = !result.stopped;
  };
  if (deadline.passed()) {
    markEnd();
    return result;
  }
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
  // A group of its own lets the tool and everything it started go at once.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
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
  // Readable once the tool has exited; without pidfds (old kernels) the loop polls for that.
  const int exitFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  // A stop request from another thread wakes the loop through this pipe.
  int wake[2] = {-1, -1};
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) wake[0] = wake[1] = -1;
  const auto wakeUp = [fd = wake[1]] {
    if (fd >= 0) [[maybe_unused]]
      const ssize_t n = write(fd, "x", 1);
  };
  std::optional<std::stop_callback<decltype(wakeUp)>> onStop;
  onStop.emplace(deadline.stop, wakeUp);

  bool outOpen = true, errOpen = true, exited = false;
  for (;;) {
    if (hasExited(pid)) {
      exited = true;
      break;
    }
    if (deadline.passed()) break;
    const double left = deadline.secondsLeft();
    int waitMs = static_cast<int>(std::min(left * 1000.0 + 1.0, 60'000.0));
    if (exitFd < 0 || wake[0] < 0) waitMs = std::min(waitMs, 10);
    pollfd fds[4] = {{outOpen ? out[0] : -1, POLLIN, 0},
                     {errOpen ? err[0] : -1, POLLIN, 0},
                     {exitFd, POLLIN, 0},
                     {wake[0], POLLIN, 0}};
    if (poll(fds, 4, waitMs) < 0 && errno != EINTR) break;
    if (outOpen && fds[0].revents) outOpen = drain(out[0], result.output);
    if (errOpen && fds[1].revents) errOpen = drain(err[0], result.errorOutput);
  }
  // The tool's leftovers go with it (the exited tool is not reaped yet, so its group id cannot
  // have been reused); what they had written before that is read, nothing after.
  kill(-pid, SIGKILL);
  if (outOpen) drain(out[0], result.output);
  if (errOpen) drain(err[0], result.errorOutput);
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  for (int fd : {out[0], err[0], exitFd, wake[0]})
    if (fd >= 0) close(fd);
  onStop.reset();  // waits for a callback running on another thread: only then may its pipe go
  if (wake[1] >= 0) close(wake[1]);
  if (!exited) {
    markEnd();
    return result;
  }
  result.exitCode = reaped == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace dunelo
