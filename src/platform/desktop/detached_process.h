// Starting a program that outlives the request for it (a browser for a location, a settings
// page): no shell, no zombie, and no wait for it to finish.
#pragma once

#include <string>
#include <vector>

namespace dunelo {

// Runs `command` (the program, looked up in PATH, then its arguments) in a session of its own,
// adopted by init; false when it could not be started.
bool spawnDetached(const std::vector<std::string>& command);

}  // namespace dunelo
