#include "bridge/platform/x264/helper_thread.h"

#include <utility>

namespace platform::x264impl {

HelperThread::HelperThread() : thread_([this] { loop(); }) {}

HelperThread::~HelperThread() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void HelperThread::start(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    task_ = std::move(task);
    busy_ = true;
  }
  changed_.notify_all();
}

void HelperThread::finish() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return !busy_; });
}

void HelperThread::loop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stopping_ || busy_; });
    if (!busy_) return;  // stopping with nothing to run
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
