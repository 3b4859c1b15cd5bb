// Small POSIX file helpers shared by the parts of Dunelo that write their own files (the debug
// log, the settings file, the autostart entry).
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace dunelo {

// Writes all of data to fd, retrying short writes and EINTR. False when the descriptor refuses
// (errno tells why); a false return may leave part of data written.
bool writeAll(int fd, std::string_view data);

// The directory part of `path` ("." for a bare name, "/" for a file in the root).
std::string parentDirectory(const std::string& path);

// mkdir -p: creates `dir` and its missing parents with `mode`. True when `dir` is a directory
// afterwards; otherwise false with the reason in `*error` (when given), such as
// "cannot create <dir>: <errno text>" or "<dir> is not a directory".
bool makeDirectories(const std::string& dir, mode_t mode = 0700, std::string* error = nullptr);

// Replaces `path` with a file holding `data`, so that a crash at any moment leaves either the old
// or the new file complete: a temporary file in the same directory (created with `mode`) is
// written and synced, renamed over `path`, and the directory is synced so that the rename lasts.
// A link at `path` is replaced, not followed. False with the reason in `*error` (when given),
// such as "cannot write <temp>: <errno text>"; no temporary file is left behind then.
bool replaceFile(const std::string& path, std::string_view data, mode_t mode,
                 std::string* error = nullptr);

// A base directory of the XDG convention: `$variable` when it holds an absolute path, else
// `homeRelative` under the home directory ($HOME, or the password database's entry). Empty when
// no home directory is known. xdgBaseDirectory("XDG_CONFIG_HOME", ".config"), say.
std::string xdgBaseDirectory(const char* variable, const char* homeRelative);

// The XDG data directories, most important first: the user's ($XDG_DATA_HOME, else
// ~/.local/share), then each of $XDG_DATA_DIRS (else /usr/local/share and /usr/share).
std::vector<std::string> xdgDataDirectories();

// `when` in UTC, formatted by strftime's `format` ("%Y-%m-%d %H:%M:%S +0000", say).
std::string formatUtc(std::time_t when, const char* format);

}  // namespace dunelo
