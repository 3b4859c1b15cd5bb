// Files that a hostile or careless desktop may put where Dunelo reads: a FIFO (opening it blocks
// until a writer comes), a link to /dev/zero (reading it never ends) and a 200 MB file (sparse,
// so it costs no disk).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace dunelo::testing {

// Makes the three in `dir`, named "<kind><suffix>"; returns their paths.
inline std::vector<std::string> plantHostileFiles(const std::string& dir,
                                                  const std::string& suffix) {
  const std::string fifo = dir + "/fifo" + suffix, zero = dir + "/zero" + suffix,
                    huge = dir + "/huge" + suffix;
  ::mkfifo(fifo.c_str(), 0600);
  std::filesystem::create_symlink("/dev/zero", zero);
  writeFile(huge, "[Desktop Entry]\nType=Application\nName=Huge\n");
  std::filesystem::resize_file(huge, 200u << 20);
  return {fifo, zero, huge};
}

}  // namespace dunelo::testing
