// Running applications: which one is frontmost, which are running, when another one becomes
// active, and opening a location (a settings page, a URL) for the user.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/cancellable.h"

namespace dunelo {

using ProcessID = int32_t;

enum class ActivationPolicy {
  regular,     // an ordinary application with windows in the task switcher
  accessory,   // has windows, but stays out of the task switcher
  prohibited,  // no user interface of its own
};

struct RunningApplication {
  ProcessID pid = 0;
  std::optional<std::string> bundleID;  // the application's identity; some have none
  std::string localizedName;
  ActivationPolicy activationPolicy = ActivationPolicy::regular;

  friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Workspace {
 public:
  virtual ~Workspace() = default;

  virtual std::optional<RunningApplication> frontmostApplication() const = 0;
  virtual std::vector<RunningApplication> runningApplications() const = 0;

  // Calls `handler` on the main thread each time an application becomes active, with that
  // application. Destroying the token removes the registration.
  [[nodiscard]] virtual Cancellable observeActivations(
      std::function<void(const RunningApplication&)> handler) = 0;

  // Asks the desktop to open `url`; false when it could not be handed over.
  virtual bool openURL(const std::string& url) = 0;
};

}  // namespace dunelo
