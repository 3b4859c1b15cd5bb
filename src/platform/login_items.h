// Whether Dunelo starts when the user logs in.
#pragma once

namespace dunelo {

class LoginItems {
 public:
  virtual ~LoginItems() = default;
  // Each returns false when the change could not be made.
  virtual bool registerApp() = 0;
  virtual bool unregisterApp() = 0;
};

}  // namespace dunelo
