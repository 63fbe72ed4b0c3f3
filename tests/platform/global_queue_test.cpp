#include "bridge/platform/global_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

TEST(GlobalQueue, RunsEveryTaskAndDrains) {
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) platform::GlobalQueue::shared().async([&] { ran.fetch_add(1); });
  platform::GlobalQueue::shared().waitIdleForTesting();
  EXPECT_EQ(ran.load(), 100);
}

}  // namespace
