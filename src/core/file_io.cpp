#include "core/file_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace dunelo {

bool writeAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace dunelo
