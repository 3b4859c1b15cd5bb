#include "platform/desktop/file_manager_alias.h"

#include <sys/stat.h>

#include "core/debug_log.h"

namespace dunelo {
namespace {

// The usual file managers by desktop-file id, in the order desktop shells try them.
constexpr const char* kKnownFileManagers[] = {"org.gnome.Nautilus", "thunar", "pcmanfm",
                                              "org.kde.dolphin",    "nemo",   "caja"};
constexpr double kQueryTimeout = 2.0;

std::string stampOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return "-";
  return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// "org.gnome.Nautilus.desktop\n" -> "org.gnome.Nautilus"; none for anything else.
std::optional<std::string> desktopIDOf(std::string answer) {
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == ' ')) answer.pop_back();
  const std::string suffix = ".desktop";
  if (answer.size() <= suffix.size() || !answer.ends_with(suffix)) return std::nullopt;
  answer.resize(answer.size() - suffix.size());
  if (answer.find_first_of("/\n ") != std::string::npos) return std::nullopt;
  return answer;
}

}  // namespace

FileManagerAlias::FileManagerAlias(CommandRunner runner, std::vector<std::string> dataDirs,
                                   std::string configHome)
    : runner_(std::move(runner)),
      dataDirs_(std::move(dataDirs)),
      configHome_(std::move(configHome)) {}

std::optional<std::string> FileManagerAlias::resolve(const std::string& storedID) {
  if (storedID != kFileManagerAlias) return std::nullopt;
  std::vector<std::string> now = stamps();
  if (lookups_ == 0 || now != stamps_) {
    stamps_ = std::move(now);
    auto found = lookUp();
    ++lookups_;
    if (found != fileManager_ || lookups_ == 1)
      debugLog("[Exclusions] " + std::string(kFileManagerAlias) + " stands for " +
               found.value_or("no installed file manager"));
    fileManager_ = std::move(found);
  }
  return fileManager_;
}

std::optional<std::string> FileManagerAlias::lookUp() const {
  if (auto result = runner_.run({"xdg-mime", "query", "default", "inode/directory"}, kQueryTimeout);
      result && result->exitCode == 0) {
    if (auto id = desktopIDOf(result->output)) return id;
  }
  for (const char* id : kKnownFileManagers)
    if (isInstalled(id)) return std::string(id);
  return std::nullopt;
}

bool FileManagerAlias::isInstalled(const std::string& desktopID) const {
  for (const std::string& dir : dataDirs_) {
    struct stat st {};
    const std::string path = dir + "/applications/" + desktopID + ".desktop";
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
  }
  return false;
}

std::vector<std::string> FileManagerAlias::stamps() const {
  // A directory's time changes when an entry in it is created, removed or replaced, which is how
  // packages and `xdg-mime default` write.
  std::vector<std::string> out{stampOf(configHome_)};
  for (const std::string& dir : dataDirs_) out.push_back(stampOf(dir + "/applications"));
  return out;
}

}  // namespace dunelo
