// The four input commands on the fake simulator: which events each sends, in which
// order, with which holds in between, and what it answers.
#include "bridge/control/input_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/control/response.h"
#include "tests/support/fake_hid_environment.h"

namespace {

using nlohmann::json;
using testing::ElementsAre;
using testing_support::FakeIndigoKind;
using testing_support::kPhone;
using testing_support::kTV;

// One hold of a press-and-release pair: its length and how many Indigo messages had
// been built when it began.
struct Hold {
  double seconds;
  size_t messagesBefore;
  bool operator==(const Hold&) const = default;
};

void PrintTo(const Hold& hold, std::ostream* out) { *out << hold.seconds << "s after " << hold.messagesBefore; }

class InputCommandsTest : public testing_support::InjectionTest {
 protected:
  InputCommandsTest() {
    setResponseSinkForTesting([this](std::string_view line) { responses_.push_back(json::parse(line)); });
    setHoldSleeperForTesting(
        [this](double seconds) { holds.push_back({seconds, testing_support::FakeIndigo::shared().calls().size()}); });
  }
  ~InputCommandsTest() override {
    setHoldSleeperForTesting({});
    setResponseSinkForTesting({});
  }

  // Runs one command and returns its one response.
  json run(void (*handler)(const json&), const json& request) {
    responses_.clear();
    handler(request);
    EXPECT_EQ(responses_.size(), 1u);
    return responses_.empty() ? json() : responses_.front();
  }

  static json failure(const std::string& message) { return {{"ok", false}, {"error", message}}; }

  std::vector<Hold> holds;

 private:
  std::vector<json> responses_;
};

const json kOk = {{"ok", true}};

// `request` with one field replaced.
template <typename Value>
json with(json request, const char* key, Value value) {
  request[key] = value;
  return request;
}

TEST_F(InputCommandsTest, ButtonOnTheTVTakesTheRemoteRouteForRemoteNames) {
  EXPECT_EQ(run(handleButton, {{"udid", kTV}, {"button", "up"}}), kOk);
  EXPECT_EQ(run(handleButton, {{"udid", kTV}, {"button", "home"}}), kOk);
  auto calls = indigoCalls();
  ASSERT_EQ(calls.size(), 4u);
  const uint32_t usages[] = {0x42, 0x42, 0x30, 0x30};
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].kind, FakeIndigoKind::kArbitrary);
    EXPECT_EQ(calls[i].page, 0x0Cu);
    EXPECT_EQ(calls[i].usage, usages[i]);
    EXPECT_EQ(calls[i].op, i % 2 == 0 ? 1u : 2u);
    EXPECT_EQ(calls[i].target, 21);
  }
  EXPECT_THAT(holds, ElementsAre(Hold{0.04, 1}, Hold{0.04, 3}));
}

TEST_F(InputCommandsTest, IosHomeTakesTheHardwareRouteOnEveryDevice) {
  for (const char* udid : {kTV, kPhone}) {
    SCOPED_TRACE(udid);
    testing_support::FakeIndigo::shared().reset();
    holds.clear();
    EXPECT_EQ(run(handleButton, {{"udid", udid}, {"button", "ios_home"}}), kOk);
    auto calls = indigoCalls();
    ASSERT_EQ(calls.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(calls[i].kind, FakeIndigoKind::kButton);
      EXPECT_EQ(calls[i].keyCode, 1u);
      EXPECT_EQ(calls[i].buttonTarget, 51u);
      EXPECT_EQ(calls[i].op, i + 1);
    }
    EXPECT_THAT(holds, ElementsAre(Hold{0.05, 1}));
  }
}

TEST_F(InputCommandsTest, ButtonOnAPhoneTakesTheKeyRoute) {
  EXPECT_EQ(run(handleButton, {{"udid", kPhone}, {"button", "up"}}), kOk);
  EXPECT_EQ(run(handleButton, {{"udid", kPhone}, {"button", "home"}}), kOk);
  auto calls = indigoCalls();
  ASSERT_EQ(calls.size(), 4u);
  const uint32_t keys[] = {126, 126, 115, 115};
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].kind, FakeIndigoKind::kKeyboard);
    EXPECT_EQ(calls[i].keyCode, keys[i]);
    EXPECT_EQ(calls[i].keyEventType, i % 2 == 0 ? 10 : 11);
  }
  EXPECT_THAT(holds, ElementsAre(Hold{0.015, 1}, Hold{0.015, 3}));
}

TEST_F(InputCommandsTest, UnknownButtonNameIsEchoedAndSendsNothing) {
  EXPECT_EQ(run(handleButton, {{"udid", kTV}, {"button", "Home"}}), failure("button: unknown button 'Home'"));
  EXPECT_EQ(run(handleButton, {{"udid", kPhone}, {"button", " up"}}), failure("button: unknown button ' up'"));
  EXPECT_EQ(run(handleButton, {{"udid", kPhone}}), failure("button: missing required field(s)"));
  EXPECT_EQ(run(handleButton, {{"udid", kPhone}, {"button", 3}}), failure("button: missing required field(s)"));
  EXPECT_TRUE(indigoCalls().empty());
  EXPECT_TRUE(holds.empty());
}

TEST_F(InputCommandsTest, FailedPressSendsNoRelease) {
  // Key route: a UDID that names no device cannot get a client.
  EXPECT_EQ(run(handleButton, {{"udid", "no-such-device"}, {"button", "up"}}),
            failure("button: key-down returned -2"));
  EXPECT_EQ(log.count("[IndigoHID] ensureHIDClient failed for no-such-device"), 1u);

  // Remote and hardware routes: the first message cannot be built.
  auto& indigo = testing_support::FakeIndigo::shared();
  indigo.setReturnsNull(FakeIndigoKind::kArbitrary, true);
  indigo.setReturnsNull(FakeIndigoKind::kButton, true);
  EXPECT_EQ(run(handleButton, {{"udid", kTV}, {"button", "select"}}), failure("button: remote down returned -3"));
  EXPECT_EQ(run(handleButton, {{"udid", kTV}, {"button", "ios_home"}}), failure("button: hw down returned -3"));
  EXPECT_EQ(indigoCalls().size(), 2u);
  EXPECT_TRUE(holds.empty());
}

TEST_F(InputCommandsTest, FailedReleaseIsReportedWithItsRoute) {
  // The release fails because its message cannot be built; the press went out.
  setHoldSleeperForTesting(
      [](double) { testing_support::FakeIndigo::shared().setReturnsNull(FakeIndigoKind::kKeyboard, true); });
  EXPECT_EQ(run(handleButton, {{"udid", kPhone}, {"button", "menu"}}), failure("button: key-up returned -3"));
  EXPECT_EQ(hidClass->clients.at(0)->sent().size(), 1u);
}

TEST_F(InputCommandsTest, HwButtonWithoutOpAlwaysSendsBoth) {
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 4}}), json({{"ok", true}, {"rcDown", 0}, {"rcUp", 0}}));
  auto calls = indigoCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].op, 1u);
  EXPECT_EQ(calls[1].op, 2u);
  EXPECT_EQ(calls[0].buttonTarget, 51u);
  EXPECT_THAT(holds, ElementsAre(Hold{0.05, 1}));

  testing_support::FakeIndigo::shared().setReturnsNull(FakeIndigoKind::kButton, true);
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 4}, {"target", "21"}}),
            json({{"ok", false}, {"rcDown", -3}, {"rcUp", -3}}));
  EXPECT_EQ(indigoCalls().size(), 4u);
  EXPECT_EQ(indigoCalls().back().buttonTarget, 51u);  // a string target counts as absent
}

TEST_F(InputCommandsTest, HwButtonWithOpMakesExactlyOneCall) {
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 7}, {"op", 1}, {"target", 21}}),
            json({{"ok", true}, {"rc", 0}}));
  ASSERT_EQ(indigoCalls().size(), 1u);
  EXPECT_EQ(indigoCalls()[0].buttonTarget, 21u);
  EXPECT_EQ(indigoCalls()[0].op, 1u);
  EXPECT_EQ(run(handleHwButton, {{"udid", "no-such-device"}, {"keyCode", 7}, {"op", 2}}),
            json({{"ok", false}, {"rc", -2}}));
  EXPECT_TRUE(holds.empty());
}

TEST_F(InputCommandsTest, OutOfRangeValuesAreRefusedAndNothingIsSent) {
  const json missingHw = failure("hw_button: missing required field(s)");
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 4294967296LL}}), missingHw);
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", -1}}), missingHw);
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 1}, {"op", -1}}), missingHw);
  EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 1}, {"target", 4294967296LL}}), missingHw);
  // Beyond the signed 64-bit range too, as integers and as whole floats.
  for (const json& huge : {json(9223372036854775808ULL), json(18446744073709551615ULL), json(1e30), json(-1e19)}) {
    EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 1}, {"op", huge}}), missingHw) << huge;
    EXPECT_EQ(run(handleHwButton, {{"udid", kPhone}, {"keyCode", 1}, {"target", huge}}), missingHw) << huge;
  }
  const json missingKey = failure("keyboard: missing required field(s)");
  const json key = {{"udid", kPhone}, {"keyCode", 4}, {"modifierFlags", 0}, {"isDown", true}};
  EXPECT_EQ(run(handleKeyboard, with(key, "keyCode", 65536)), missingKey);
  EXPECT_EQ(run(handleKeyboard, with(key, "keyCode", -1)), missingKey);
  EXPECT_EQ(run(handleKeyboard, with(key, "modifierFlags", -1)), missingKey);
  EXPECT_EQ(run(handleKeyboard, with(key, "isDown", "true")), missingKey);
  const json missingTouch = failure("touch: missing required field(s)");
  const json touch = {{"udid", kPhone}, {"x", 0.5}, {"y", 0.5}, {"type", 0}};
  EXPECT_EQ(run(handleTouch, with(touch, "type", 2147483648LL)), missingTouch);
  EXPECT_EQ(run(handleTouch, with(touch, "x", "0.5")), missingTouch);
  EXPECT_TRUE(indigoCalls().empty());
  EXPECT_TRUE(hidClass->clients.empty());
}

TEST_F(InputCommandsTest, TouchAndKeyboardPassOneEventAndReportCodes) {
  EXPECT_EQ(run(handleTouch, {{"udid", kPhone}, {"x", 0.25}, {"y", 0.75}, {"type", 0}}), kOk);
  EXPECT_EQ(run(handleTouch, {{"udid", kPhone}, {"x", 0.25}, {"y", 0.75}, {"type", 7}}),
            failure("touch: sc_indigo_touch returned -4"));
  EXPECT_EQ(run(handleKeyboard, {{"udid", kPhone}, {"keyCode", 65535}, {"modifierFlags", 1}, {"isDown", false}}), kOk);
  EXPECT_EQ(run(handleKeyboard, {{"udid", "no-such-device"}, {"keyCode", 4}, {"modifierFlags", 0}, {"isDown", true}}),
            failure("keyboard: sc_indigo_keyboard returned -2"));
  auto sent = clientOf(kPhone)->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_DOUBLE_EQ(sent[0].x, 0.25);
  EXPECT_DOUBLE_EQ(sent[0].y, 0.75);
  EXPECT_EQ(sent[1].keyCode, 65535u);
  EXPECT_EQ(sent[1].keyEventType, 11);
  EXPECT_TRUE(holds.empty());
}

TEST_F(InputCommandsTest, WithTheCommandLineToolsSelectedInputFailsAsEverAndTheLogSaysWhyOnce) {
  // xcode-select naming the Command Line Tools, where no SimulatorKit is.
  const std::string tool = testing::TempDir() + "corvane-xcode-select-" + std::to_string(::getpid());
  std::ofstream(tool) << "#!/bin/sh\necho /Library/Developer/CommandLineTools\n";
  ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
  resetSimRuntimeForTesting();
  setDeveloperDirToolForTesting(tool);

  const json touch = {{"udid", kPhone}, {"x", 0.5}, {"y", 0.5}, {"type", 0}};
  EXPECT_EQ(run(handleTouch, touch), failure("touch: sc_indigo_touch returned -1"));
  EXPECT_EQ(run(handleTouch, touch), failure("touch: sc_indigo_touch returned -1"));
  EXPECT_EQ(run(handleKeyboard, {{"udid", kPhone}, {"keyCode", 4}, {"modifierFlags", 0}, {"isDown", true}}),
            failure("keyboard: sc_indigo_keyboard returned -1"));
  EXPECT_EQ(log.countContaining("is the Command Line Tools, which have no SimulatorKit"), 1u);
  EXPECT_TRUE(indigoCalls().empty());
  std::remove(tool.c_str());
}

}  // namespace
