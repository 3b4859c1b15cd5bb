#include "system/permission_checker.h"

#include "settings/settings_manager.h"

namespace dunelo {

PermissionChecker::PermissionChecker(DefaultsStore& defaults, WindowList& windowList,
                                     Accessibility& accessibility, Workspace& workspace,
                                     ProcessID self)
    : defaults_(defaults),
      windowList_(windowList),
      accessibility_(accessibility),
      workspace_(workspace),
      self_(self) {
  hasScreenRecording = defaults_.boolForKey(settings_keys::kCachedScreenRecording);
  hasAccessibility = defaults_.boolForKey(settings_keys::kCachedAccessibility);
}

void PermissionChecker::refresh() {
  hasScreenRecording = probeScreenRecording();
  hasAccessibility = probeAccessibility();
  defaults_.setBool(settings_keys::kCachedScreenRecording, *hasScreenRecording);
  defaults_.setBool(settings_keys::kCachedAccessibility, *hasAccessibility);
}

bool PermissionChecker::probeScreenRecording() {
  if (windowList_.screenCapturePreflight()) return true;
  const auto windows = windowList_.onScreenWindows();
  if (!windows) return false;
  // Another process's window with a readable width shows that the desktop shares other
  // processes' bounds with us; our own windows are always readable and prove nothing.
  for (const WindowListEntry& entry : *windows) {
    if (!entry.ownerPID || *entry.ownerPID == self_) continue;
    if (entry.bounds && entry.bounds->width) return true;
  }
  return false;
}

bool PermissionChecker::probeAccessibility() {
  if (accessibility_.canReadFocusedApplication()) return true;
  return accessibility_.isProcessTrusted(false);
}

void PermissionChecker::requestAccessibility() {
  accessibility_.isProcessTrusted(true);
}

void PermissionChecker::openScreenRecordingSettings() {
  if (const std::string url = windowList_.screenCaptureHelp().url; !url.empty())
    workspace_.openURL(url);
}

PermissionHelp PermissionChecker::screenRecordingHelp() {
  return windowList_.screenCaptureHelp();
}
PermissionHelp PermissionChecker::accessibilityHelp() {
  return accessibility_.trustHelp();
}

}  // namespace dunelo
