// Start-up and shutdown steps both dunelo programs share (the one under its own poll() loop and
// the one under the Qt loop), so the two say the same things and end the same way.
#pragma once

#include <string>

namespace dunelo {

// Tells the user on stderr why Dunelo could not reach an X server.
void reportNoDisplay(const std::string& failure);

// Makes SIGINT and SIGTERM write to a pipe instead of ending the process, so the loop can quit
// and teardown runs on the main thread. Returns the pipe's non-blocking read end to watch, or -1
// when no pipe could be made (the signals then keep their default action). The signal mask stays
// as it was, so nothing Dunelo starts (a dock tool, a browser opened for a settings page)
// inherits blocked signals. The pipe stays open: a late signal may still write to it until the
// process ends.
int installQuitSignalPipe();

// Empties the pipe returned by installQuitSignalPipe() once its read end is readable.
void drainQuitSignalPipe(int readEnd);

// The exit status once the loop has returned and everything is torn down; says so on stderr
// when the X server went away.
int exitStatus(bool serverGone);

}  // namespace dunelo
