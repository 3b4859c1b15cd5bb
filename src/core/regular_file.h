// Reading files that someone else may have put in our way: a settings file, a desktop entry, an
// icon. Such a path can name a FIFO (opening it would block until a writer appears), a link to a
// device (/dev/zero never ends) or a file far larger than anything of its kind. Only a regular
// file is opened, without blocking and without taking a controlling terminal, and at most
// `maxBytes` are read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace dunelo {

struct RegularFileRead {
  enum class Status { ok, missing, notRegular, tooLarge, unreadable };
  Status status = Status::unreadable;
  std::string data;   // the whole file when ok
  int error = 0;      // errno for missing and unreadable
  uint64_t size = 0;  // the size seen when it was too large
  uid_t owner = 0;    // the file's owner when it could be opened
  uint64_t maxBytes = 0;

  bool ok() const { return status == Status::ok; }
  // Why the file was not read, for a log line: "is not a regular file", "is 209715200 bytes
  // (more than 1048576)", "cannot be opened (Permission denied)".
  std::string problem() const;
};

// Reads `path` (links followed) when it is a regular file of at most `maxBytes`. A file that
// grows past the cap while it is read counts as too large.
RegularFileRead readRegularFile(const std::string& path, uint64_t maxBytes);

}  // namespace dunelo
