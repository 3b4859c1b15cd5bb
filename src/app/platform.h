// Everything Dunelo needs from the desktop it runs on, handed to the coordinator in one piece.
//
// The composition root of each backend fills this in; the coordinator passes each component the
// capabilities it uses. Every referenced object must outlive the coordinator built over it.
#pragma once

#include "core/scheduler.h"
#include "platform/accessibility.h"
#include "platform/application_aliases.h"
#include "platform/displays.h"
#include "platform/hot_keys.h"
#include "platform/login_items.h"
#include "platform/mouse_monitors.h"
#include "platform/overlay_surface.h"
#include "platform/script_runner.h"
#include "platform/tray_colors.h"
#include "platform/updater.h"
#include "platform/window_list.h"
#include "platform/workspace.h"
#include "settings/defaults_store.h"

namespace dunelo {

struct Platform {
  Scheduler& scheduler;
  Workspace& workspace;
  Accessibility& accessibility;
  WindowList& windowList;
  Displays& displays;
  OverlaySurfaceFactory& overlaySurfaces;
  MouseMonitors& mouseMonitors;
  HotKeys& hotKeys;
  ScriptRunner& scriptRunner;
  Updater& updater;
  LoginItems& loginItems;
  DefaultsStore& defaults;  // the user's persistent settings domain
  ProcessID selfPID;        // this process
  // Stored identities that mean another application here; null: each means itself.
  ApplicationAliases* applicationAliases = nullptr;
  // The tray's icon colour where the desktop publishes one; null: none is published.
  TrayColors* trayColors = nullptr;
};

}  // namespace dunelo
