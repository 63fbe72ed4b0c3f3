// The real bridge's command loop under a long run of hostile input while it captures,
// and with its standard output closed by the reader.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/soak/soak_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::BridgeProcess;

const char* const kCommands[] = {"start_capture", "display_info", "refresh_display", "stop_capture",
                                 "start_remote_stream", "set_stream_params", "stop_remote_stream", "touch",
                                 "keyboard", "hw_button", "button", "", "START_CAPTURE", "nope"};
const char* const kFields[] = {"udid", "x", "y", "type", "keyCode", "modifierFlags", "isDown", "button",
                               "target", "op", "bitrate", "maxDim", "fps", "cmd", "extra"};

json randomValue(std::mt19937& random, int depth = 0) {
  switch (random() % (depth < 2 ? 10 : 8)) {
    case 0: return static_cast<int64_t>(random()) - (1ll << 31);
    case 1: return static_cast<int64_t>(random() % 4);
    case 2: return static_cast<double>(random()) / 1e9 - 1.0;
    case 3: return random() % 2 == 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    case 4: return random() % 2 == 0 ? std::string(soak::kPhone) : std::string("not-a-device");
    case 5: return std::string(random() % 3 == 0 ? "menu" : "\xC3\xA9\xE2\x80\x83x");
    case 6: return random() % 2 == 0;
    case 7: return nullptr;
    case 8: return json::array({randomValue(random, depth + 1), randomValue(random, depth + 1)});
    default: return json{{"k", randomValue(random, depth + 1)}};
  }
}

// One hostile line that is never empty or blank: random bytes (NUL and invalid UTF-8
// included), a JSON object with a random command and random fields, or a cut-off one.
std::string randomLine(std::mt19937& random) {
  const int kind = static_cast<int>(random() % 3);
  if (kind == 0) {
    std::string line(1, static_cast<char>('!' + random() % 90));
    const size_t length = random() % 120;
    for (size_t i = 0; i < length; ++i) {
      char byte = static_cast<char>(random() % 256);
      if (byte == '\n') byte = '#';
      line += byte;
    }
    return line;
  }
  json object;
  if (random() % 8 != 0) object["cmd"] = kCommands[random() % std::size(kCommands)];
  const int fields = static_cast<int>(random() % 6);
  for (int i = 0; i < fields; ++i) object[kFields[random() % std::size(kFields)]] = randomValue(random);
  std::string line = object.dump();
  if (kind == 2) line.resize(1 + random() % line.size());
  return line;
}

TEST(CommandSoak, RandomLinesAmongValidOnesAreEachAnsweredInOrderWhileCapturing) {
  const int randomLines = 1000 / soak::kSanitizerDivisor;
  BridgeProcess bridge;
  ASSERT_NE(soak::startCapture(bridge, soak::kPhone), 0);

  // Every fourth line is a valid command whose answer is known; a marker (an unknown
  // command with a counter) ties each stretch of answers to its place in the input.
  std::mt19937 random(424242);
  std::vector<std::string> lines;
  std::vector<std::optional<json>> expected;
  const std::string touch = std::string(R"({"cmd":"touch","udid":")") + soak::kPhone + R"(","x":0.5,"y":0.5,"type":)";
  for (int i = 0; i < randomLines; ++i) {
    lines.push_back(randomLine(random));
    expected.emplace_back();
    if (i % 3 != 2) continue;
    const std::string marker = "probe-" + std::to_string(i);
    lines.push_back(R"({"cmd":")" + marker + "\"}");
    expected.push_back(json{{"ok", false}, {"error", "unknown command '" + marker + "'"}});
    lines.push_back(touch + (i % 2 == 0 ? "0}" : "2}"));
    expected.push_back(json{{"ok", true}});
  }
  lines.push_back(R"({"cmd":"stop_capture"})");
  expected.push_back(json{{"ok", true}});

  // Written from another thread so neither pipe can fill up while the other waits.
  std::thread writer([&] {
    for (const auto& line : lines) {
      if (!bridge.sendLine(line)) return;
    }
  });
  size_t answered = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto response = bridge.readLine();
    if (!response) break;
    ++answered;
    const json parsed = soak::parsedResponse(response);
    ASSERT_TRUE(parsed.is_object() && parsed.contains("ok") && parsed["ok"].is_boolean())
        << "line " << i << " got " << *response;
    if (expected[i]) {
      EXPECT_EQ(parsed, *expected[i]) << "line " << i << ": " << lines[i];
    }
  }
  writer.join();
  EXPECT_EQ(answered, lines.size());
  bridge.closeStdin();
  EXPECT_EQ(bridge.readRemainingStdout(), "");
  EXPECT_EQ(bridge.waitForExit(), 0);
}

TEST(CommandSoak, ClosedStandardOutputWhileStreamingKeepsTheBridgeGoingToAnOrderlyExit) {
  BridgeProcess bridge;
  const uint16_t port = soak::startCapture(bridge, soak::kPhone);
  ASSERT_NE(port, 0);
  const json remote =
      soak::parsedResponse(bridge.request(R"({"cmd":"start_remote_stream","bitrate":500000,"maxDim":480})"));
  ASSERT_TRUE(remote.value("ok", false)) << remote;
  soak::StreamReader watcher(port);
  ASSERT_TRUE(watcher.waitForMoreThan(0));

  bridge.closeStdout();
  const std::string touch = std::string(R"({"cmd":"touch","udid":")") + soak::kPhone + R"(","x":0.3,"y":0.6,"type":)";
  for (int i = 0; i < 300; ++i) {
    switch (i % 6) {
      case 0: ASSERT_TRUE(bridge.sendLine(touch + "0}")); break;
      case 1: ASSERT_TRUE(bridge.sendLine(touch + "2}")); break;
      case 2: ASSERT_TRUE(bridge.sendLine(R"({"cmd":"display_info"})")); break;
      case 3: ASSERT_TRUE(bridge.sendLine("not json")); break;
      case 4: ASSERT_TRUE(bridge.sendLine(R"({"cmd":"set_stream_params","bitrate":400000,"maxDim":320})")); break;
      default: ASSERT_TRUE(bridge.sendLine(R"({"cmd":"refresh_display"})")); break;
    }
  }
  // Still capturing and streaming after all those failed response writes.
  const size_t before = watcher.size();
  EXPECT_TRUE(watcher.waitForMoreThan(before));
  EXPECT_TRUE(bridge.running());
  ASSERT_TRUE(bridge.sendLine(R"({"cmd":"stop_capture"})"));
  bridge.closeStdin();
  // 50 of the queued lines are touch DOWNs, each of which may wait up to 500 ms.
  EXPECT_EQ(bridge.waitForExit(std::chrono::seconds(60)), 0);
  watcher.stop();
  const soak::StreamCheck check = soak::checkStream(watcher.bytes());
  EXPECT_EQ(check.decodeErrors, 0) << check.firstProblem;
}

}  // namespace
