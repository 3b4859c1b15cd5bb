// The user's defaults domain, kept in a JSON file ($XDG_CONFIG_HOME/dunelo/defaults.json).
//
// The file is a JSON object of key to value. Value types survive a restart: booleans, integers
// (JSON numbers without a fraction or exponent), doubles (written with a fraction or exponent; the
// non-finite ones as {"$double":"nan"|"inf"|"-inf"}), strings, arrays and data
// ({"$data":"<base64>"}). Anything else found in the file (objects, null, deeper nesting than we
// write) is kept as it is and reads as absent.
//
// Every change reaches the disk promptly: a writer thread replaces the file at most every
// kCoalesce (a private temporary file in the same directory is written, flushed and renamed over
// the old file, so a crash leaves the old or the new file, never a torn one), folding the changes
// made meanwhile into one write. A change that leaves the stored value as it was writes nothing.
// Destroying the store (or flush()) waits for the last write. Temporary files that a killed
// process left behind are removed at start once they are old enough to be abandoned.
//
// A file that cannot be used (not JSON, not an object, oversized, not a regular file) is moved
// aside as "defaults.json.corrupt-<UTC time>" and the domain starts empty. A link (dotfile
// managers make them) is followed when it leads to a usable settings file of this user: writes
// replace that file, next to it. A link to anything else is left alone, with its target: the
// domain starts empty and nothing is saved. A failed write keeps the new value in memory. Each of
// these is logged with the prefix "[Settings]". Nothing here throws.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/regular_file.h"
#include "settings/background_writer.h"
#include "settings/defaults_store.h"

namespace dunelo {

class JsonFileDefaultsStore final : public DefaultsStore {
 public:
  // Files larger than this are not ours (the whole domain is a few kilobytes) and are set aside
  // unread.
  static constexpr size_t kMaxFileSize = 8 * 1024 * 1024;
  // The largest file written: well below what loading accepts, so every file written loads.
  static constexpr size_t kMaxWrittenSize = kMaxFileSize / 2;
  // Deeper nesting than this is set aside too (it protects the recursive parts of the JSON code).
  static constexpr int kMaxDepth = 64;
  // The longest a change waits for the disk (beyond a write already under way).
  static constexpr std::chrono::milliseconds kCoalesce{100};
  // A temporary file this old belongs to a save that was killed.
  static constexpr std::chrono::seconds kStaleTempAge{10};

  // Loads `path` (see above). The directory is created (mode 0700) on the first write.
  explicit JsonFileDefaultsStore(std::string path);
  ~JsonFileDefaultsStore() override;

  // "$XDG_CONFIG_HOME/dunelo/defaults.json", or "~/.config/dunelo/defaults.json" when that
  // variable is unset, empty or relative; none when no home directory can be found.
  static std::optional<std::string> defaultPath();

  std::optional<DefaultsValue> objectForKey(std::string_view key) const override;
  void setObject(std::string_view key, DefaultsValue value) override;
  void removeObject(std::string_view key) override;

  // Waits until every change made so far has been written (or has failed to be).
  void flush() override;

  // The file written: the configured path, or the file a link there leads to.
  const std::string& path() const { return path_; }
  // False after a write that did not reach the disk, until the next one that does.
  bool lastWriteSucceeded() const { return lastWriteOk_; }
  // Files written so far.
  uint64_t writeCount() const { return writeCount_; }

 private:
  void followLink();
  void load();
  // The settings in `file`, or none with the reason in `*problem`.
  std::optional<nlohmann::json> parse(const RegularFileRead& file, std::string* problem) const;
  void setAside(const std::string& reason);
  void removeStaleTempFiles();
  void changed(std::string_view key);
  void write();  // on the writer thread
  void reportWrite(bool ok, const std::string& key, const std::string& error);

  std::string path_;
  // Changed on the main thread only, under the lock; the writer reads it under the lock.
  nlohmann::json doc_ = nlohmann::json::object();
  std::mutex docMutex_;
  std::string unsavedKey_;  // the first change not on disk yet (under the lock)
  std::atomic<bool> lastWriteOk_ = true;
  std::atomic<uint64_t> writeCount_ = 0;
  // Saving is off: an unusable file could not be moved aside, or a link leads somewhere that
  // must not be replaced.
  bool writeBlocked_ = false;
  BackgroundWriter writer_{kCoalesce, [this] { write(); }};  // last: stops first
};

// Converters between stored values and their JSON form (exposed for the tests and the fuzzer).
nlohmann::json defaultsValueToJson(const DefaultsValue& value);
std::optional<DefaultsValue> defaultsValueFromJson(const nlohmann::json& json);

}  // namespace dunelo
