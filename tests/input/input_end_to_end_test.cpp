// Input through the real bridge and the virtual simulator: what the commands answer.
#include <gtest/gtest.h>

#include <string>

#include "tests/input/input_end_to_end_fixture.h"

namespace input_test {
namespace {

TEST_P(InputEndToEnd, StaleClientsFirstDownIsRecoveredAndAnswersOk) {
  EXPECT_EQ(touch(kStaleInputPhone, 0.5, 0.5, 0), ok_);
  const std::string udid = kStaleInputPhone;
  if (bridge_.waitForStderr("[IndigoHID] DOWN failed with stale mach port — recreating client for " + udid)) {
    // The send's error came back within the DOWN's wait, and the DOWN was resent at once.
    EXPECT_TRUE(bridge_.waitForStderr("[IndigoHID] DOWN send error: "));
  } else {
    // On a starved machine the error may come back only after the DOWN's wait, unread.
    // The UP's error then marks the client (or the next DOWN meets the error in time):
    // either way a fresh DOWN goes through a new client.
    EXPECT_EQ(touch(kStaleInputPhone, 0.5, 0.5, 2), ok_);
    EXPECT_EQ(touch(kStaleInputPhone, 0.5, 0.5, 0), ok_);
  }
  EXPECT_EQ(touch(kStaleInputPhone, 0.5, 0.5, 2), ok_);
}

TEST_P(InputEndToEnd, HardwareButtonWithoutOpSendsPressAndRelease) {
  EXPECT_EQ(ask({{"cmd", "hw_button"}, {"udid", kVirtualPhone}, {"keyCode", 1}}),
            json({{"ok", true}, {"rcDown", 0}, {"rcUp", 0}}));
  EXPECT_EQ(ask({{"cmd", "hw_button"}, {"udid", kVirtualPhone}, {"keyCode", 1}, {"op", 1}}),
            json({{"ok", true}, {"rc", 0}}));
}

INSTANTIATE_TEST_SUITE_P(Bridges, InputEndToEnd, testing::ValuesIn(testing_support::bridgeBinaries()),
                         testing_support::ParamName());

}  // namespace
}  // namespace input_test
