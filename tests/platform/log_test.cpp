#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
