// Application identities that stand for another application on this desktop.
//
// Settings files travel between platforms and keep the identities they were written with. A few
// of those name an application every desktop has under a name of its own: "com.apple.finder" is
// the file manager. A desktop says which of its applications such an identity means here, so
// that an exclusion stored as "com.apple.finder" also keeps the overlay away from Nautilus,
// Thunar or Dolphin, and the panel shows that application's name and icon for it.
#pragma once

#include <optional>
#include <set>
#include <string>

namespace dunelo {

// The stored identity of the file manager.
inline constexpr const char* kFileManagerAlias = "com.apple.finder";

class ApplicationAliases {
 public:
  virtual ~ApplicationAliases() = default;
  // The identity on this desktop of the application `storedID` stands for; none when it stands
  // for itself (or for nothing installed here). Cheap enough for every focus change.
  virtual std::optional<std::string> resolve(const std::string& storedID) = 0;
};

// Whether `ids` names the application `id`, itself or through an alias. `aliases` may be null.
inline bool namesApplication(const std::set<std::string>& ids, const std::string& id,
                             ApplicationAliases* aliases) {
  if (ids.contains(id)) return true;
  if (!aliases) return false;
  for (const std::string& stored : ids)
    if (aliases->resolve(stored) == id) return true;
  return false;
}

}  // namespace dunelo
