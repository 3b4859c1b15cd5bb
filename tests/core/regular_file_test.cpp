#include "core/regular_file.h"

#include <gtest/gtest.h>

#include "support/hostile_files.h"

namespace dunelo {
namespace {

using Status = RegularFileRead::Status;

// Only regular files within the cap are read; the rest is refused at once, without blocking on a
// FIFO, reading a device or loading a huge file, and says why.
TEST(RegularFile, ReadsOnlyRegularFilesWithinTheCap) {
  testing::ScratchDir dir;
  const auto hostile = testing::plantHostileFiles(dir.path(), ".desktop");
  testing::writeFile(dir.file("exact"), std::string(1000, 'x'));
  testing::writeFile(dir.file("over"), std::string(1001, 'x'));
  const std::tuple<std::string, Status, std::string> cases[] = {
      {dir.file("exact"), Status::ok, "was read"},
      {dir.file("over"), Status::tooLarge, "is 1001 bytes (more than 1000)"},
      {hostile[0], Status::notRegular, "is not a regular file"},
      {hostile[1], Status::notRegular, "is not a regular file"},
      {hostile[2], Status::tooLarge, "is 209715200 bytes (more than 1000)"},
      {dir.path(), Status::notRegular, "is not a regular file"},
      {dir.file("missing"), Status::missing, "does not exist"},
      {dir.file("exact/below"), Status::unreadable, "cannot be read (Not a directory)"},
  };
  for (const auto& [path, status, problem] : cases) {
    const RegularFileRead r = readRegularFile(path, 1000);
    EXPECT_EQ(r.status, status) << path;
    EXPECT_EQ(r.problem(), problem) << path;
    EXPECT_EQ(r.data.size(), status == Status::ok ? 1000u : 0u) << path;
  }
}

}  // namespace
}  // namespace dunelo
