// libFuzzer target: arbitrary bytes as the settings file. The store must load or set the file
// aside, the settings must load, and a write must leave a file that loads with that write in it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings/json_file_defaults_store.h"
#include "settings/settings_manager.h"

namespace {

struct NoLoginItems : dunelo::LoginItems {
  bool registerApp() override { return true; }
  bool unregisterApp() override { return true; }
};

const std::string& scratchDir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/dunelo-fuzz-XXXXXX";
    if (!::mkdtemp(templ)) std::abort();
    return std::string(templ);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = scratchDir() + "/defaults.json";
  std::remove(path.c_str());
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  {
    dunelo::JsonFileDefaultsStore store(path);
    NoLoginItems login;
    dunelo::SettingsManager settings(store, login);
    for (const char* key : {"isActive", "blurIntensity", "excludedAppBundleIDs", "tintColor",
                            "globalShortcutKeyCode", "shakeSensitivity"}) {
      (void)store.integerForKey(key);
      (void)store.arrayForKey(key);
      (void)store.dataForKey(key);
    }
    settings.tintOpacity = 0.25;
  }
  dunelo::JsonFileDefaultsStore reloaded(path);
  if (reloaded.doubleForKey("tintOpacity") != 0.25) std::abort();
  // Keep the scratch directory from filling up with set-aside files.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(scratchDir(), ec)) {
    if (entry.path().filename().string().rfind("defaults.json.corrupt-", 0) == 0)
      std::filesystem::remove(entry.path(), ec);
  }
  return 0;
}
