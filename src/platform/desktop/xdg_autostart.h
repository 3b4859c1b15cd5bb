// Launch at login on Linux desktops: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/<desktop id>.desktop) that starts this program.
#pragma once

#include <optional>
#include <string>

#include "platform/login_items.h"

namespace dunelo {

inline constexpr const char* kDesktopId = "io.dunelo.Dunelo";

class XdgAutostart final : public LoginItems {
 public:
  // `autostartDir` holds the entry; `programPath` is the absolute path the entry starts.
  XdgAutostart(std::string autostartDir, std::string desktopId, std::string programPath);

  // For this process: "$XDG_CONFIG_HOME/autostart" (or "~/.config/autostart") and the path of the
  // running executable. None when either cannot be found.
  static std::optional<XdgAutostart> forThisProgram();

  // Writes the entry (atomically, replacing an older one). False when the program path cannot be
  // written as a desktop entry or the file cannot be written.
  bool registerApp() override;
  // Deletes the entry; an entry that is already gone counts as success.
  bool unregisterApp() override;

  std::string entryPath() const { return autostartDir_ + "/" + desktopId_ + ".desktop"; }
  // The complete entry, or none when `programPath` is not absolute, not UTF-8 or holds control
  // characters other than tab, line feed and carriage return.
  std::optional<std::string> entryText() const;

 private:
  std::string autostartDir_;
  std::string desktopId_;
  std::string programPath_;
};

// The value of an Exec key that runs `program` with no arguments: the path quoted as one argument
// when it needs it (with ", `, $ and \ escaped inside the quotes, % doubled), then escaped as a
// desktop-entry string value (\ doubled, tab, line feed and carriage return as \t, \n and \r).
// None for text that a desktop entry cannot hold.
std::optional<std::string> desktopExecValue(const std::string& program);

}  // namespace dunelo
