// Long runs of the real bridge's streams under client churn, stalled clients and remote
// stream restarts: descriptors come back, watchers lose nothing, every picture decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/soak/soak_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::BridgeProcess;
using testing_support::TcpClient;

// Checks that every access unit of `stream` decodes, and that there are at least
// `minimumUnits` of them; returns the check.
soak::StreamCheck expectCleanStream(const std::string& stream, size_t minimumUnits) {
  const soak::StreamCheck check = soak::checkStream(stream);
  EXPECT_GE(check.accessUnits, minimumUnits);
  EXPECT_EQ(check.decodedFrames, check.accessUnits) << check.firstProblem;
  EXPECT_EQ(check.decodeErrors, 0) << check.firstProblem;
  EXPECT_EQ(check.keyframesWithoutParameterSets, 0) << check.firstProblem;
  return check;
}

// As expectCleanStream, with no access unit lost after the first keyframe either.
void expectWholeStream(const std::string& stream, size_t minimumUnits) {
  const soak::StreamCheck check = expectCleanStream(stream, minimumUnits);
  EXPECT_EQ(check.frameNumberGaps, 0) << check.firstProblem;
}

// Ends the bridge's input and expects it to exit cleanly.
void expectCleanExit(BridgeProcess& bridge) {
  bridge.closeStdin();
  EXPECT_EQ(bridge.waitForExit(), 0);
}

TEST(StreamSoak, ClientChurnLeaksNoDescriptorAndLosesNothingForASteadyClient) {
  const int cycles = 500 / soak::kSanitizerDivisor;
  BridgeProcess bridge;
  const uint16_t port = soak::startCapture(bridge, soak::kAnimatedPhone);
  ASSERT_NE(port, 0);
  soak::StreamReader steady(port);
  ASSERT_TRUE(steady.connected());
  ASSERT_TRUE(steady.waitForMoreThan(0));
  const int startDescriptors = soak::countOpenDescriptors(bridge.pid());
  ASSERT_GT(startDescriptors, 0);

  for (int i = 0; i < cycles; ++i) {
    TcpClient client(port);
    ASSERT_TRUE(client.connected()) << "cycle " << i;
    // Some clients take a little of the stream before they leave, so clients are dropped
    // both mid-stream and before their first byte.
    if (i % 25 == 0) client.readExactly(1, 2s);
  }
  const size_t afterChurn = steady.size();
  // The last departures may still be on their way through the bridge's drainer.
  const auto end = std::chrono::steady_clock::now() + testing_support::kDefaultDeadline;
  int descriptors = soak::countOpenDescriptors(bridge.pid());
  while (descriptors != startDescriptors && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(20ms);
    descriptors = soak::countOpenDescriptors(bridge.pid());
  }
  EXPECT_EQ(descriptors, startDescriptors);
  ASSERT_TRUE(steady.waitForMoreThan(afterChurn));
  ASSERT_TRUE(steady.waitForAccessUnits(10));
  steady.stop();

  expectWholeStream(steady.bytes(), 10);
  expectCleanExit(bridge);
}

TEST(StreamSoak, ClientThatShutsDownItsSendingSideIsClosedWhileStreamingWithNobodyConnecting) {
  for (const char* udid : {soak::kPhone, soak::kAnimatedPhone}) {
    BridgeProcess bridge;
    const uint16_t port = soak::startCapture(bridge, udid);
    ASSERT_NE(port, 0);
    TcpClient client(port);
    ASSERT_EQ(client.readExactly(1).size(), 1u) << udid;  // the stream reaches it
    ASSERT_EQ(::shutdown(client.fd(), SHUT_WR), 0);
    // Frames keep flowing to the half-closed socket until the bridge closes it.
    EXPECT_TRUE(client.waitForPeerClose()) << udid;
    expectCleanExit(bridge);
  }
}

TEST(StreamSoak, ClientsThatNeverReadDoNotHoldUpWatchersOrStopCapture) {
  BridgeProcess bridge;
  const uint16_t port = soak::startCapture(bridge, soak::kAnimatedPhone);
  ASSERT_NE(port, 0);
  soak::StreamReader first(port);
  soak::StreamReader second(port);
  ASSERT_TRUE(first.waitForMoreThan(0));
  ASSERT_TRUE(second.waitForMoreThan(0));

  // New stalled clients keep arriving, so one is always filling up or being waited on.
  std::vector<std::unique_ptr<soak::StalledClient>> stalled;
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 3; ++i) {
      stalled.push_back(std::make_unique<soak::StalledClient>(port));
      ASSERT_TRUE(stalled.back()->connected());
    }
    const size_t firstBefore = first.size();
    const size_t secondBefore = second.size();
    EXPECT_TRUE(first.waitForMoreThan(firstBefore)) << "round " << round;
    EXPECT_TRUE(second.waitForMoreThan(secondBefore)) << "round " << round;
  }
  // Each watcher has a decodable stream before the stop, however the stalls fell.
  EXPECT_TRUE(first.waitForAccessUnits(3));
  EXPECT_TRUE(second.waitForAccessUnits(3));
  stalled.push_back(std::make_unique<soak::StalledClient>(port));
  std::this_thread::sleep_for(100ms);  // lets the keyframe for the last one go out

  const auto asked = std::chrono::steady_clock::now();
  const auto response = bridge.request(R"({"cmd":"stop_capture"})", 3000ms);
  ASSERT_TRUE(response.has_value()) << "stop_capture took more than 3 s";
  EXPECT_EQ(soak::parsedResponse(response), (json{{"ok", true}}));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);

  first.stop();
  second.stop();
  // Sanitizer builds on a busy machine may deliver only a few pictures meanwhile.
  expectCleanStream(first.bytes(), 3);
  expectCleanStream(second.bytes(), 3);
  expectCleanExit(bridge);
}

// Whole access units in `stream` from its first keyframe on (the last may be partial).
size_t unitsFromKeyframe(const std::string& stream) {
  auto units = testing_support::splitAccessUnits(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
  const auto keyframe = std::find_if(units.begin(), units.end(),
                                     [](const auto& unit) { return testing_support::inspectAccessUnit(unit).hasIdr; });
  return units.end() == keyframe ? 0 : static_cast<size_t>(units.end() - keyframe - 1);
}

size_t droppedClientLines(const BridgeProcess& bridge) {
  size_t count = 0;
  for (const std::string& line : bridge.stderrLines()) count += line.find("[Stream] dropped client ") != std::string::npos;
  return count;
}

TEST(StreamSoak, FourClientsThatNeverReadAreDroppedWhileAWatcherLosesNothing) {
  BridgeProcess bridge;
  const uint16_t port = soak::startCapture(bridge, soak::kAnimatedPhone);
  ASSERT_NE(port, 0);
  soak::StreamReader watcher(port);
  ASSERT_TRUE(watcher.waitForAccessUnits(3));
  // Ordinary clients that stop reading at once: the bridge has to fill their socket
  // buffers and then their backlogs before it gives up on them.
  std::vector<std::unique_ptr<TcpClient>> stalled;
  for (int i = 0; i < 4; ++i) stalled.push_back(std::make_unique<TcpClient>(port));
  ASSERT_TRUE(testing_support::eventually([&] { return droppedClientLines(bridge) >= 4; }));
  for (auto& client : stalled) EXPECT_TRUE(client->waitForPeerClose());
  const size_t units = watcher.accessUnits();
  ASSERT_TRUE(watcher.waitForAccessUnits(units + 10));
  EXPECT_EQ(droppedClientLines(bridge), 4u);  // the watcher was never dropped
  watcher.stop();

  expectWholeStream(watcher.bytes(), units + 10);
  expectCleanExit(bridge);
}

TEST(StreamSoak, ClientThatPausesASecondThenReadsGetsEveryAccessUnitAndDecodes) {
  BridgeProcess bridge;
  const uint16_t port = soak::startCapture(bridge, soak::kAnimatedPhone);
  ASSERT_NE(port, 0);
  TcpClient client(port);
  ASSERT_TRUE(client.connected());
  std::string received;
  ASSERT_TRUE(testing_support::eventually([&] {
    received += client.readUntilQuiet(10ms, 200ms);
    return unitsFromKeyframe(received) >= 2;
  }));
  // The pause under test, then reading on for a few seconds; neither is a wait for
  // something to happen.
  std::this_thread::sleep_for(1s);
  for (const auto end = std::chrono::steady_clock::now() + 4s; std::chrono::steady_clock::now() < end;) {
    received += client.readUntilQuiet(10ms, 100ms);
  }
  EXPECT_EQ(droppedClientLines(bridge), 0u);
  client.close();  // before the slow check, which would leave it unread for long

  expectWholeStream(received, 10);
  expectCleanExit(bridge);
}

TEST(StreamSoak, RemoteStreamRestartsAndRetunesKeepEveryAccessUnitDecodable) {
  const int operations = 60 / soak::kSanitizerDivisor;
  BridgeProcess bridge;
  ASSERT_NE(soak::startCapture(bridge, soak::kAnimatedPhone), 0);
  auto start = [&](int bitrate, int maxDim, int fps) {
    return soak::parsedResponse(bridge.request("{\"cmd\":\"start_remote_stream\",\"bitrate\":" +
                                               std::to_string(bitrate) + ",\"maxDim\":" + std::to_string(maxDim) +
                                               ",\"fps\":" + std::to_string(fps) + "}"));
  };
  const json started = start(1000000, 640, 30);
  ASSERT_TRUE(started.value("ok", false)) << started;
  const uint16_t port = started["port"].get<uint16_t>();
  soak::StreamReader remote(port);
  ASSERT_TRUE(remote.waitForMoreThan(0));

  std::mt19937 random(20261209);
  const int dims[] = {240, 320, 480, 640, 720, 1280};
  const int fpsChoices[] = {5, 15, 24, 30, 60};
  for (int i = 0; i < operations; ++i) {
    const int bitrate = 200000 + static_cast<int>(random() % 4000000);
    const int maxDim = dims[random() % std::size(dims)];
    const int fps = fpsChoices[random() % std::size(fpsChoices)];
    json response;
    switch (random() % 4) {
      case 0:
        response = soak::parsedResponse(bridge.request(R"({"cmd":"stop_remote_stream"})"));
        break;
      case 1:
        response = start(bitrate, maxDim, fps);
        if (response.value("ok", false)) {
          EXPECT_EQ(response["port"], port);
        }
        break;
      default:
        response = soak::parsedResponse(bridge.request(
            "{\"cmd\":\"set_stream_params\",\"bitrate\":" + std::to_string(bitrate) + ",\"maxDim\":" +
            std::to_string(maxDim) + ",\"fps\":" + std::to_string(fps) + "}"));
        break;
    }
    EXPECT_TRUE(response.value("ok", false)) << "operation " << i << ": " << response;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
  }
  // Slow frame rates and stops may have let only a few pictures through, so the stream
  // ends with a known setting and enough pictures to check.
  ASSERT_TRUE(start(800000, 480, 30).value("ok", false));
  ASSERT_TRUE(remote.waitForAccessUnits(remote.accessUnits() + 10));
  EXPECT_EQ(soak::parsedResponse(bridge.request(R"({"cmd":"stop_remote_stream"})")), (json{{"ok", true}}));
  remote.stop();

  expectCleanStream(remote.bytes(), 10);
  expectCleanExit(bridge);
}

}  // namespace
