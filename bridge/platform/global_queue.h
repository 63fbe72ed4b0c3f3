// The default-priority global queue: where the simulator platform runs completion and
// error handlers, shared by the platform implementations and the input subsystem.
//
// Tasks start in submission order and may run concurrently with each other, so a task
// must not assume it runs alone. The queue is created on first use and lives for the
// whole process (it is never torn down, so the process may exit while tasks are idle or
// busy). Implementations: a small fixed pool of worker threads (thread_dispatch/), and
// Grand Central Dispatch's default-priority global queue on macOS (apple_dispatch/).
//
// Drop rule: none. The queue is unbounded; every task submitted runs exactly once.
#pragma once

#include <functional>

namespace platform {

class GlobalQueue {
 public:
  // The process-wide default-priority queue.
  static GlobalQueue& shared();

  // Submits a task; returns at once. Callable from any thread, including a worker.
  virtual void async(std::function<void()> task) = 0;

  // Test seam: blocks until every task submitted so far (and any they submit) has
  // finished. Must not be called from a worker.
  virtual void waitIdleForTesting() = 0;

 protected:
  ~GlobalQueue() = default;
};

}  // namespace platform
