// The user's defaults domain, kept in a JSON file ($XDG_CONFIG_HOME/dunelo/defaults.json).
//
// The file is a JSON object of key to value. Value types survive a restart: booleans, integers
// (JSON numbers without a fraction or exponent), doubles (written with a fraction or exponent; the
// non-finite ones as {"$double":"nan"|"inf"|"-inf"}), strings, arrays and data
// ({"$data":"<base64>"}). Anything else found in the file (objects, null, deeper nesting than we
// write) is kept as it is and reads as absent.
//
// Every write goes to disk at once: a private temporary file in the same directory is written,
// flushed and renamed over the old file, so a crash leaves the old or the new file, never a torn
// one. A file that cannot be used (not JSON, not an object, oversized, unreadable) is moved aside
// as "defaults.json.corrupt-<UTC time>" and the domain starts empty; a failed write keeps the new
// value in memory. Both are logged with the prefix "[Settings]". Nothing here throws.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "settings/defaults_store.h"

namespace dunelo {

class JsonFileDefaultsStore final : public DefaultsStore {
 public:
  // Files larger than this are not ours (the whole domain is a few kilobytes) and are set aside
  // unread.
  static constexpr size_t kMaxFileSize = 8 * 1024 * 1024;
  // Deeper nesting than this is set aside too (it protects the recursive parts of the JSON code).
  static constexpr int kMaxDepth = 64;

  // Loads `path` (see above). The directory is created (mode 0700) on the first write.
  explicit JsonFileDefaultsStore(std::string path);

  // "$XDG_CONFIG_HOME/dunelo/defaults.json", or "~/.config/dunelo/defaults.json" when that
  // variable is unset, empty or relative; none when no home directory can be found.
  static std::optional<std::string> defaultPath();

  std::optional<DefaultsValue> objectForKey(std::string_view key) const override;
  void setObject(std::string_view key, DefaultsValue value) override;
  void removeObject(std::string_view key) override;

  const std::string& path() const { return path_; }
  // False after a write that did not reach the disk, until the next one that does.
  bool lastWriteSucceeded() const { return lastWriteOk_; }

 private:
  void load();
  void setAside(const std::string& reason);
  void save(std::string_view key);

  std::string path_;
  nlohmann::json doc_ = nlohmann::json::object();
  bool lastWriteOk_ = true;
  bool writeBlocked_ = false;  // an unusable file could not be moved aside: never replace it
};

// Converters between stored values and their JSON form (exposed for the tests and the fuzzer).
nlohmann::json defaultsValueToJson(const DefaultsValue& value);
std::optional<DefaultsValue> defaultsValueFromJson(const nlohmann::json& json);

}  // namespace dunelo
