#include "platform/x11/desktop_file_index.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/debug_log.h"
#include "core/file_io.h"
#include "core/regular_file.h"

namespace dunelo::x11 {
namespace {

namespace fs = std::filesystem;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct Parsed {
  std::string name;
  std::string startupWMClass;
  bool hidden = false;
};

// Reads the keys of the [Desktop Entry] group that identity needs, the name in `locale`'s
// language; none without such a group.
std::optional<Parsed> parseDesktopFile(const std::string& text, const DesktopEntryLocale& locale) {
  std::istringstream in(text);
  Parsed p;
  LocalizedValue name(locale, "Name");
  bool inGroup = false;
  bool sawGroup = false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[Desktop Entry]";
      sawGroup = sawGroup || inGroup;
      continue;
    }
    if (!inGroup) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(value.begin());
    name.offer(key, value);
    if (key == "StartupWMClass") p.startupWMClass = value;
    if (key == "Hidden") p.hidden = value == "true";
  }
  if (!sawGroup) return std::nullopt;
  p.name = name.value();
  return p;
}

}  // namespace

DesktopFileIndex::DesktopFileIndex(std::vector<std::string> dataDirs, DesktopEntryLocale locale)
    : locale_(std::move(locale)) {
  for (const std::string& dir : dataDirs) appDirs_.push_back(dir + "/applications");
  rescan();
}

void DesktopFileIndex::setRescanTrigger(std::function<bool()> changedSinceLastAsked) {
  changed_ = std::move(changedSinceLastAsked);
  if (changed_) changed_();  // what happened before it was set is in the current scan
}

std::vector<std::string> DesktopFileIndex::defaultDataDirs() {
  return xdgDataDirectories();
}

void DesktopFileIndex::rescan() {
  lastScan_ = std::chrono::steady_clock::now();
  byID_.clear();
  lowerID_.clear();
  byWMClass_.clear();
  std::vector<std::string> hiddenIDs;
  for (const std::string& dir : appDirs_) {
    const fs::path apps(dir);
    std::error_code ec;
    if (!fs::is_directory(apps, ec)) continue;
    for (auto it = fs::recursive_directory_iterator(
             apps, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code entryError;
      if (it->path().extension() != ".desktop" || it->is_directory(entryError)) continue;
      // The id is the path below applications/ with '/' turned into '-'.
      std::string rel = fs::relative(it->path(), apps, entryError).generic_string();
      if (entryError) continue;
      std::replace(rel.begin(), rel.end(), '/', '-');
      const std::string id = rel.substr(0, rel.size() - std::string(".desktop").size());
      // An id found in an earlier directory (also a hidden one) shadows later ones.
      if (byID_.count(id) || std::count(hiddenIDs.begin(), hiddenIDs.end(), id)) continue;
      // A FIFO, a link to a device or a huge file in a data directory must not hang or bloat
      // the lookup: only regular files of a sane size are read.
      ++filesRead_;
      const RegularFileRead file = readRegularFile(it->path(), kMaxEntryBytes);
      if (!file.ok()) {
        if (file.status != RegularFileRead::Status::missing && reported_.insert(it->path()).second)
          debugLog("[X11] desktop file " + it->path().string() + " " + file.problem() +
                   "; skipped");
        continue;
      }
      auto parsed = parseDesktopFile(file.data, locale_);
      if (!parsed) continue;
      if (parsed->hidden) {
        hiddenIDs.push_back(id);
        continue;
      }
      byID_[id] = DesktopEntry{id, parsed->name, parsed->startupWMClass};
      lowerID_.emplace(lower(id), id);
      if (!parsed->startupWMClass.empty()) byWMClass_.emplace(parsed->startupWMClass, id);
    }
  }
}

std::optional<DesktopEntry> DesktopFileIndex::find(const std::optional<std::string>& gtkID,
                                                   const std::string& wmInstance,
                                                   const std::string& wmClass) const {
  if (gtkID && !gtkID->empty()) {
    if (auto it = byID_.find(*gtkID); it != byID_.end()) return it->second;
  }
  for (const std::string* hint : {&wmInstance, &wmClass}) {
    if (hint->empty()) continue;
    if (auto it = byWMClass_.find(*hint); it != byWMClass_.end()) return byID_.at(it->second);
  }
  for (const std::string* hint : {&wmInstance, &wmClass}) {
    if (hint->empty()) continue;
    if (auto it = byID_.find(*hint); it != byID_.end()) return it->second;
    if (auto it = lowerID_.find(lower(*hint)); it != lowerID_.end()) return byID_.at(it->second);
  }
  return std::nullopt;
}

std::optional<DesktopEntry> DesktopFileIndex::lookup(const std::optional<std::string>& gtkID,
                                                     const std::string& wmInstance,
                                                     const std::string& wmClass) {
  if (changed_) {
    if (changed_()) rescan();
    return find(gtkID, wmInstance, wmClass);
  }
  if (auto found = find(gtkID, wmInstance, wmClass)) return found;
  // Applications installed since the last scan are found after a short while.
  if (std::chrono::steady_clock::now() - lastScan_ > std::chrono::seconds(5)) {
    rescan();
    return find(gtkID, wmInstance, wmClass);
  }
  return std::nullopt;
}

}  // namespace dunelo::x11
