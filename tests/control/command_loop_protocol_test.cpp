// The line protocol of the real bridge over pipes: framing, trimming, invalid JSON,
// ordering and the exit at end of input.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/bridge_process.h"

namespace {

using testing_support::BridgeProcess;
using nlohmann::json;

const json kInvalidJson = {{"ok", false}, {"error", "invalid JSON"}};
const json kStopped = {{"ok", true}};

json parsed(const std::optional<std::string>& line) {
  EXPECT_TRUE(line.has_value()) << "no response line";
  return line ? json::parse(*line) : json();
}

// Ends input and returns everything else the bridge wrote; checks it exits with 0.
std::string finish(BridgeProcess& bridge) {
  bridge.closeStdin();
  std::string rest = bridge.readRemainingStdout();
  EXPECT_EQ(bridge.waitForExit(), 0);
  return rest;
}

TEST(CommandLoopProtocol, BlankAndWhitespaceOnlyLinesGetNoResponse) {
  BridgeProcess bridge;
  bridge.sendRaw("\n   \n\t\t\n\r\n \xC2\xA0 \xE3\x80\x80\n");
  // The response to a following command is the first line written at all.
  EXPECT_EQ(parsed(bridge.request(R"({"cmd":"stop_capture"})")), kStopped);
  EXPECT_EQ(finish(bridge), "");
}

TEST(CommandLoopProtocol, AnythingButAnObjectIsInvalidJson) {
  BridgeProcess bridge;
  for (const char* line : {"[1,2]", "[]", "42", "\"start_capture\"", "true", "null", "{\"cmd\":", "cmd=stop",
                           "{\"cmd\":\"stop_capture\"} x", "\xFF\xFE"}) {
    // Compared byte for byte: this line is fixed.
    EXPECT_EQ(bridge.request(line), R"({"error":"invalid JSON","ok":false})") << line;
  }
  EXPECT_EQ(finish(bridge), "");
}

TEST(CommandLoopProtocol, SurroundingSpaceAndCarriageReturnAreAccepted) {
  BridgeProcess bridge;
  EXPECT_EQ(parsed(bridge.request("  \t{\"cmd\":\"stop_capture\"}\t  ")), kStopped);
  EXPECT_EQ(parsed(bridge.request("{\"cmd\":\"stop_capture\"}\r")), kStopped);
  EXPECT_EQ(parsed(bridge.request("\xC2\xA0{\"cmd\":\"stop_capture\"}\xE2\x80\x83\xC2\xA0")), kStopped);
  // Only one carriage return belongs to the terminator; a line break is not trimmed as
  // space, so a second one is text, and not JSON.
  EXPECT_EQ(parsed(bridge.request("\r\r")), kInvalidJson);
  EXPECT_EQ(finish(bridge), "");
}

TEST(CommandLoopProtocol, InvalidUtf8InCommandIsEchoedAsReplacementCharacters) {
  BridgeProcess bridge;
  // A stray continuation byte, a truncated three-byte sequence and a bad lead byte.
  EXPECT_EQ(parsed(bridge.request("{\"cmd\":\"a\x80" "b\xE2\x82" "c\xFF\"}")),
            (json{{"ok", false}, {"error", "unknown command 'a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD'"}}));
  EXPECT_EQ(finish(bridge), "");
}

TEST(CommandLoopProtocol, BurstOfCommandsIsAnsweredInOrder) {
  BridgeProcess bridge;
  bridge.sendRaw("{\"cmd\":\"stop_capture\"}\n[]\n{\"cmd\":\"nope\"}\n");
  EXPECT_EQ(parsed(bridge.readLine()), kStopped);
  EXPECT_EQ(parsed(bridge.readLine()), kInvalidJson);
  EXPECT_EQ(parsed(bridge.readLine()), (json{{"ok", false}, {"error", "unknown command 'nope'"}}));
  EXPECT_EQ(finish(bridge), "");
}

TEST(CommandLoopProtocol, LastLineWithoutLineFeedIsAnsweredThenExitZero) {
  BridgeProcess bridge;
  bridge.sendRaw("{\"cmd\":\"stop_capture\"}\n{\"cmd\":\"stop_remote_stream\"}");
  EXPECT_EQ(finish(bridge), "{\"ok\":true}\n{\"ok\":true}\n");
}

TEST(CommandLoopProtocol, ExitsAtOnceAtEndOfInputWhileServersAndClientsAreLive) {
  BridgeProcess bridge;
  const json started = parsed(bridge.request(R"({"cmd":"start_remote_stream","bitrate":1000000,"maxDim":720})"));
  ASSERT_TRUE(started.value("ok", false)) << started;
  testing_support::TcpClient client(started["port"].get<uint16_t>());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(finish(bridge), "");
  EXPECT_TRUE(client.waitForPeerClose());
}

TEST(CommandLoopProtocol, ClosedStandardOutputDoesNotStopTheBridge) {
  BridgeProcess bridge;
  ASSERT_TRUE(bridge.request(R"({"cmd":"stop_capture"})").has_value());
  // Nobody reads the responses any more; the bridge must keep reading commands and
  // still leave with status 0 at end of input.
  bridge.closeStdout();
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(bridge.sendLine(R"({"cmd":"stop_capture"})"));
  bridge.closeStdin();
  EXPECT_EQ(bridge.waitForExit(), 0);
}

}  // namespace
