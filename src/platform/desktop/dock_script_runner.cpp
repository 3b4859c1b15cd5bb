#include "platform/desktop/dock_script_runner.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace dunelo {
namespace {

constexpr std::string_view kHideSource =
    "tell application \"System Events\" to set autohide of dock preferences to true";
constexpr std::string_view kShowSource =
    "tell application \"System Events\" to set autohide of dock preferences to false";
constexpr const char* kDashToDockSchema = "org.gnome.shell.extensions.dash-to-dock";

ScriptOutcome failure(std::string message) {
  ScriptOutcome outcome;
  outcome.error = std::map<std::string, std::string>{{kScriptErrorMessageKey, std::move(message)}};
  return outcome;
}

std::vector<std::string> desktopNames(const std::string& currentDesktop) {
  std::vector<std::string> names;
  std::string name;
  std::istringstream in(currentDesktop);
  while (std::getline(in, name, ':')) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.size() > 200 ? line.substr(0, 200) : line;
}

}  // namespace

DockScriptRunner::DockScriptRunner(CommandRunner commands, std::string currentDesktop,
                                   double commandTimeout)
    : commands_(std::move(commands)),
      currentDesktop_(std::move(currentDesktop)),
      commandTimeout_(commandTimeout) {}

DockScriptRunner DockScriptRunner::forThisProcess() {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return DockScriptRunner(CommandRunner::forThisProcess(), desktop ? desktop : "");
}

std::optional<ScriptOutcome> DockScriptRunner::run(std::string_view source) {
  bool autohide;
  if (source == kHideSource) {
    autohide = true;
  } else if (source == kShowSource) {
    autohide = false;
  } else {
    return failure("not a dock script Dunelo knows; nothing was run");
  }
  std::optional<std::string> error;
  bool supported = false;
  for (const auto& name : desktopNames(currentDesktop_)) {
    if (name == "gnome" || name == "ubuntu" || name == "unity") {
      error = setGnomeDock(autohide);
    } else if (name == "kde") {
      error = setPlasmaPanels(autohide);
    } else if (name == "xfce") {
      error = setXfcePanels(autohide);
    } else {
      continue;
    }
    supported = true;
    break;
  }
  if (!supported) {
    return failure(
        "no dock or panel that Dunelo can auto-hide on this desktop (XDG_CURRENT_DESKTOP=" +
        (currentDesktop_.empty() ? std::string("unset") : currentDesktop_) +
        "); supported are GNOME's dock, KDE Plasma's and Xfce's panels");
  }
  if (error) return failure(*error);
  return ScriptOutcome{};
}

std::optional<std::string> DockScriptRunner::runChecked(const std::vector<std::string>& argv,
                                                        std::string* output) {
  const auto result = commands_.run(argv, commandTimeout_);
  if (!result) return argv[0] + " is not installed or cannot be started";
  if (result->timedOut) return argv[0] + " did not finish in time";
  if (result->exitCode != 0) {
    std::string message =
        argv[0] + " failed (exit status " + std::to_string(result->exitCode) + ")";
    if (!result->errorOutput.empty()) message += ": " + firstLine(result->errorOutput);
    return message;
  }
  if (output) *output = result->output;
  return std::nullopt;
}

std::optional<std::string> DockScriptRunner::setGnomeDock(bool autohide) {
  if (!commands_.find("gsettings")) return std::string("gsettings is not installed");
  // The schema is there only when the dock extension is installed.
  if (runChecked({"gsettings", "list-keys", kDashToDockSchema})) {
    return std::string("GNOME's dock extension (") + kDashToDockSchema + ") is not installed";
  }
  if (autohide) {
    if (auto error = runChecked({"gsettings", "set", kDashToDockSchema, "dock-fixed", "false"}))
      return error;
    return runChecked({"gsettings", "set", kDashToDockSchema, "autohide", "true"});
  }
  return runChecked({"gsettings", "set", kDashToDockSchema, "dock-fixed", "true"});
}

std::optional<std::string> DockScriptRunner::setPlasmaPanels(bool autohide) {
  const std::string script = std::string("panels().forEach(function (p) { p.hiding = \"") +
                             (autohide ? "autohide" : "none") + "\"; });";
  return runChecked({"dbus-send", "--session", "--print-reply", "--dest=org.kde.plasmashell",
                     "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", "string:" + script});
}

std::optional<std::string> DockScriptRunner::setXfcePanels(bool autohide) {
  std::string listing;
  if (auto error = runChecked({"xfconf-query", "-c", "xfce4-panel", "-p", "/panels"}, &listing))
    return error;
  // "Value is an array with 2 items:\n\n1\n2\n": the panel numbers are the lines that are digits.
  std::vector<std::string> panels;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() &&
        std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isdigit(c); }))
      panels.push_back(line);
  }
  if (panels.empty()) return std::string("Xfce has no panels to auto-hide");
  for (const auto& panel : panels) {
    if (auto error = runChecked({"xfconf-query", "-c", "xfce4-panel", "-p",
                                 "/panels/panel-" + panel + "/autohide-behavior", "-n", "-t", "int",
                                 "-s", autohide ? "2" : "0"}))
      return error;
  }
  return std::nullopt;
}

}  // namespace dunelo
