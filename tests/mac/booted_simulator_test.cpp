// The real bridge on a booted iOS Simulator device, end to end: its stream decodes for a
// second, and a touch and a key sent through it change the picture. corvane-sim-input,
// built for the iOS Simulator, then answers inside the same device through
// `xcrun simctl spawn`.
//
// Runs on a Mac with a booted device, named by the environment:
//   CORVANE_SIMULATOR_UDID     the device's UDID (`xcrun simctl list devices booted`)
//   CORVANE_SIM_INPUT_IOS      corvane-sim-input from the "ios-simulator" preset (last test)
//   CORVANE_REQUIRE_SIMULATOR  when 1, a test that was not given what it needs fails
// Without them the tests skip, as on a developer's Mac with no device booted. The macOS
// workflow boots a device and sets all three, so there a lost device fails the job.
//
// The input is a gesture a person would make on the home screen: a swipe down opens the
// search field, and a key types into it. Both redraw a large part of the screen, far
// more than the status bar's clock or a live icon changes on its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <ratio>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/bridge_process.h"
#include "tests/support/decoded_stream.h"

namespace {

using nlohmann::json;
using testing_support::BridgeProcess;
using testing_support::DecodedFrame;
using testing_support::DecodedStream;
using namespace std::chrono_literals;

// Luma steps below this are encoder noise between two pictures of the same screen.
constexpr int kLumaNoise = 24;
// Share of the picture that must change for an input to count as seen: about 3,400
// pixels of an 886x1920 stream, many times what the clock or a live icon changes in a
// few seconds, and a small part of what the search field and its results redraw.
constexpr double kVisibleChange = 0.002;
// Touch moves closer together than the bridge's 17 ms drag spacing would be dropped.
constexpr auto kDragPacing = 25ms;
// Simulator input and animations on a shared CI machine can be slow.
constexpr auto kPictureDeadline = 15s;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// Whoever runs the tests asked for a device (CI): a missing one is a failure, not a skip.
bool deviceRequired() { return environment("CORVANE_REQUIRE_SIMULATOR") == "1"; }

// Share of pixels whose luma differs by more than noise; pictures of different sizes differ wholly.
double changedShare(const DecodedFrame& a, const DecodedFrame& b) {
  if (a.width != b.width || a.height != b.height || a.y.empty() || a.y.size() != b.y.size()) return 1.0;
  size_t changed = 0;
  for (size_t i = 0; i < a.y.size(); ++i) {
    if (std::abs(int{a.y[i]} - int{b.y[i]}) > kLumaNoise) ++changed;
  }
  return static_cast<double>(changed) / static_cast<double>(a.y.size());
}

// Without a device every test skips; the line below tells CTest so (tests/mac/CMakeLists.txt),
// while a run in which only some tests skip is judged by its failures.
class NoDeviceNotice : public testing::Environment {
 public:
  void SetUp() override {
    if (environment("CORVANE_SIMULATOR_UDID").empty() && !deviceRequired())
      std::cout << "[ ALL SKIPPED ] CORVANE_SIMULATOR_UDID names no booted simulator device" << std::endl;
  }
};
testing::Environment* const kNoDeviceNotice = testing::AddGlobalTestEnvironment(new NoDeviceNotice);

class BootedSimulator : public testing::Test {
 protected:
  void SetUp() override {
    udid_ = environment("CORVANE_SIMULATOR_UDID");
    if (udid_.empty() && deviceRequired()) GTEST_FAIL() << "CORVANE_REQUIRE_SIMULATOR is 1, but CORVANE_SIMULATOR_UDID names no device";
    if (udid_.empty()) GTEST_SKIP() << "CORVANE_SIMULATOR_UDID names no booted simulator device";
  }

  void TearDown() override {
    if (!bridge_) return;
    bridge_->closeStdin();
    EXPECT_EQ(bridge_->waitForExit(), 0);
    if (HasFailure()) printStderr(*bridge_, "bridge");
  }

  static void printStderr(const BridgeProcess& process, const char* name) {
    for (const std::string& line : process.stderrLines()) std::cerr << name << ": " << line << '\n';
  }

  // Sends one line and parses the answer (null when none came).
  static json ask(BridgeProcess& process, const std::string& line) {
    const std::optional<std::string> response = process.request(line);
    EXPECT_TRUE(response.has_value()) << "no response to " << line;
    return response ? json::parse(*response, nullptr, false) : json();
  }
  json ask(const json& request) { return ask(*bridge_, request.dump()); }

  json touch(double x, double y, int type) {
    return ask({{"cmd", "touch"}, {"udid", udid_}, {"x", x}, {"y", y}, {"type", type}});
  }

  json key(int keyCode, bool down) {
    return ask({{"cmd", "keyboard"}, {"udid", udid_}, {"keyCode", keyCode}, {"modifierFlags", 0}, {"isDown", down}});
  }

  // Waits for a picture that differs visibly from `reference` after `input` ran.
  // The watch keeps its own copy of the reference: it may still run while the test ends.
  std::optional<DecodedFrame> changedAfter(DecodedStream& stream, DecodedFrame reference,
                                           const std::function<void()>& input) {
    stream.watch([reference = std::move(reference)](const DecodedFrame& f) {
      return changedShare(f, reference) > kVisibleChange;
    });
    input();
    std::optional<DecodedStream::Match> match = stream.waitForMatch(kPictureDeadline);
    if (!match) return std::nullopt;
    return match->frame;
  }

  std::string udid_;
  std::optional<BridgeProcess> bridge_;  // started by the tests that drive the bridge
  const json ok_ = {{"ok", true}};
};

TEST_F(BootedSimulator, StreamDecodesForASecondAndTouchAndKeyChangeThePicture) {
  bridge_.emplace();
  const json started = ask({{"cmd", "start_capture"}, {"udid", udid_}});
  ASSERT_EQ(started.value("ok", false), true) << started;
  const json info = ask({{"cmd", "display_info"}});
  ASSERT_EQ(info.value("ok", false), true) << info;
  EXPECT_GT(info.value("width", 0), 0);
  EXPECT_GT(info.value("height", 0), 0);

  DecodedStream stream(started.value("port", uint16_t{0}));
  ASSERT_TRUE(stream.connected());
  const std::optional<DecodedFrame> first = stream.nextFrame();
  ASSERT_TRUE(first.has_value()) << "no picture decoded";
  EXPECT_GT(first->width, 0);
  // One second of stream: a picture arriving a second after the first, none undecodable.
  const int framesAtFirst = stream.framesDecoded();
  const auto secondLater = DecodedStream::Clock::now() + 1s;
  stream.watch([secondLater](const DecodedFrame&) { return DecodedStream::Clock::now() >= secondLater; });
  const std::optional<DecodedStream::Match> later = stream.waitForMatch();
  ASSERT_TRUE(later.has_value()) << "the stream stopped within its first second";
  EXPECT_GE(stream.framesDecoded() - framesAtFirst, 10) << "fewer than 10 pictures in a second";
  EXPECT_EQ(stream.decodeErrors(), 0);

  // A swipe down from the middle of the home screen.
  const std::optional<DecodedFrame> afterTouch = changedAfter(stream, later->frame, [&] {
    EXPECT_EQ(touch(0.5, 0.35, 0), ok_);
    for (int step = 1; step <= 8; ++step) {
      std::this_thread::sleep_for(kDragPacing);
      EXPECT_EQ(touch(0.5, 0.35 + 0.03 * step, 1), ok_);
    }
    EXPECT_EQ(touch(0.5, 0.59, 2), ok_);
  });
  ASSERT_TRUE(afterTouch.has_value()) << "the picture did not change after the touch";

  // Let the swipe's animation settle, then type "a" (macOS virtual key code 0).
  const std::optional<DecodedFrame> settled = stream.nextFrame();
  ASSERT_TRUE(settled.has_value());
  const std::optional<DecodedFrame> afterKey = changedAfter(stream, *settled, [&] {
    EXPECT_EQ(key(0, true), ok_);
    EXPECT_EQ(key(0, false), ok_);
  });
  EXPECT_TRUE(afterKey.has_value()) << "the picture did not change after the key";
  EXPECT_EQ(stream.decodeErrors(), 0);
  EXPECT_EQ(ask({{"cmd", "stop_capture"}}), ok_);
}

TEST_F(BootedSimulator, SimInputAnswersInsideTheDevice) {
  const std::string simInput = environment("CORVANE_SIM_INPUT_IOS");
  if (simInput.empty() && deviceRequired()) GTEST_FAIL() << "CORVANE_REQUIRE_SIMULATOR is 1, but CORVANE_SIM_INPUT_IOS is not set";
  if (simInput.empty()) GTEST_SKIP() << "CORVANE_SIM_INPUT_IOS names no iOS Simulator build of corvane-sim-input";

  // Keyboard page 7: usage 5 is "b", 42 backspace; the button request holds 60 ms.
  BridgeProcess input("/usr/bin/xcrun", {"simctl", "spawn", udid_, simInput});
  EXPECT_EQ(ask(input, R"({"cmd":"key","page":7,"usage":5,"down":true})"), ok_);
  EXPECT_EQ(ask(input, R"({"cmd":"key","page":7,"usage":5,"down":false})"), ok_);
  EXPECT_EQ(ask(input, R"({"cmd":"button","page":7,"usage":42})"), ok_);
  EXPECT_EQ(ask(input, R"({"cmd":"press","page":7,"usage":4})"),
            json({{"ok", false}, {"error", "unknown command 'press'"}}));
  input.closeStdin();
  EXPECT_EQ(input.waitForExit(), 0);
  if (HasFailure()) printStderr(input, "simctl spawn");
}

}  // namespace
