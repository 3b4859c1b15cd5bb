#include "app/sim_composition.h"

namespace dunelo {

Platform simPlatform(sim::SimDesktop& desktop, DefaultsStore& defaults) {
  return Platform{
      .scheduler = desktop.scheduler(),
      .workspace = desktop.workspace(),
      .accessibility = desktop.accessibility(),
      .windowList = desktop.windowList(),
      .displays = desktop.displays(),
      .overlaySurfaces = desktop.overlaySurfaces(),
      .mouseMonitors = desktop.mouseMonitors(),
      .hotKeys = desktop.hotKeys(),
      .scriptRunner = desktop.scriptRunner(),
      .updater = desktop.updater(),
      .loginItems = desktop.loginItems(),
      .defaults = defaults,
      .selfPID = desktop.selfPID(),
      .applicationAliases = &desktop.applicationAliases(),
  };
}

}  // namespace dunelo
