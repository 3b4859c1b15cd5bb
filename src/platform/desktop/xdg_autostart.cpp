#include "platform/desktop/xdg_autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "core/file_io.h"

namespace dunelo {
namespace {

bool isValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(extra) >= s.size()) return false;  // truncated sequence
    for (int k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode.
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

std::optional<std::string> desktopExecValue(const std::string& program) {
  if (!isValidUtf8(program)) return std::nullopt;
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  bool needsQuotes = false;
  for (const char c : program) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F) return std::nullopt;
    if (c == '\r' || kReserved.find(c) != std::string_view::npos) needsQuotes = true;
  }
  // Quoting level: one argument.
  std::string argument;
  if (needsQuotes) argument += '"';
  for (const char c : program) {
    if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) argument += '\\';
    if (c == '%') argument += '%';  // field codes start with %
    argument += c;
  }
  if (needsQuotes) argument += '"';
  // String level: applied on top, so a literal backslash ends up as four.
  std::string value;
  for (const char c : argument) {
    switch (c) {
      case '\\':
        value += "\\\\";
        break;
      case '\t':
        value += "\\t";
        break;
      case '\n':
        value += "\\n";
        break;
      case '\r':
        value += "\\r";
        break;
      default:
        value += c;
    }
  }
  return value;
}

XdgAutostart::XdgAutostart(std::string autostartDir, std::string desktopId, std::string programPath)
    : autostartDir_(std::move(autostartDir)),
      desktopId_(std::move(desktopId)),
      programPath_(std::move(programPath)) {}

std::optional<XdgAutostart> XdgAutostart::forThisProgram() {
  const std::string base = xdgBaseDirectory("XDG_CONFIG_HOME", ".config");
  if (base.empty()) return std::nullopt;
  char exe[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", exe, PATH_MAX);
  if (n <= 0) return std::nullopt;
  return XdgAutostart(base + "/autostart", kDesktopId, std::string(exe, static_cast<size_t>(n)));
}

std::optional<std::string> XdgAutostart::entryText() const {
  if (programPath_.empty() || programPath_[0] != '/') return std::nullopt;
  const auto exec = desktopExecValue(programPath_);
  if (!exec) return std::nullopt;
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.5\n"
         "Name=Dunelo\n"
         "Comment=Blurs everything but the window you work in\n"
         "Exec=" +
         *exec +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostart::registerApp() {
  const auto text = entryText();
  return text && makeDirectories(autostartDir_) && replaceFile(entryPath(), *text, 0644);
}

bool XdgAutostart::unregisterApp() {
  return ::unlink(entryPath().c_str()) == 0 || errno == ENOENT;
}

}  // namespace dunelo
