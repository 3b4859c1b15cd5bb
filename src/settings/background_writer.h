// Runs a file write on a thread of its own, so that a slider dragged across its range does not
// wait for the disk sixty times a second.
//
// `schedule()` says that the data changed. The write follows within `coalesce` seconds (plus the
// time of a write already running); every change made meanwhile joins it, so a burst of changes
// costs one write per interval and a crash loses at most the last interval. `flush()` waits until
// every change scheduled before it has been written; the destructor flushes. Writes never
// overlap, and the thread starts with the first change.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace dunelo {

class BackgroundWriter {
 public:
  // `write` runs on the writer thread; it reads the data under the owner's own lock.
  BackgroundWriter(std::chrono::milliseconds coalesce, std::function<void()> write);
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  void schedule();
  void flush();

 private:
  using Clock = std::chrono::steady_clock;
  void run();

  const std::chrono::milliseconds coalesce_;
  const std::function<void()> write_;
  std::mutex mutex_;
  std::condition_variable wake_;  // to the writer: a change, a flush or the end
  std::condition_variable done_;  // from the writer: a write finished
  uint64_t scheduled_ = 0;        // changes so far
  uint64_t taken_ = 0;            // changes the current or last write covers
  uint64_t written_ = 0;          // changes on disk (or given up on)
  uint64_t flushWanted_ = 0;      // changes a flush waits for
  Clock::time_point pendingSince_{};
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace dunelo
