#include "platform/desktop/dock_script_runner.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <utility>
#include <variant>

namespace dunelo {
namespace {

constexpr std::string_view kReadSource =
    "tell application \"System Events\" to get autohide of dock preferences";
constexpr std::string_view kHideSource =
    "tell application \"System Events\" to set autohide of dock preferences to true";
constexpr std::string_view kShowSource =
    "tell application \"System Events\" to set autohide of dock preferences to false";
constexpr const char* kDashToDockSchema = "org.gnome.shell.extensions.dash-to-dock";

enum class Script { read, hide, show };
enum class Desktop { gnome, kde, xfce };

// One "name=value" entry of a snapshot.
struct Setting {
  std::string name, value;
};

ScriptOutcome failure(std::string message) {
  ScriptOutcome outcome;
  outcome.error = std::map<std::string, std::string>{{kScriptErrorMessageKey, std::move(message)}};
  return outcome;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The first desktop of an XDG_CURRENT_DESKTOP list that has a dock Dunelo knows.
std::optional<Desktop> desktopOf(const std::string& currentDesktop) {
  std::istringstream in(currentDesktop);
  for (std::string name; std::getline(in, name, ':');) {
    name = lower(name);
    if (name == "gnome" || name == "ubuntu" || name == "unity") return Desktop::gnome;
    if (name == "kde") return Desktop::kde;
    if (name == "xfce") return Desktop::xfce;
  }
  return std::nullopt;
}

const char* nameOf(Desktop desktop) {
  switch (desktop) {
    case Desktop::gnome:
      return "gnome";
    case Desktop::kde:
      return "kde";
    case Desktop::xfce:
      return "xfce";
  }
  return "";
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.size() > 200 ? line.substr(0, 200) : line;
}

std::string trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

bool isNumber(std::string_view text, size_t maxDigits) {
  return !text.empty() && text.size() <= maxDigits &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool isWord(std::string_view text) {
  return !text.empty() && text.size() <= 32 &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::islower(c); });
}

// Whether `setting` may appear in a snapshot of `desktop`: everything in it ends up in a tool's
// arguments or, for Plasma, inside a script, so only the shapes the read script writes pass.
bool isValid(Desktop desktop, const Setting& setting) {
  switch (desktop) {
    case Desktop::gnome:
      return (setting.name == "dock-fixed" || setting.name == "autohide") &&
             (setting.value == "true" || setting.value == "false");
    case Desktop::kde:
      return isNumber(setting.name, 9) && isWord(setting.value);
    case Desktop::xfce:
      return isNumber(setting.name, 9) && (setting.value.empty() || isNumber(setting.value, 2));
  }
  return false;
}

// The desktop and settings of a snapshot; an error message when any part of it is not usable.
std::variant<std::pair<Desktop, std::vector<Setting>>, std::string> parseSnapshot(
    const DockSnapshot& snapshot) {
  if (snapshot.empty()) return std::string("no remembered dock settings to act on");
  std::optional<Desktop> desktop;
  for (Desktop d : {Desktop::gnome, Desktop::kde, Desktop::xfce})
    if (snapshot[0] == nameOf(d)) desktop = d;
  if (!desktop) return "the remembered dock settings are for an unknown desktop";
  std::vector<Setting> settings;
  for (size_t i = 1; i < snapshot.size(); ++i) {
    const auto eq = snapshot[i].find('=');
    Setting setting{snapshot[i].substr(0, eq),
                    eq == std::string::npos ? std::string() : snapshot[i].substr(eq + 1)};
    if (eq == std::string::npos || !isValid(*desktop, setting))
      return "the remembered dock settings are not usable (\"" + firstLine(snapshot[i]) + "\")";
    settings.push_back(std::move(setting));
  }
  if (settings.empty()) return std::string("the remembered dock settings name no panel");
  return std::make_pair(*desktop, std::move(settings));
}

// The tools of one script, sharing its deadline.
class Tools {
 public:
  Tools(const CommandRunner& commands, const Deadline& deadline)
      : commands_(commands), deadline_(deadline) {}

  // Runs one command. Its result, and an error message unless it exited with status 0.
  std::pair<std::optional<CommandResult>, std::optional<std::string>> call(
      const std::vector<std::string>& argv) const {
    auto result = commands_.run(argv, deadline_);
    if (!result) return {result, argv[0] + " is not installed or cannot be started"};
    if (result->stopped) return {result, argv[0] + " was stopped: Dunelo is quitting"};
    if (result->timedOut)
      return {result,
              "timed out: " + argv[0] + " did not finish before the dock script's deadline"};
    if (result->exitCode != 0) {
      std::string message =
          argv[0] + " failed (exit status " + std::to_string(result->exitCode) + ")";
      if (!result->errorOutput.empty()) message += ": " + firstLine(result->errorOutput);
      return {result, message};
    }
    return {result, std::nullopt};
  }

  // The first error of a series of commands, all of which run.
  std::optional<std::string> callAll(const std::vector<std::vector<std::string>>& commands) const {
    std::optional<std::string> first;
    for (const auto& argv : commands) {
      auto error = call(argv).second;
      if (error && !first) first = std::move(error);
    }
    return first;
  }

 private:
  const CommandRunner& commands_;
  const Deadline& deadline_;
};

// ---- GNOME

std::vector<std::string> gsettings(std::string verb, std::string key, std::string value = {}) {
  std::vector<std::string> argv{"gsettings", std::move(verb), kDashToDockSchema, std::move(key)};
  if (!value.empty()) argv.push_back(std::move(value));
  return argv;
}

std::optional<std::string> readGnome(const Tools& tools, DockSnapshot& snapshot) {
  // The schema is there only when the dock extension is installed.
  const auto [listed, listError] = tools.call({"gsettings", "list-keys", kDashToDockSchema});
  if (listError) {
    if (listed && listed->exitCode > 0)
      return std::string("GNOME's dock extension (") + kDashToDockSchema + ") is not installed";
    return listError;
  }
  for (const char* key : {"dock-fixed", "autohide"}) {
    const auto [result, error] = tools.call(gsettings("get", key));
    if (error) return error;
    const Setting setting{key, trimmed(result->output)};
    if (!isValid(Desktop::gnome, setting))
      return "gsettings gave \"" + firstLine(setting.value) + "\" for " + key;
    snapshot.push_back(setting.name + "=" + setting.value);
  }
  return std::nullopt;
}

std::optional<std::string> setGnome(const Tools& tools, const std::vector<Setting>& settings,
                                    Script script) {
  if (script == Script::hide)
    return tools.callAll(
        {gsettings("set", "dock-fixed", "false"), gsettings("set", "autohide", "true")});
  std::vector<std::vector<std::string>> commands;
  for (const auto& s : settings) commands.push_back(gsettings("set", s.name, s.value));
  return tools.callAll(commands);
}

// ---- KDE Plasma

// Evaluates `script` in plasmashell; `printed` receives what it printed.
std::optional<std::string> evaluatePlasmaScript(const Tools& tools, const std::string& script,
                                                std::string* printed = nullptr) {
  const auto [result, error] =
      tools.call({"dbus-send", "--session", "--print-reply", "--dest=org.kde.plasmashell",
                  "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", "string:" + script});
  if (error) return error;
  if (printed) {
    // The reply's one string argument: `   string "..."`, which may span several lines.
    const std::string& out = result->output;
    const auto open = out.find("string \"");
    const auto close = out.rfind('"');
    if (open == std::string::npos || close < open + 8)
      return std::string("plasmashell gave no answer to the dock script");
    *printed = out.substr(open + 8, close - open - 8);
  }
  return std::nullopt;
}

std::optional<std::string> readPlasma(const Tools& tools, DockSnapshot& snapshot) {
  std::string printed;
  if (auto error = evaluatePlasmaScript(
          tools,
          "var s = \"\"; panels().forEach(function (p) { s += p.id + \"=\" + p.hiding + \";\"; "
          "}); print(s);",
          &printed))
    return error;
  std::istringstream in(printed);
  for (std::string entry; std::getline(in, entry, ';');) {
    entry = trimmed(entry);
    if (entry.empty()) continue;
    const auto eq = entry.find('=');
    const Setting setting{entry.substr(0, eq),
                          eq == std::string::npos ? std::string() : entry.substr(eq + 1)};
    if (!isValid(Desktop::kde, setting))
      return "plasmashell gave an unexpected panel setting (\"" + firstLine(entry) + "\")";
    snapshot.push_back(setting.name + "=" + setting.value);
  }
  if (snapshot.size() == 1) return std::string("Plasma has no panels to auto-hide");
  return std::nullopt;
}

std::optional<std::string> setPlasma(const Tools& tools, const std::vector<Setting>& settings,
                                     Script script) {
  // Only checked ids and lower-case words reach the script.
  std::string wanted;
  for (const auto& s : settings)
    wanted += (wanted.empty() ? "" : ", ") + s.name + ": \"" +
              (script == Script::hide ? std::string("autohide") : s.value) + "\"";
  return evaluatePlasmaScript(tools, "var wanted = {" + wanted +
                                         "}; panels().forEach(function (p) { if (wanted[p.id]) "
                                         "p.hiding = wanted[p.id]; });");
}

// ---- Xfce

std::vector<std::string> xfconf(const std::string& panel) {
  return {"xfconf-query", "-c", "xfce4-panel", "-p",
          "/panels/panel-" + panel + "/autohide-behavior"};
}

std::optional<std::string> readXfce(const Tools& tools, DockSnapshot& snapshot) {
  const auto [listing, listError] =
      tools.call({"xfconf-query", "-c", "xfce4-panel", "-p", "/panels"});
  if (listError) return listError;
  // "Value is an array with 2 items:\n\n1\n2\n": the panel numbers are the lines that are digits.
  std::istringstream in(listing->output);
  for (std::string line; std::getline(in, line);) {
    if (!isNumber(line, 9)) continue;
    const auto [result, error] = tools.call(xfconf(line));
    std::string value;
    if (error) {
      // A panel that was never switched has no property: the default (never hide) applies.
      const bool unset = result && result->exitCode > 0 &&
                         result->errorOutput.find("does not exist") != std::string::npos;
      if (!unset) return error;
    } else {
      value = trimmed(result->output);
      if (!isNumber(value, 2))
        return "xfconf-query gave \"" + firstLine(value) + "\" for panel " + line;
    }
    snapshot.push_back(line + "=" + value);
  }
  if (snapshot.size() == 1) return std::string("Xfce has no panels to auto-hide");
  return std::nullopt;
}

std::optional<std::string> setXfce(const Tools& tools, const std::vector<Setting>& settings,
                                   Script script) {
  std::vector<std::vector<std::string>> commands;
  for (const auto& s : settings) {
    auto argv = xfconf(s.name);
    const std::string value = script == Script::hide ? "2" : s.value;
    if (value.empty()) {
      argv.push_back("-r");
    } else {
      for (const char* arg : {"-n", "-t", "int", "-s"}) argv.push_back(arg);
      argv.push_back(value);
    }
    commands.push_back(std::move(argv));
  }
  return tools.callAll(commands);
}

}  // namespace

DockScriptRunner::DockScriptRunner(CommandRunner commands, std::string currentDesktop,
                                   Scheduler& mainThread, double scriptDeadline)
    : commands_(std::move(commands)),
      currentDesktop_(std::move(currentDesktop)),
      scriptDeadline_(scriptDeadline),
      queue_(mainThread) {}

std::unique_ptr<DockScriptRunner> DockScriptRunner::forThisProcess(Scheduler& mainThread) {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  return std::make_unique<DockScriptRunner>(CommandRunner::forThisProcess(), desktop ? desktop : "",
                                            mainThread);
}

void DockScriptRunner::run(std::string_view source, DockSnapshot snapshot, Completion done) {
  auto outcome = std::make_shared<ScriptOutcome>();
  queue_.post(
      [this, source = std::string(source), snapshot = std::move(snapshot),
       outcome](std::stop_token stop) {
        *outcome = runNow(source, snapshot, Deadline::in(scriptDeadline_, std::move(stop)));
      },
      [outcome, done = std::move(done)] { done(std::move(*outcome)); });
}

ScriptOutcome DockScriptRunner::restoreBeforeExit(const DockSnapshot& snapshot, double seconds) {
  queue_.stopAll();
  return runNow(kShowSource, snapshot, Deadline::in(seconds));
}

ScriptOutcome DockScriptRunner::runNow(std::string_view source, const DockSnapshot& snapshot,
                                       const Deadline& deadline) const {
  Script script;
  if (source == kReadSource) {
    script = Script::read;
  } else if (source == kHideSource) {
    script = Script::hide;
  } else if (source == kShowSource) {
    script = Script::show;
  } else {
    return failure("not a dock script Dunelo knows; nothing was run");
  }
  const Tools tools(commands_, deadline);

  if (script == Script::read) {
    const auto desktop = desktopOf(currentDesktop_);
    if (!desktop) {
      return failure(
          "no dock or panel that Dunelo can auto-hide on this desktop (XDG_CURRENT_DESKTOP=" +
          (currentDesktop_.empty() ? std::string("unset") : currentDesktop_) +
          "); supported are GNOME's dock, KDE Plasma's and Xfce's panels");
    }
    ScriptOutcome outcome;
    outcome.snapshot.push_back(nameOf(*desktop));
    const auto read = *desktop == Desktop::gnome ? readGnome
                      : *desktop == Desktop::kde ? readPlasma
                                                 : readXfce;
    if (auto error = read(tools, outcome.snapshot)) return failure(*error);
    return outcome;
  }

  auto parsed = parseSnapshot(snapshot);
  if (auto* error = std::get_if<std::string>(&parsed)) return failure(*error);
  const auto& [desktop, settings] = std::get<0>(parsed);
  const auto set = desktop == Desktop::gnome ? setGnome
                   : desktop == Desktop::kde ? setPlasma
                                             : setXfce;
  if (auto error = set(tools, settings, script)) return failure(*error);
  return ScriptOutcome{};
}

}  // namespace dunelo
