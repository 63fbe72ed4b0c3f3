// The capture and stream commands end to end: the real bridge on the virtual simulator,
// its stream servers read by loopback clients.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/bridge_process.h"
#include "tests/support/h264_decoder.h"

namespace {

using nlohmann::json;
using testing_support::BridgeProcess;
using testing_support::TcpClient;

constexpr const char* kPhone = "7E57DE71-CE00-4000-8000-000000000001";

bool hasNal(const std::string& bytes, int type) {
  for (const auto& nal : testing_support::splitNalUnits(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) {
    if (nal.type == type) return true;
  }
  return false;
}

// Reads until the stream holds an IDR slice, or gives up after the deadline.
std::string readUntilKeyframe(TcpClient& client) {
  std::string bytes;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!hasNal(bytes, testing_support::kNalIdrSlice) && std::chrono::steady_clock::now() < end) {
    const std::string more = client.readUntilQuiet(std::chrono::milliseconds(500), std::chrono::milliseconds(2000));
    bytes += more;
  }
  return bytes;
}

class StreamCommandsProtocol : public testing::Test {
 protected:
  json ask(const json& request) {
    const std::optional<std::string> line = bridge_.request(request.dump());
    EXPECT_TRUE(line.has_value()) << request;
    return line ? json::parse(*line) : json();
  }
  uint16_t startCapture() {
    const json response = ask({{"cmd", "start_capture"}, {"udid", kPhone}});
    EXPECT_EQ(response.value("ok", false), true) << response;
    return response.value("port", uint16_t{0});
  }
  void TearDown() override {
    bridge_.closeStdin();
    EXPECT_EQ(bridge_.waitForExit(), 0);
  }
  BridgeProcess bridge_;
};

TEST_F(StreamCommandsProtocol, EveryStartCaptureAnswersWithTheOneLocalServer) {
  const uint16_t first = startCapture();
  TcpClient early(first);
  ASSERT_TRUE(early.connected());
  const std::string opening = readUntilKeyframe(early);
  ASSERT_TRUE(hasNal(opening, testing_support::kNalIdrSlice));
  EXPECT_EQ(opening.substr(0, 4), std::string("\0\0\0\1", 4));  // starts at an access unit

  const uint16_t second = startCapture();
  EXPECT_EQ(second, first);
  EXPECT_EQ(bridge_.countListeningSockets(), 1);
  TcpClient late(second);
  ASSERT_TRUE(late.connected());
  const std::string lateBytes = readUntilKeyframe(late);
  EXPECT_TRUE(hasNal(lateBytes, testing_support::kNalSps));
  EXPECT_EQ(lateBytes.substr(0, 4), std::string("\0\0\0\1", 4));
  // The first client was not disturbed by the second capture start.
  EXPECT_FALSE(early.readExactly(1000).empty());

  const json info = ask({{"cmd", "display_info"}});
  EXPECT_EQ(info.value("ok", false), true) << info;
  EXPECT_EQ(info.value("width", 0), 1179);

  // Stopping capture leaves servers and clients connected; the stream just pauses.
  EXPECT_EQ(ask({{"cmd", "stop_capture"}}), json({{"ok", true}}));
  early.readUntilQuiet(std::chrono::milliseconds(500));
  EXPECT_EQ(early.readUntilQuiet(std::chrono::milliseconds(300)), "");
  EXPECT_FALSE(early.waitForPeerClose(std::chrono::milliseconds(200)));
  EXPECT_EQ(bridge_.countListeningSockets(), 1);
  EXPECT_EQ(startCapture(), first);
  EXPECT_FALSE(early.readExactly(100).empty());
}

TEST_F(StreamCommandsProtocol, RemoteClientsStayConnectedAcrossStopAndRestart) {
  startCapture();
  const json started = ask({{"cmd", "start_remote_stream"}, {"bitrate", 800000}, {"maxDim", 640}, {"fps", 15}});
  ASSERT_EQ(started.value("ok", false), true) << started;
  const uint16_t port = started["port"].get<uint16_t>();
  TcpClient remote(port);
  ASSERT_TRUE(remote.connected());
  EXPECT_TRUE(hasNal(readUntilKeyframe(remote), testing_support::kNalIdrSlice));

  EXPECT_EQ(ask({{"cmd", "stop_remote_stream"}}), json({{"ok", true}}));
  EXPECT_EQ(ask({{"cmd", "start_remote_stream"}, {"bitrate", 400000}, {"maxDim", 320}}),
            json({{"ok", true}, {"port", port}}));
  EXPECT_FALSE(remote.readExactly(100).empty());
}

}  // namespace
