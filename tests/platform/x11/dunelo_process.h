// The dunelo program run as a user runs it: a private home with its own config, runtime, cache
// and temporary directories, no session bus unless one is given (so none is started on the side),
// its output captured.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"

namespace dunelo::testing {

using Env = std::map<std::string, std::string>;

class DuneloHome {
 public:
  explicit DuneloHome(const std::optional<std::string>& display = std::nullopt) {
    for (const char* dir : {"runtime", "tmp"}) ::mkdir(dir_.file(dir).c_str(), 0700);
    env = {{"HOME", dir_.path()},
           {"XDG_CONFIG_HOME", dir_.file("config")},
           {"XDG_RUNTIME_DIR", dir_.file("runtime")},
           {"XDG_CACHE_HOME", dir_.file("cache")},
           {"TMPDIR", dir_.file("tmp")},
           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.file("no-bus")},
           {"PATH", "/usr/bin:/bin"}};
    if (display) env["DISPLAY"] = *display;
  }
  std::string file(const std::string& name) const { return dir_.file(name); }

  Env env;

 private:
  ScratchDir dir_;
};

// Starts `argv` (the program first, looked up in PATH) with exactly `env`; standard output goes
// to `stdoutFd` (or /dev/null when -1), standard error to the file `stderrPath`.
inline pid_t spawnProgram(const std::vector<std::string>& argv, const Env& env, int stdoutFd,
                          const std::string& stderrPath) {
  std::vector<std::string> entries;
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  std::vector<char*> envp, args;
  for (auto& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits up to `seconds` for `condition`, looking every 20 ms.
inline bool waitFor(const std::function<bool()>& condition, double seconds = 5) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return condition();
}

// The exit status, or none when it did not end within `seconds` (it is killed then).
inline std::optional<int> waitForExit(pid_t pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return std::nullopt;
}

// Lines from a pipe, each waited for with a deadline.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) { fcntl(fd, F_SETFL, O_NONBLOCK); }
  // The next line without its newline; none at the end or after `seconds`.
  std::optional<std::string> next(double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
        return std::nullopt;
      char chunk[256];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

struct Finished {
  std::optional<int> status;  // none: it did not end in time
  std::string out, err;
};

// Runs `argv` to its end (at most `seconds`).
inline Finished runProgram(const std::vector<std::string>& argv, const Env& env,
                           double seconds = 20) {
  ScratchDir dir;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  const pid_t pid = spawnProgram(argv, env, out[1], dir.file("stderr"));
  close(out[1]);
  Finished result;
  LineReader lines(out[0]);
  while (auto line = lines.next(seconds)) result.out += *line + "\n";
  close(out[0]);
  if (pid > 0) result.status = waitForExit(pid, seconds);
  result.err = readFile(dir.file("stderr"));
  return result;
}

}  // namespace dunelo::testing
