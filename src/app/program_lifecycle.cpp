#include "app/program_lifecycle.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace dunelo {
namespace {

int quitPipeWriteEnd = -1;

extern "C" void onQuitSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(quitPipeWriteEnd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

void reportNoDisplay(const std::string& failure) {
  std::fprintf(stderr,
               "dunelo: %s\nDunelo runs in an X11 desktop session; start it from one (or set "
               "DISPLAY to an X server you may use).\n",
               failure.c_str());
}

int installQuitSignalPipe() {
  int quitPipe[2] = {-1, -1};
  if (pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  quitPipeWriteEnd = quitPipe[1];
  struct sigaction action {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return quitPipe[0];
}

void drainQuitSignalPipe(int readEnd) {
  char buffer[16];
  while (read(readEnd, buffer, sizeof buffer) > 0) {
  }
}

int exitStatus(bool serverGone) {
  if (!serverGone) return 0;
  std::fprintf(stderr, "dunelo: the X server went away\n");
  return 1;
}

}  // namespace dunelo
