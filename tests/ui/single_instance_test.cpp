// The single-instance channel: what a second start and the command line meet, including what
// another program may have left or planted at the socket's name. The commands themselves are
// tried against the real program (tests/platform/x11/dunelo_commands_test.cpp).
#include "ui/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTimer>
#include <future>
#include <thread>

#include "support/scratch_dir.h"
#include "ui/ui_test_support.h"

namespace dunelo {
namespace {

// Runs `work` on another thread while this one serves the Qt loop, and returns its result.
template <class F>
auto aside(F work) {
  auto result = std::async(std::launch::async, std::move(work));
  QTimer tick;
  tick.start(5);
  while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  return result.get();
}

// A socket at `path`, listening or connected; -1 when that fails.
int socketAt(const std::string& path, bool listen) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const auto* a = reinterpret_cast<sockaddr*>(&address);
  if (listen ? ::bind(fd, a, sizeof address) != 0 || ::listen(fd, 4) != 0
             : ::connect(fd, a, sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Writes `request` and reads until the instance closes the connection.
std::string talk(const std::string& path, const std::string& request) {
  const int fd = socketAt(path, false);
  std::string answer;
  if (fd >= 0 && ::write(fd, request.data(), request.size()) == ssize_t(request.size())) {
    char buffer[64];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  }
  ::close(fd);
  return answer;
}

TEST(SingleInstance, TakesOverWhatIsLeftOrPlantedAtItsNameAndAnswersOnlyWhatItKnows) {
  test::Desk desk;
  int panels = 0;
  RemoteControl control(*desk.settings, [&] { ++panels; }, {});
  enum Kind { LeftoverFile, NeverAnswers, AnswersNonsense };
  for (Kind kind : {LeftoverFile, NeverAnswers, AnswersNonsense}) {
    testing::ScratchDir dir;
    const std::string name = dir.file("dunelo.sock");
    int listener = -1;
    std::thread nonsense;
    if (kind == LeftoverFile) {
      testing::writeFile(name, "");
    } else {
      ASSERT_GE(listener = socketAt(name, true), 0);
    }
    if (kind == AnswersNonsense)
      nonsense = std::thread([listener] {
        const int client = ::accept(listener, nullptr, nullptr);
        [[maybe_unused]] auto written = ::write(client, "hello\n", 6);
        ::close(client);
      });

    SingleInstance first(QString::fromStdString(name), 300);
    EXPECT_TRUE(first.claim()) << kind;
    first.serve(&control);
    std::optional<bool> state;
    EXPECT_EQ(aside([&] {
                return SingleInstance::send(first.name(), RemoteCommand::Status,
                                            [&](bool active) { state = active; });
              }),
              SingleInstance::Outcome::Answered)
        << kind << ": the name now reaches this instance";
    EXPECT_EQ(state, false);
    SingleInstance second(first.name());
    EXPECT_FALSE(aside([&] { return second.claim(); })) << kind << ": a second start hands over";
    EXPECT_EQ(panels, kind + 1);
    if (nonsense.joinable()) nonsense.join();
    if (listener >= 0) ::close(listener);

    if (kind == AnswersNonsense) {
      EXPECT_EQ(aside([&] { return talk(name, "bogus\n"); }), "unknown\n");
      EXPECT_EQ(aside([&] { return talk(name, std::string(100, 'x')); }), "")
          << "an endless request is cut off";
    }
  }
}

}  // namespace
}  // namespace dunelo
