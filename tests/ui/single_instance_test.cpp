// The single-instance channel: what a second start and the command line meet, including what
// another program may have left or planted at the socket's name.
#include "ui/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTimer>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "support/scratch_dir.h"
#include "ui/ui_test_support.h"

namespace dunelo {
namespace {

using Outcome = SingleInstance::Outcome;

// Serves the Qt loop until `done` (at most ten seconds).
template <class Pred>
bool spinUntil(Pred done) {
  QTimer tick;
  tick.start(5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  return done();
}

// Runs `work` on another thread while this one serves the Qt loop, and returns its result.
template <class F>
auto aside(F work) {
  auto result = std::async(std::launch::async, std::move(work));
  spinUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  return result.get();
}

// A listening socket at `path` that this test controls directly.
int listenAt(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Connects, writes `request` and reads until the instance closes the connection.
std::string exchange(const std::string& path, const std::string& request) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char buffer[64];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
  }
  ::close(fd);
  return answer;
}

TEST(SingleInstance, TakesOverWhatIsLeftOrPlantedAtItsNameUnlessItAnswers) {
  test::Desk desk;
  RemoteControl control(*desk.settings, {}, {});
  enum Kind { LeftoverFile, NeverAnswers, AnswersNonsense };
  for (Kind kind : {LeftoverFile, NeverAnswers, AnswersNonsense}) {
    testing::ScratchDir dir;
    const std::string name = dir.file("dunelo.sock");
    int listener = -1;
    std::thread nonsense;
    if (kind == LeftoverFile) testing::writeFile(name, "");
    if (kind != LeftoverFile) {
      ASSERT_GE(listener = listenAt(name), 0);
    }
    if (kind == AnswersNonsense)
      nonsense = std::thread([listener] {
        const int client = ::accept(listener, nullptr, nullptr);
        [[maybe_unused]] auto written = ::write(client, "hello\n", 6);
        ::close(client);
      });

    SingleInstance instance(QString::fromStdString(name), 300);
    EXPECT_TRUE(instance.claim()) << kind;
    instance.serve(&control);
    EXPECT_EQ(
        aside([&] { return SingleInstance::send(instance.name(), RemoteCommand::Status, {}); }),
        Outcome::Answered)
        << kind << ": the name now reaches this instance";
    if (nonsense.joinable()) nonsense.join();
    if (listener >= 0) ::close(listener);
  }
}

TEST(SingleInstance, AnswersEachCommandASecondStartAndAWatchUntilItStopsServing) {
  test::Desk desk;
  int panels = 0, quits = 0;
  RemoteControl control(
      *desk.settings, [&] { ++panels; }, [&] { ++quits; });
  testing::ScratchDir dir;
  const QString name = QString::fromStdString(dir.file("dunelo.sock"));
  SingleInstance first(name);
  ASSERT_TRUE(first.claim());
  first.serve(&control);

  std::mutex mutex;
  std::vector<bool> watched;
  auto watch = std::async(std::launch::async, [&] {
    return SingleInstance::send(name, RemoteCommand::Watch, [&](bool active) {
      std::lock_guard lock(mutex);
      watched.push_back(active);
    });
  });
  const auto watchedCount = [&] {
    std::lock_guard lock(mutex);
    return watched.size();
  };
  ASSERT_TRUE(spinUntil([&] { return watchedCount() == 1; }));

  const auto send = [&](RemoteCommand command, int timeoutMs = SingleInstance::kReplyTimeoutMs) {
    std::optional<bool> state;
    const Outcome outcome = aside([&] {
      return SingleInstance::send(
          name, command, [&](bool active) { state = active; }, timeoutMs);
    });
    return outcome == Outcome::Answered ? state : std::nullopt;
  };
  EXPECT_EQ(send(RemoteCommand::On), true);
  EXPECT_EQ(send(RemoteCommand::On), true);
  EXPECT_EQ(send(RemoteCommand::Status), true);
  EXPECT_EQ(send(RemoteCommand::Toggle), false);
  EXPECT_EQ(send(RemoteCommand::ShowPanel), false);
  EXPECT_EQ(send(RemoteCommand::Quit, 100), false);  // this instance does not end: 100 ms wait
  SingleInstance second(name);
  EXPECT_FALSE(aside([&] { return second.claim(); })) << "a second start hands over";
  EXPECT_EQ(std::make_pair(panels, quits), std::make_pair(2, 1));
  EXPECT_EQ(aside([&] { return exchange(name.toStdString(), "bogus\n"); }), "unknown\n");
  EXPECT_EQ(aside([&] { return exchange(name.toStdString(), std::string(100, 'x')); }), "")
      << "an endless request is cut off";

  first.serve(nullptr);
  EXPECT_EQ(aside([&] { return watch.get(); }), Outcome::Answered);
  EXPECT_EQ(watched, (std::vector<bool>{false, true, false}));
}

}  // namespace
}  // namespace dunelo
