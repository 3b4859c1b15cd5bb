#include "app/run_apple_script.h"

#include <cstdio>

#include "core/debug_log.h"

namespace dunelo {
namespace {

// The log holds one line per message: a line break inside an error text must not start a line
// that looks like a log entry of its own.
void appendEscaped(std::string& out, std::string_view text, bool escapeQuotes) {
  for (const char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
      case '\\':
        if (escapeQuotes) out += '\\';
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char code[8];
          std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(c));
          out += code;
        } else {
          out += c;
        }
    }
  }
}

}  // namespace

std::string describeScriptError(const std::map<std::string, std::string>& error) {
  std::string text = "{";
  bool first = true;
  for (const auto& [key, value] : error) {
    if (!first) text += ' ';
    first = false;
    appendEscaped(text, key, false);
    text += " = \"";
    appendEscaped(text, value, true);
    text += "\";";
  }
  text += '}';
  return text;
}

bool logScriptFailure(const ScriptOutcome& outcome) {
  if (!outcome.error) return false;
  std::string line = "[AppleScript] ERROR: ";
  const auto& error = *outcome.error;
  if (auto message = error.find(kScriptErrorMessageKey); message != error.end()) {
    appendEscaped(line, message->second, false);
  } else {
    line += describeScriptError(error);
  }
  debugLog(line);
  return true;
}

void runAppleScript(ScriptRunner& runner, std::string_view source, DockSnapshot snapshot,
                    std::function<void(const std::optional<ScriptOutcome>&)> done) {
  runner.run(source, std::move(snapshot),
             [done = std::move(done)](std::optional<ScriptOutcome> outcome) {
               if (outcome) logScriptFailure(*outcome);
               // A failed script may still have produced a result; it is passed on as it is.
               if (done) done(outcome);
             });
}

}  // namespace dunelo
