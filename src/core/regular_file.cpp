#include "core/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dunelo {

std::string RegularFileRead::problem() const {
  switch (status) {
    case Status::ok:
      return "was read";
    case Status::missing:
      return "does not exist";
    case Status::notRegular:
      return "is not a regular file";
    case Status::tooLarge:
      return "is " + std::to_string(size) + " bytes (more than " + std::to_string(maxBytes) + ")";
    case Status::unreadable:
      break;
  }
  return std::string("cannot be read (") + std::strerror(error) + ")";
}

RegularFileRead readRegularFile(const std::string& path, uint64_t maxBytes) {
  RegularFileRead r;
  r.maxBytes = maxBytes;
  const auto fail = [&r](RegularFileRead::Status status, int error = 0) {
    r.status = status;
    r.error = error;
    r.data.clear();
    return r;
  };
  // A look before opening keeps device nodes closed: opening some has side effects.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return fail(
        errno == ENOENT ? RegularFileRead::Status::missing : RegularFileRead::Status::unreadable,
        errno);
  if (!S_ISREG(st.st_mode)) return fail(RegularFileRead::Status::notRegular);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return fail(
        errno == ENOENT ? RegularFileRead::Status::missing : RegularFileRead::Status::unreadable,
        errno);
  // The name may have been swapped for something else since the look.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(RegularFileRead::Status::notRegular);
  }
  r.owner = st.st_uid;
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    r.size = static_cast<uint64_t>(st.st_size);
    return fail(RegularFileRead::Status::tooLarge);
  }
  r.data.reserve(static_cast<size_t>(st.st_size));
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return fail(RegularFileRead::Status::unreadable, error);
    }
    if (n == 0) break;
    r.data.append(buffer, static_cast<size_t>(n));
    if (r.data.size() > maxBytes) {
      ::close(fd);
      r.size = r.data.size();
      return fail(RegularFileRead::Status::tooLarge);
    }
  }
  ::close(fd);
  r.status = RegularFileRead::Status::ok;
  return r;
}

}  // namespace dunelo
