#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "bridge/platform/global_queue.h"
#include "bridge/platform/log.h"
#include "tests/support/log_capture.h"

namespace {

TEST(Log, FormatsPrintfStyleWithObjectPlaceholder) {
  testing_support::LogCapture log;
  bridgeLog("[Encoder] %s: source %dx%d %@ 100%% %%@", "local", 1179, 2556, "(quality VBR)");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "[Encoder] local: source 1179x2556 (quality VBR) 100% %@");
}

TEST(Log, LongLinesStayWhole) {
  testing_support::LogCapture log;
  std::string big(5000, 'x');
  bridgeLog("[Framebuffer] %@", big.c_str());
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0], "[Framebuffer] " + big);
}

TEST(GlobalQueue, RunsEveryTaskAndDrains) {
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) platform::GlobalQueue::shared().async([&] { ran.fetch_add(1); });
  platform::GlobalQueue::shared().waitIdleForTesting();
  EXPECT_EQ(ran.load(), 100);
}

}  // namespace
