// Where Dunelo is put together. Each backend's entry point fills a `Platform` from its desktop and
// hands it here; nothing else in the program names a backend.
#pragma once

#include <memory>

#include "app/app_coordinator.h"
#include "app/platform.h"

namespace dunelo {

// Builds the one coordinator of the process over `platform`, which must outlive it. Everything the
// coordinator does at start-up (loading the settings, the first permission refresh, bringing up a
// persisted on state, registering the hot key) has happened when this returns; the rest arrives
// through the platform's scheduler and callbacks.
std::unique_ptr<AppCoordinator> makeAppCoordinator(Platform& platform);

}  // namespace dunelo
