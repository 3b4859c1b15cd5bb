#include "app/composition.h"

namespace dunelo {

std::unique_ptr<AppCoordinator> makeAppCoordinator(Platform& platform) {
  return std::make_unique<AppCoordinator>(platform);
}

}  // namespace dunelo
