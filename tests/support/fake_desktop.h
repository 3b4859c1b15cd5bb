// Stand-ins for the desktop tools Dunelo drives (gsettings, dbus-send to plasmashell, xfconf-query)
// in a directory of their own, for tests that put it first in PATH.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace dunelo::testing {

// Stand-ins for gsettings, dbus-send (plasmashell's scripting interface) and xfconf-query that
// keep the desktop's settings as files in a state directory, one file per setting, and record each
// call ("tool arg arg ...") in `calls`.
class FakeDesktop {
 public:
  using Files = std::map<std::string, std::string>;

  FakeDesktop() {
    std::filesystem::create_directory(state());
    for (const auto& [name, body] : standardTools()) add(name, body);
  }

  // Replaces a tool; `body` runs after the call is recorded. "S/" in it names the state directory.
  void add(const std::string& name, const std::string& body) {
    std::string text = body;
    for (size_t at = 0; (at = text.find("S/", at)) != std::string::npos; at += state().size() + 1)
      text.replace(at, 1, state());
    const std::string path = dir_.file(name);
    writeFile(path, "#!/bin/sh\necho \"" + name + " $*\" >> '" + dir_.file("calls") + "'\n" + text +
                        "\n");
    chmod(path.c_str(), 0755);
  }
  // Puts the stand-in back after add() replaced it.
  void restore(const std::string& name) { add(name, standardTools().at(name)); }

  static const Files& standardTools() {
    static const Files tools{
        {"gsettings", R"(case "$1" in
  list-keys) [ -e S/gs-dock-fixed ] || { echo 'No such schema' >&2; exit 1; } ;;
  get) cat "S/gs-$3" ;;
  set) echo "$4" > "S/gs-$3" ;;
esac)"},
        {"xfconf-query", R"(p=; v=; reset=
while [ $# -gt 0 ]; do case "$1" in -p) p=$2; shift ;; -s) v=$2; shift ;; -r) reset=1 ;; esac; shift; done
if [ "$p" = /panels ]; then
  [ -e S/xfce-panels ] || { echo 'Property "/panels" does not exist' >&2; exit 1; }
  echo 'Value is an array with some items:'; echo; cat S/xfce-panels; exit 0
fi
n=${p#/panels/panel-}; f=S/xfce-${n%/autohide-behavior}
if [ -n "$reset" ]; then rm -f "$f"; elif [ -n "$v" ]; then echo "$v" > "$f"
elif [ -e "$f" ]; then cat "$f"; else echo "Property \"$p\" does not exist on channel" >&2; exit 1; fi)"},
        // Plasma's panels are lines "<id>=<hiding>" in one file.
        {"dbus-send",
         R"sh([ -e S/kde ] || { echo 'Error org.freedesktop.DBus.Error.ServiceUnknown' >&2; exit 1; }
for a; do script=$a; done; script=${script#string:}
case "$script" in
  *'print(s)'*) echo 'method return time=1 sender=:1.2 -> destination=:1.3 serial=4'
                printf '   string "%s"\n' "$(tr '\n' ';' < S/kde)" ;;
  *'var wanted'*) echo "$script" | sed 's/.*{\(.*\)}; panels.*/\1/' | tr ',' '\n' |
      sed 's/^ *\([0-9]*\): "\([a-z]*\)"$/\1=\2/' | while IFS== read -r id v; do
        sed -i "s/^$id=.*/$id=$v/" S/kde; done ;;
esac)sh"}};
    return tools;
  }

  void set(const Files& files) {
    for (const auto& [name, content] : files) writeFile(state() + "/" + name, content);
  }
  Files files() const {
    Files out;
    for (const auto& entry : std::filesystem::directory_iterator(state()))
      out[entry.path().filename()] = readFile(entry.path());
    return out;
  }
  std::string path() const { return dir_.path() + ":/usr/bin:/bin"; }
  std::vector<std::string> calls() const { return readLines(dir_.file("calls")); }
  std::string state() const { return dir_.file("state"); }

 private:
  ScratchDir dir_;
};

}  // namespace dunelo::testing
