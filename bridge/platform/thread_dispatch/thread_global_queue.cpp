// The global queue on a small fixed pool of worker threads, for every system but macOS
// (which runs apple_dispatch/). Workers are detached and never stopped.
#include "bridge/platform/global_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {
namespace {

constexpr int kWorkerCount = 4;

class ThreadPoolQueue final : public GlobalQueue {
 public:
  ThreadPoolQueue() {
    for (int i = 0; i < kWorkerCount; ++i) std::thread([this] { work(); }).detach();
  }

  void async(std::function<void()> task) override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      tasks_.push_back(std::move(task));
      ++pending_;
    }
    wake_.notify_one();
  }

  void waitIdleForTesting() override {
    std::unique_lock<std::mutex> hold(lock_);
    idle_.wait(hold, [this] { return pending_ == 0; });
  }

 private:
  void work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [this] { return !tasks_.empty(); });
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      hold.unlock();
      task();
      task = nullptr;
      hold.lock();
      if (--pending_ == 0) idle_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;                // signalled when a task is queued
  std::condition_variable idle_;                // signalled when pending_ reaches 0
  std::deque<std::function<void()>> tasks_;     // guarded by lock_
  long pending_ = 0;                            // queued or running; guarded by lock_
};

}  // namespace

GlobalQueue& GlobalQueue::shared() {
  // Deliberately never destroyed: workers may still run when the process exits.
  static ThreadPoolQueue* queue = new ThreadPoolQueue();
  return *queue;
}

}  // namespace platform
