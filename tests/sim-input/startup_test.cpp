// corvane-sim-input's start-up when the HID event system cannot give it a client.

#include <gtest/gtest.h>

#include "tests/sim-input/sim_input_process.h"

namespace {

TEST(SimInputStartup, UnavailableEventSystemAnswersOnceAndExitsWithoutReadingInput) {
  // The preloaded library's client call takes precedence over the stand-in's and fails.
  // Input stays open: a program that tried to read it would never exit.
  const std::string pending = "{\"cmd\":\"key\",\"page\":7,\"usage\":4}\n";
  const auto run = sim_input_testing::runSimInput(
      {.input = pending, .keepInputOpen = true, .preload = HID_NULL_CLIENT_PRELOAD});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.out, "{\"ok\":false,\"error\":\"HID event system unavailable\"}\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.unreadInput, pending);
  EXPECT_TRUE(run.records.empty());
}

}  // namespace
