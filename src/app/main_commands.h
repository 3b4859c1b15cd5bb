// The dunelo program's command line, before anything needs a display: help, the version, a
// mistake in the arguments, or one command sent to the running instance over the single-instance
// channel.
#pragma once

#include <optional>

namespace dunelo {

// The exit status when the arguments ask for something other than running Dunelo; none when
// Dunelo should start. Prints what the command answers on standard output (`--status`) and one
// line on standard error when it fails.
std::optional<int> runCommandLine(int argc, char** argv);

}  // namespace dunelo
