// The dispatcher in-process: stream server start failures as the client sees them, the
// remote port's life, and the remote parameters.
#include "bridge/control/dispatcher.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/control/response.h"
#include "bridge/streaming/stream_hubs.h"
#include "bridge/streaming/stream_server.h"
#include "tests/support/bridge_process.h"
#include "tests/support/eventually.h"

namespace {

using nlohmann::json;

class DispatcherTest : public testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    resetStreamHubsForTesting();
    resetDispatcherStateForTesting();
    setResponseSinkForTesting([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override {
    setResponseSinkForTesting({});
    setStreamServerSocketOpsForTesting(defaultStreamServerSocketOps());
  }
  json ask(const json& request) {
    lines_.clear();
    dispatch(request);
    EXPECT_EQ(lines_.size(), 1u);
    return lines_.empty() ? json() : json::parse(lines_.back());
  }
  static void failBind() {
    StreamServerSocketOps ops = defaultStreamServerSocketOps();
    ops.bind = [](int, const struct sockaddr*, socklen_t) { return errno = EADDRINUSE, -1; };
    setStreamServerSocketOpsForTesting(ops);
  }

  std::vector<std::string> lines_;
};

TEST_F(DispatcherTest, ServerStartFailureCarriesTheSimBridgeErrorText) {
  failBind();
  EXPECT_EQ(ask({{"cmd", "start_capture"}, {"udid", "x"}}),
            (json{{"ok", false},
                  {"error", "start_capture: failed to start stream server: Error Domain=SimBridge Code=2 "
                            "\"bind() failed\" UserInfo={NSLocalizedDescription=bind() failed}"}}));
  EXPECT_EQ(ask({{"cmd", "start_remote_stream"}, {"bitrate", 1}, {"maxDim", 2}}),
            (json{{"ok", false},
                  {"error", "start_remote_stream: failed to start stream server: Error Domain=SimBridge Code=2 "
                            "\"bind() failed\" UserInfo={NSLocalizedDescription=bind() failed}"}}));
}

TEST_F(DispatcherTest, FailedRemoteServerStartIsRetriedByTheNextCommand) {
  failBind();
  EXPECT_EQ(ask({{"cmd", "start_remote_stream"}, {"bitrate", 1}, {"maxDim", 2}})["ok"], false);
  setStreamServerSocketOpsForTesting(defaultStreamServerSocketOps());
  const json started = ask({{"cmd", "start_remote_stream"}, {"bitrate", 1}, {"maxDim", 2}});
  ASSERT_EQ(started["ok"], true);
  // Once a port exists it is kept, even when servers could no longer be started.
  failBind();
  EXPECT_EQ(ask({{"cmd", "start_remote_stream"}, {"bitrate", 1}, {"maxDim", 2}}), started);
}

TEST_F(DispatcherTest, ServerThatHasEndedIsReplacedByTheNextCommand) {
  const json start = {{"cmd", "start_remote_stream"}, {"bitrate", 1}, {"maxDim", 2}};
  // A server whose listening socket turns unusable at its first accept. Its own port is
  // watched rather than the process's count of listening sockets: a server of an earlier
  // test whose thread has not reached its first accept yet would take these operations
  // too and close its socket as well.
  StreamServerSocketOps ops = defaultStreamServerSocketOps();
  ops.accept = [](int, struct sockaddr*, socklen_t*) { return errno = EBADF, -1; };
  setStreamServerSocketOpsForTesting(ops);
  const json ended = ask(start);
  ASSERT_EQ(ended["ok"], true);
  ASSERT_TRUE(testing_support::eventually(
      [&] { return !testing_support::TcpClient(ended["port"].get<uint16_t>()).connected(); }));

  setStreamServerSocketOpsForTesting(defaultStreamServerSocketOps());
  const json replaced = ask(start);
  ASSERT_EQ(replaced["ok"], true);
  testing_support::TcpClient client(replaced["port"].get<uint16_t>());
  EXPECT_TRUE(client.connected());
  EXPECT_TRUE(testing_support::eventually([] { return remoteHub->clients().size() == 1; }));
  EXPECT_EQ(ask(start), replaced);  // a live server is kept
}

TEST(RemoteParams, ClampsIntoSigned32BitsAndDefaultsFps) {
  const auto params = remoteParams(json::parse(R"({"bitrate":1e12,"maxDim":-99999999999,"fps":"20"})"));
  ASSERT_TRUE(params);
  EXPECT_EQ(params->bitrate, INT32_MAX);
  EXPECT_EQ(params->maxDim, INT32_MIN);
  EXPECT_EQ(params->fps, 30);
  const auto exact = remoteParams(json::parse(R"({"bitrate":2147483647,"maxDim":-2147483648,"fps":2147483648})"));
  ASSERT_TRUE(exact);
  EXPECT_EQ(exact->bitrate, INT32_MAX);
  EXPECT_EQ(exact->maxDim, INT32_MIN);
  EXPECT_EQ(exact->fps, INT32_MAX);
  EXPECT_FALSE(remoteParams(json::parse(R"({"bitrate":1,"maxDim":true})")));
  EXPECT_FALSE(remoteParams(json::parse(R"({"maxDim":1})")));
}

TEST(ReturnedMessage, AppendsTheCodeInPlainDecimal) {
  EXPECT_EQ(returnedMessage("x: y returned ", -3), "x: y returned -3");
  EXPECT_EQ(returnedMessage("x: y returned ", 7), "x: y returned 7");
  EXPECT_EQ(returnedMessage("x: y returned ", INT32_MIN), "x: y returned -2147483648");
}

}  // namespace
