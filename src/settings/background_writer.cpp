#include "settings/background_writer.h"

namespace dunelo {

BackgroundWriter::BackgroundWriter(std::chrono::milliseconds coalesce, std::function<void()> write)
    : coalesce_(coalesce), write_(std::move(write)) {}

BackgroundWriter::~BackgroundWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWriter::schedule() {
  bool first = false;
  {
    std::lock_guard lock(mutex_);
    // The interval starts with the first change that the running write does not cover; later
    // ones join it without waking the writer.
    first = scheduled_ == taken_;
    if (first) pendingSince_ = Clock::now();
    ++scheduled_;
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  if (first) wake_.notify_all();
}

void BackgroundWriter::flush() {
  std::unique_lock lock(mutex_);
  const uint64_t target = scheduled_;
  if (written_ >= target) return;
  flushWanted_ = std::max(flushWanted_, target);
  wake_.notify_all();
  done_.wait(lock, [&] { return written_ >= target; });
}

void BackgroundWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || scheduled_ > taken_; });
    if (scheduled_ == taken_) return;  // stopping with nothing left to write
    wake_.wait_until(lock, pendingSince_ + coalesce_,
                     [&] { return stopping_ || flushWanted_ > taken_; });
    taken_ = scheduled_;
    lock.unlock();
    write_();
    lock.lock();
    written_ = taken_;
    done_.notify_all();
  }
}

}  // namespace dunelo
