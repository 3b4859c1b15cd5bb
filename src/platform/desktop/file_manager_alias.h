// "com.apple.finder" on a Linux desktop: the desktop's file manager.
//
// The file manager is found as desktop shells find the application that opens folders:
// `xdg-mime query default inode/directory`, else the first installed of the usual ones
// (org.gnome.Nautilus, thunar, pcmanfm, org.kde.dolphin, nemo, caja). The answer is kept until
// the applications or the user's configuration directory change (a file manager installed or
// removed, another one made the default), so a focus change costs a few stat() calls, not a
// process.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/application_aliases.h"
#include "platform/desktop/command_runner.h"

namespace dunelo {

class FileManagerAlias final : public ApplicationAliases {
 public:
  // `dataDirs` are the XDG data directories (their "applications" subdirectories hold the
  // desktop entries), `configHome` the user's configuration directory (mimeapps.list).
  FileManagerAlias(CommandRunner runner, std::vector<std::string> dataDirs, std::string configHome);

  std::optional<std::string> resolve(const std::string& storedID) override;

  // How often the file manager was looked up (tests).
  int lookups() const { return lookups_; }

 private:
  std::optional<std::string> lookUp() const;
  bool isInstalled(const std::string& desktopID) const;
  std::vector<std::string> stamps() const;

  CommandRunner runner_;
  std::vector<std::string> dataDirs_;
  std::string configHome_;
  std::vector<std::string> stamps_;
  std::optional<std::string> fileManager_;
  int lookups_ = 0;
};

}  // namespace dunelo
