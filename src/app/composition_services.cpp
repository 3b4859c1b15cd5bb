#include "app/composition_services.h"

#include <unistd.h>

#include "core/debug_log.h"
#include "core/file_io.h"
#include "platform/desktop/xdg_autostart.h"
#include "settings/in_memory_defaults_store.h"
#include "settings/json_file_defaults_store.h"

namespace dunelo {
namespace {

// Where no autostart directory or program path can be found: launch at login cannot be had.
class UnavailableLoginItems final : public LoginItems {
 public:
  bool registerApp() override { return false; }
  bool unregisterApp() override { return false; }
};

std::string programPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

DesktopServices makeDesktopServices(Scheduler& mainThread,
                                    const std::optional<std::string>& defaultsPath,
                                    const std::optional<std::string>& autostartDir) {
  DesktopServices s;
  s.dock = DockScriptRunner::forThisProcess(mainThread);
  s.updater = std::make_unique<PackageManagerUpdater>(CommandRunner::forThisProcess(), mainThread);

  const auto path = defaultsPath ? defaultsPath : JsonFileDefaultsStore::defaultPath();
  if (path) {
    s.defaults = std::make_unique<JsonFileDefaultsStore>(*path);
  } else {
    debugLog("[Settings] no home directory; settings are kept for this session only");
    s.defaults = std::make_unique<InMemoryDefaultsStore>();
  }

  const std::string configHome = xdgBaseDirectory("XDG_CONFIG_HOME", ".config");
  const std::string dir =
      autostartDir ? *autostartDir : (configHome.empty() ? "" : configHome + "/autostart");
  const std::string program = programPath();
  if (!dir.empty() && !program.empty()) {
    s.loginItems = std::make_unique<XdgAutostart>(dir, kDesktopId, program);
  } else {
    s.loginItems = std::make_unique<UnavailableLoginItems>();
  }
  s.aliases = std::make_unique<FileManagerAlias>(CommandRunner::forThisProcess(),
                                                 xdgDataDirectories(), configHome);
  return s;
}

}  // namespace dunelo
