// Directories only this user can enter, for files that must not be reachable by anyone else (the
// single-instance socket). A directory in a shared place such as /tmp may have been made by
// another user before us, so it is checked before it is trusted.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace dunelo {

// Makes sure `path` is a directory only `uid` can use. A missing one is created with mode 0700
// when `create` (its parent must exist); an existing one must be a directory itself (not a
// link), owned by `uid`, with no access for group or others. Otherwise returns false with the
// reason in `why`, and nothing found there is changed or removed.
bool ensurePrivateDirectory(const std::string& path, uid_t uid, bool create, std::string* why);

// Where this user's runtime files go: the first usable of $XDG_RUNTIME_DIR (used as it is, never
// created), ${TMPDIR:-/tmp}/dunelo-<uid> and ${XDG_CACHE_HOME:-$HOME/.cache}/dunelo-runtime.
// Every process of the user arrives at the same one from the same environment.
struct RuntimeDirectory {
  std::string path;                // empty when none is usable
  std::vector<std::string> notes;  // one line per directory passed over, and why
};
RuntimeDirectory findRuntimeDirectory(uid_t uid);

}  // namespace dunelo
