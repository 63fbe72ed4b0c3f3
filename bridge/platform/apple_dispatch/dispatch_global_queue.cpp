// The GlobalQueue on Grand Central Dispatch: tasks go to the default-priority global
// concurrent queue, so they may run side by side, as the interface allows.
//
// Every task is submitted inside one dispatch group; waitIdleForTesting waits for that
// group to empty. A task submitted by a running task enters the group before the running
// one leaves it, so the wait also covers tasks that tasks submit.
//
// Ownership: the global queue belongs to the system and is never released; the group and
// the queue object live for the whole process. Each task is moved to the heap at
// submission and freed by the worker once it has run.
#include <dispatch/dispatch.h>

#include <functional>
#include <memory>
#include <utility>

#include "bridge/platform/global_queue.h"

namespace platform {
namespace {

class DispatchGlobalQueue final : public GlobalQueue {
 public:
  void async(std::function<void()> task) override {
    auto* heap = new std::function<void()>(std::move(task));
    dispatch_group_async_f(pending_, queue_, heap, &DispatchGlobalQueue::run);
  }

  void waitIdleForTesting() override { dispatch_group_wait(pending_, DISPATCH_TIME_FOREVER); }

 private:
  static void run(void* context) {
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(context));
    (*task)();
  }

  // Not owned: global queues are never released.
  dispatch_queue_t queue_ = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0);
  // Every task submitted and not yet finished; never released (process lifetime).
  dispatch_group_t pending_ = dispatch_group_create();
};

}  // namespace

GlobalQueue& GlobalQueue::shared() {
  // Deliberately never destroyed: tasks may still run when the process exits.
  static DispatchGlobalQueue* queue = new DispatchGlobalQueue();
  return *queue;
}

}  // namespace platform
