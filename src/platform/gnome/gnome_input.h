// Hot keys and mouse movement inside GNOME Shell, through Dunelo's extension.
//
// Hot keys are the shell's own accelerator grabs, allowed in the normal session and the overview.
// A combination another program holds cannot be had: the token comes back empty and the debug
// log says so. Grabs belong to Dunelo's bus connection (the shell drops them when Dunelo goes
// away) and are made again when the extension comes back.
//
// Mouse movement: the extension reports the pointer's movement at most once a frame while it
// moves and nothing while it rests. The pointer stops at the screen edges, so movement beyond an
// edge does not count. Every report goes to the global monitors; a local monitor is accepted
// but never called, since the reports cannot tell Dunelo's own windows apart (as on X11).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/weak_ptr.h"
#include "platform/gnome/shell_connection.h"
#include "platform/hot_keys.h"
#include "platform/mouse_monitors.h"

namespace dunelo::gnome {

class GnomeHotKeys final : public HotKeys {
 public:
  explicit GnomeHotKeys(ShellConnection& shell);
  ~GnomeHotKeys() override;

  Cancellable installPressHandler(std::function<int32_t(const HotKeyID&)> handler) override;
  Cancellable registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) override;

  size_t registrationCount() const { return registrations_.size(); }

 private:
  struct Registration {
    std::string accelerator;
    HotKeyID id;
    uint32_t action = 0;  // the shell's action number; 0 while not grabbed
  };
  bool grab(Registration& registration);
  void unregister(uint64_t token);

  ShellConnection& shell_;
  std::map<uint64_t, Registration> registrations_;
  uint64_t nextToken_ = 1;
  std::function<int32_t(const HotKeyID&)> handler_;
  uint64_t handlerGeneration_ = 0;
  CancellableBag tokens_;
  WeakPtrFactory<GnomeHotKeys> weakFactory_{this};
};

class GnomeMouseMonitors final : public MouseMonitors {
 public:
  explicit GnomeMouseMonitors(ShellConnection& shell);
  ~GnomeMouseMonitors() override;

  Cancellable addGlobalMonitor(Handler handler) override;
  Cancellable addLocalMonitor(Handler handler) override;

 private:
  void updateWatch();

  ShellConnection& shell_;
  std::map<uint64_t, Handler> handlers_;
  uint64_t nextToken_ = 1;
  bool watching_ = false;
  CancellableBag tokens_;
  WeakPtrFactory<GnomeMouseMonitors> weakFactory_{this};
};

}  // namespace dunelo::gnome
