#include "platform/x11/desktop_file_index.h"

#include <algorithm>
#include <cctype>

#include "core/file_io.h"
#include "platform/desktop/desktop_entry.h"

namespace dunelo::x11 {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
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
  DesktopEntryScan scan{appDirs_, locale_, "[X11] desktop file", &reported_};
  scan.run([this](const std::string& id, DesktopEntryKeys&& entry) {
    byID_[id] = DesktopEntry{id, entry.name, entry.startupWMClass};
    lowerID_.emplace(lower(id), id);
    if (!entry.startupWMClass.empty()) byWMClass_.emplace(entry.startupWMClass, id);
  });
  filesRead_ += scan.filesRead;
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
