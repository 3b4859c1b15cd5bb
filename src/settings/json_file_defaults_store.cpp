#include "settings/json_file_defaults_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "core/debug_log.h"
#include "core/file_io.h"

namespace dunelo {
namespace {

using json = nlohmann::json;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const DefaultsData& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += kBase64[(n >> 6) & 63];
    out += kBase64[n & 63];
  }
  if (i + 1 == data.size()) {
    const uint32_t n = uint32_t{data[i]} << 16;
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    const uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += kBase64[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict: padded to a multiple of four, no stray characters, no non-zero padding bits.
std::optional<DefaultsData> base64Decode(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  DefaultsData out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int d[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        d[k] = 0;
        ++pad;
        continue;
      }
      if (pad > 0) return std::nullopt;  // data after padding
      d[k] = base64Digit(c);
      if (d[k] < 0) return std::nullopt;
    }
    const uint32_t n =
        (uint32_t(d[0]) << 18) | (uint32_t(d[1]) << 12) | (uint32_t(d[2]) << 6) | uint32_t(d[3]);
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
    if ((pad == 1 && (n & 0xFF)) || (pad == 2 && (n & 0xFFFF))) return std::nullopt;
  }
  return out;
}

// The deepest nesting of arrays and objects in `text`, counted outside strings.
int nestingDepth(const std::string& text) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

std::string errnoText(int err) {
  return std::strerror(err);
}

std::string utcStamp() {
  return formatUtc(std::time(nullptr), "%Y%m%dT%H%M%SZ");
}

bool pathExists(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

}  // namespace

json defaultsValueToJson(const DefaultsValue& value) {
  return std::visit(
      [](const auto& v) -> json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, double>) {
          if (std::isnan(v)) return json{{"$double", "nan"}};
          if (std::isinf(v)) return json{{"$double", v > 0 ? "inf" : "-inf"}};
          return json(v);
        } else if constexpr (std::is_same_v<T, DefaultsArray>) {
          json array = json::array();
          for (const auto& element : v) array.push_back(defaultsValueToJson(element));
          return array;
        } else if constexpr (std::is_same_v<T, DefaultsData>) {
          return json{{"$data", base64Encode(v)}};
        } else {
          return json(v);
        }
      },
      value.value);
}

std::optional<DefaultsValue> defaultsValueFromJson(const json& j) {
  switch (j.type()) {
    case json::value_t::boolean:
      return DefaultsValue(j.get<bool>());
    case json::value_t::number_integer:
      return DefaultsValue(j.get<int64_t>());
    case json::value_t::number_unsigned: {
      const auto u = j.get<uint64_t>();
      // Beyond the integer range a number is still a number: keep it as a double.
      if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return DefaultsValue(static_cast<double>(u));
      return DefaultsValue(static_cast<int64_t>(u));
    }
    case json::value_t::number_float:
      return DefaultsValue(j.get<double>());
    case json::value_t::string:
      return DefaultsValue(j.get<std::string>());
    case json::value_t::array: {
      DefaultsArray array;
      array.reserve(j.size());
      for (const auto& element : j) {
        auto v = defaultsValueFromJson(element);
        if (!v) return std::nullopt;
        array.push_back(std::move(*v));
      }
      return DefaultsValue(std::move(array));
    }
    case json::value_t::object: {
      if (j.size() != 1) return std::nullopt;
      if (const auto it = j.find("$data"); it != j.end() && it->is_string()) {
        auto data = base64Decode(it->get_ref<const std::string&>());
        if (!data) return std::nullopt;
        return DefaultsValue(std::move(*data));
      }
      if (const auto it = j.find("$double"); it != j.end() && it->is_string()) {
        const auto& s = it->get_ref<const std::string&>();
        if (s == "nan") return DefaultsValue(std::numeric_limits<double>::quiet_NaN());
        if (s == "inf") return DefaultsValue(std::numeric_limits<double>::infinity());
        if (s == "-inf") return DefaultsValue(-std::numeric_limits<double>::infinity());
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::string> JsonFileDefaultsStore::defaultPath() {
  const std::string base = xdgBaseDirectory("XDG_CONFIG_HOME", ".config");
  if (base.empty()) return std::nullopt;
  return base + "/dunelo/defaults.json";
}

JsonFileDefaultsStore::JsonFileDefaultsStore(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    debugLog("[Settings] no configuration directory; settings are kept in memory only");
    return;
  }
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    followLink();
    return;
  }
  removeStaleTempFiles();
  load();
}

JsonFileDefaultsStore::~JsonFileDefaultsStore() = default;  // the writer flushes first

void JsonFileDefaultsStore::followLink() {
  const std::string link = path_;
  std::string target;
  RegularFileRead file;
  if (char* resolved = ::realpath(link.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
    file = readRegularFile(target, kMaxFileSize);
  } else {
    file.status = RegularFileRead::Status::unreadable;
    file.error = errno;
    char text[4096];
    const ssize_t n = ::readlink(link.c_str(), text, sizeof text);
    target = n > 0 ? std::string(text, static_cast<size_t>(n)) : "?";
  }
  std::string problem;
  auto parsed = parse(file, &problem);
  // Whatever the link leads to is the user's own (a dotfiles repository, another program's
  // file): it is never renamed or replaced unless it holds settings that this user owns.
  if (!parsed) {
    problem = "a link to " + target + ", which " + problem;
  } else if (file.owner != ::geteuid()) {
    doc_ = std::move(*parsed);
    problem = "a link to " + target + ", which belongs to another user";
    parsed.reset();
  }
  if (!parsed) {
    writeBlocked_ = true;
    debugLog("[Settings] " + link + " is " + problem + "; left it alone and started with " +
             (doc_.empty() ? "default settings" : "its settings") + ", which are not saved");
    return;
  }
  // Saves replace the target in its own directory, atomically; the link stays as it is.
  doc_ = std::move(*parsed);
  path_ = target;
  removeStaleTempFiles();
}

std::optional<json> JsonFileDefaultsStore::parse(const RegularFileRead& file,
                                                 std::string* problem) const {
  if (!file.ok()) {
    *problem = file.problem();
    return std::nullopt;
  }
  if (nestingDepth(file.data) > kMaxDepth) {
    *problem = "nests deeper than " + std::to_string(kMaxDepth) + " levels";
    return std::nullopt;
  }
  json parsed;
  try {
    parsed = json::parse(file.data, nullptr, /*allow_exceptions=*/false);
  } catch (const std::exception&) {
    parsed = json(json::value_t::discarded);
  }
  if (parsed.is_discarded()) {
    *problem = file.data.empty() ? "is empty" : "is not valid JSON";
    return std::nullopt;
  }
  if (!parsed.is_object()) {
    *problem = "does not hold a JSON object";
    return std::nullopt;
  }
  return parsed;
}

void JsonFileDefaultsStore::load() {
  const RegularFileRead file = readRegularFile(path_, kMaxFileSize);
  if (file.status == RegularFileRead::Status::missing) return;  // first run
  std::string problem;
  if (auto parsed = parse(file, &problem)) {
    doc_ = std::move(*parsed);
    return;
  }
  setAside(problem);
}

void JsonFileDefaultsStore::setAside(const std::string& reason) {
  doc_ = json::object();
  std::string target = path_ + ".corrupt-" + utcStamp();
  for (int n = 2; pathExists(target) && n < 1000; ++n)
    target = path_ + ".corrupt-" + utcStamp() + "-" + std::to_string(n);
  if (::rename(path_.c_str(), target.c_str()) == 0) {
    debugLog("[Settings] " + path_ + " " + reason + "; moved it to " + target +
             " and started with empty settings");
    return;
  }
  // Saving would replace the unreadable file; keep it and keep changes in memory instead.
  writeBlocked_ = true;
  debugLog("[Settings] " + path_ + " " + reason + "; could not move it aside (" + errnoText(errno) +
           "), so settings start empty and are not saved");
}

void JsonFileDefaultsStore::removeStaleTempFiles() {
  const std::string dir = parentDirectory(path_);
  const std::string prefix = path_.substr(path_.find_last_of('/') + 1) + ".tmp-";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const auto oldest = std::chrono::system_clock::now() - kStaleTempAge;
  int removed = 0;
  while (const dirent* entry = ::readdir(d)) {
    // Exactly what mkstemp() makes of "<name>.tmp-XXXXXX", nothing else.
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) continue;
    if (!std::all_of(name.end() - 6, name.end(), [](char c) { return std::isalnum(uint8_t(c)); }))
      continue;
    struct stat st {};
    if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec) > oldest) continue;
    if (::unlinkat(::dirfd(d), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(d);
  if (removed > 0)
    debugLog("[Settings] removed " + std::to_string(removed) + " temporary file(s) left in " + dir +
             " by an interrupted save");
}

std::optional<DefaultsValue> JsonFileDefaultsStore::objectForKey(std::string_view key) const {
  const auto it = doc_.find(key);
  if (it == doc_.end()) return std::nullopt;
  return defaultsValueFromJson(*it);
}

void JsonFileDefaultsStore::setObject(std::string_view key, DefaultsValue value) {
  json encoded = defaultsValueToJson(value);
  // The same value of the same type (the permission poll stores its flags twice a second).
  if (const auto it = doc_.find(key);
      it != doc_.end() && it->type() == encoded.type() && *it == encoded)
    return;
  {
    std::lock_guard lock(docMutex_);
    doc_[std::string(key)] = std::move(encoded);
  }
  changed(key);
}

void JsonFileDefaultsStore::removeObject(std::string_view key) {
  if (!doc_.contains(key)) return;
  {
    std::lock_guard lock(docMutex_);
    doc_.erase(std::string(key));
  }
  changed(key);
}

void JsonFileDefaultsStore::changed(std::string_view key) {
  if (path_.empty() || writeBlocked_) {
    lastWriteOk_ = false;  // the start-up line said that nothing is saved
    return;
  }
  {
    std::lock_guard lock(docMutex_);
    if (unsavedKey_.empty()) unsavedKey_ = key;
  }
  writer_.schedule();
}

void JsonFileDefaultsStore::flush() {
  writer_.flush();
}

void JsonFileDefaultsStore::write() {
  std::string error;
  std::string key;
  const bool ok = [&] {
    std::string text;
    {
      std::lock_guard lock(docMutex_);
      key = std::exchange(unsavedKey_, std::string());
      try {
        // Strings that are not valid UTF-8 (they can come from window titles or bundle ids) are
        // written with replacement characters instead of failing the whole save.
        text = doc_.dump(2, ' ', false, json::error_handler_t::replace);
        text += '\n';
      } catch (const std::exception& e) {
        error = std::string("cannot encode the settings: ") + e.what();
        return false;
      }
    }
    // What loading would reject is not written: the file on disk stays loadable.
    if (text.size() > kMaxWrittenSize) {
      error = "the settings would take " + std::to_string(text.size()) + " bytes (more than " +
              std::to_string(kMaxWrittenSize) + ")";
      return false;
    }
    return makeDirectories(parentDirectory(path_), 0700, &error) &&
           replaceFile(path_, text, 0600, &error);
  }();
  if (ok) ++writeCount_;
  reportWrite(ok, key, error);
}

void JsonFileDefaultsStore::reportWrite(bool ok, const std::string& key, const std::string& error) {
  if (ok) {
    if (!lastWriteOk_) debugLog("[Settings] saving to " + path_ + " works again");
    lastWriteOk_ = true;
    return;
  }
  // One line per run of failures: a slider dragged over a read-only directory would otherwise
  // write a line per step.
  if (lastWriteOk_) {
    debugLog("[Settings] could not save \"" + key + "\": " + error +
             "; the change is kept in memory only (further failures are not logged until a save "
             "succeeds)");
  }
  lastWriteOk_ = false;
}

}  // namespace dunelo
