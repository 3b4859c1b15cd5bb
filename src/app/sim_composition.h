// Dunelo over the simulated desktop: the whole program without a display server, on virtual time.
// The end-to-end tests drive it like a user and read back what Dunelo did to the desktop.
#pragma once

#include "app/platform.h"
#include "platform/sim/sim_desktop.h"
#include "settings/defaults_store.h"

namespace dunelo {

// The capabilities of `desktop` with `defaults` as the settings domain. Both must outlive every
// use of the result.
Platform simPlatform(sim::SimDesktop& desktop, DefaultsStore& defaults);

}  // namespace dunelo
