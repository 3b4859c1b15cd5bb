// Small POSIX file helpers shared by the parts of Dunelo that write their own files (the debug
// log, the settings file, the autostart entry).
#pragma once

#include <string_view>

namespace dunelo {

// Writes all of data to fd, retrying short writes and EINTR. False when the descriptor refuses
// (errno tells why); a false return may leave part of data written.
bool writeAll(int fd, std::string_view data);

}  // namespace dunelo
