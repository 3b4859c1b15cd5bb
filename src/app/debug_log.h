// The diagnostic log: one timestamped line per call, appended to a fixed file.
//
// Every message starts with its component's name in brackets ("[BlurEngine] ..."). There are no
// levels and no console output. The file is opened and closed on every call.
#pragma once

#include <string>
#include <string_view>

namespace dunelo {

inline constexpr const char* kDebugLogPath = "/tmp/dunelo_debug.log";

// Appends "<UTC date and time>: <message>\n" as UTF-8. Failures are silent: the line is lost.
void debugLog(std::string_view message);

// Points the log at another file (tests only; production never calls it). An empty path
// restores the default.
void setDebugLogPathForTesting(std::string path);

}  // namespace dunelo
