#include "platform/desktop/desktop_entry.h"

#include <algorithm>
#include <filesystem>

#include "core/debug_log.h"
#include "core/regular_file.h"

namespace dunelo {

namespace {

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<DesktopEntryKeys> parseDesktopEntry(std::string_view text,
                                                  const DesktopEntryLocale& locale) {
  DesktopEntryKeys keys;
  LocalizedValue name(locale, "Name");
  bool inGroup = false;
  bool sawGroup = false;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line == "[Desktop Entry]";
      sawGroup = sawGroup || inGroup;
      continue;
    }
    const size_t eq = line.find('=');
    if (!inGroup || eq == std::string_view::npos || eq == 0) continue;
    const std::string_view key = trimmed(line.substr(0, eq));
    const std::string_view value = trimmed(line.substr(eq + 1));
    name.offer(key, value);
    if (key == "Type") keys.isApplication = value == "Application";
    if (key == "Hidden") keys.hidden = value == "true";
    if (key == "Icon") keys.icon = value;
    if (key == "StartupWMClass") keys.startupWMClass = value;
  }
  if (!sawGroup) return std::nullopt;
  keys.name = name.value();
  return keys;
}

void DesktopEntryScan::run(
    const std::function<void(const std::string& id, DesktopEntryKeys&& entry)>& visit) {
  namespace fs = std::filesystem;
  std::set<std::string> seen;  // ids already taken, hidden ones too
  for (const std::string& dir : applicationDirs) {
    const fs::path apps(dir);
    std::error_code ec;
    if (!fs::is_directory(apps, ec)) continue;
    // Sorted, so that of two files with one id (a/b.desktop and a-b.desktop) the same one wins
    // on every scan.
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(
             apps, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code entryError;
      if (it->path().extension() == ".desktop" && !it->is_directory(entryError))
        files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
      std::error_code relError;
      std::string id = fs::relative(path, apps, relError).generic_string();
      if (relError) continue;
      std::replace(id.begin(), id.end(), '/', '-');
      id.resize(id.size() - std::string_view(".desktop").size());
      if (seen.count(id)) continue;
      ++filesRead;
      const RegularFileRead file = readRegularFile(path.string(), kMaxEntryBytes);
      if (!file.ok()) {
        if (file.status != RegularFileRead::Status::missing && reported &&
            reported->insert(path.string()).second)
          debugLog(logWhat + " " + path.string() + " " + file.problem() + "; skipped");
        continue;
      }
      auto keys = parseDesktopEntry(file.data, locale);
      if (!keys) continue;
      seen.insert(id);
      if (!keys->hidden) visit(id, std::move(*keys));
    }
  }
}

}  // namespace dunelo
