#include "settings/json_file_defaults_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

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
  // A link (dotfile managers use them) is followed: reads and writes go to the file it names,
  // and saving replaces that file instead of the link.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(path_.c_str(), nullptr)) {
      path_ = resolved;
      std::free(resolved);
    }
  }
  load();
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

void JsonFileDefaultsStore::load() {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return;  // first run
    setAside("cannot be opened (" + errnoText(errno) + ")");
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    setAside("is not a regular file");
    return;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
    ::close(fd);
    setAside("is " + std::to_string(st.st_size) + " bytes, too large to be a settings file");
    return;
  }
  std::string text;
  char buffer[16384];
  bool readFailed = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      readFailed = true;
      break;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxFileSize) break;
  }
  ::close(fd);
  if (readFailed) {
    setAside("cannot be read (" + errnoText(errno) + ")");
    return;
  }
  if (text.size() > kMaxFileSize) {
    setAside("is too large to be a settings file");
    return;
  }
  if (nestingDepth(text) > kMaxDepth) {
    setAside("nests deeper than " + std::to_string(kMaxDepth) + " levels");
    return;
  }
  json parsed;
  try {
    parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  } catch (const std::exception&) {
    parsed = json(json::value_t::discarded);
  }
  if (parsed.is_discarded()) {
    setAside(text.empty() ? "is empty" : "is not valid JSON");
    return;
  }
  if (!parsed.is_object()) {
    setAside("does not hold a JSON object");
    return;
  }
  doc_ = std::move(parsed);
}

std::optional<DefaultsValue> JsonFileDefaultsStore::objectForKey(std::string_view key) const {
  const auto it = doc_.find(key);
  if (it == doc_.end()) return std::nullopt;
  return defaultsValueFromJson(*it);
}

void JsonFileDefaultsStore::setObject(std::string_view key, DefaultsValue value) {
  doc_[std::string(key)] = defaultsValueToJson(value);
  save(key);
}

void JsonFileDefaultsStore::removeObject(std::string_view key) {
  doc_.erase(std::string(key));
  save(key);
}

void JsonFileDefaultsStore::save(std::string_view key) {
  std::string error;
  const bool ok = [&] {
    if (path_.empty()) {
      error = "no configuration directory";
      return false;
    }
    if (writeBlocked_) {
      error = "the unreadable settings file could not be moved aside";
      return false;
    }
    std::string text;
    try {
      // Strings that are not valid UTF-8 (they can come from window titles or bundle ids) are
      // written with replacement characters instead of failing the whole save.
      text = doc_.dump(2, ' ', false, json::error_handler_t::replace);
      text += '\n';
    } catch (const std::exception& e) {
      error = std::string("cannot encode the settings: ") + e.what();
      return false;
    }
    return makeDirectories(parentDirectory(path_), 0700, &error) &&
           replaceFile(path_, text, 0600, &error);
  }();
  if (ok) {
    if (!lastWriteOk_) debugLog("[Settings] saving to " + path_ + " works again");
    lastWriteOk_ = true;
    return;
  }
  // One line per run of failures: a slider dragged over a read-only directory would otherwise
  // write a line per step.
  if (lastWriteOk_) {
    debugLog("[Settings] could not save \"" + std::string(key) + "\": " + error +
             "; the change is kept in memory only (further failures are not logged until a save "
             "succeeds)");
  }
  lastWriteOk_ = false;
}

}  // namespace dunelo
