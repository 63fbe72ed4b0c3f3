// The global queue as the Apple build has it (Grand Central Dispatch; on Linux over the
// dispatch stand-in).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "bridge/platform/global_queue.h"

namespace {

TEST(DispatchGlobalQueue, RunsEveryTaskAndWaitsAlsoForTasksThatTasksSubmit) {
  platform::GlobalQueue& queue = platform::GlobalQueue::shared();
  std::atomic<int> ran{0};
  for (int i = 0; i < 50; ++i)
    queue.async([&] {
      ran.fetch_add(1);
      queue.async([&] { ran.fetch_add(1); });
    });
  queue.waitIdleForTesting();
  EXPECT_EQ(ran.load(), 100);
}

}  // namespace
