// What the user can do about a permission the desktop withholds, said in the desktop's own terms.
//
// Each backend knows what its permissions stand for (a window manager that publishes the active
// window, X extensions, a compositor integration, a privacy setting) and so what is missing and
// how to get it; the panel shows the answer when the user asks to grant the permission.
#pragma once

#include <string>

namespace dunelo {

struct PermissionHelp {
  std::string text;     // one short sentence: what is missing and what to do about it
  std::string command;  // a command to run or a setting to change; empty when there is none
  std::string url;      // a settings page to open for the user; empty when there is none

  friend bool operator==(const PermissionHelp&, const PermissionHelp&) = default;
};

}  // namespace dunelo
