#include "bridge/platform/x264/band_worker.h"

namespace platform::x264impl {

BandWorker::BandWorker() : thread_([this] { loop(); }) {}

BandWorker::~BandWorker() {
  {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return !busy_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BandWorker::run(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    task_ = std::move(task);
    busy_ = true;
  }
  changed_.notify_all();
}

void BandWorker::wait() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return !busy_; });
}

void BandWorker::loop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stopping_ || task_; });
    if (stopping_) return;
    std::function<void()> task = std::move(task_);
    task_ = nullptr;
    hold.unlock();
    task();
    hold.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace platform::x264impl
