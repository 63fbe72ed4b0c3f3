// The two process-wide hubs and their frame callbacks.
#include "bridge/streaming/stream_hubs.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/streaming/stream_server.h"
#include "tests/streaming/stream_test_util.h"
#include "tests/support/bridge_process.h"

namespace {

using stream_test::accessUnit;
using stream_test::asString;
using stream_test::eventually;
using testing_support::TcpClient;

std::atomic<int> g_localKeyframes{0};
std::atomic<int> g_remoteKeyframes{0};

TEST(StreamHubs, EachCallbackFeedsItsOwnHubAndKeyframeAction) {
  std::signal(SIGPIPE, SIG_IGN);
  createStreamHubs([] { g_localKeyframes.fetch_add(1); }, [] { g_remoteKeyframes.fetch_add(1); });
  const StreamServerStart local = startStreamServer(streamHub);
  const StreamServerStart remote = startStreamServer(remoteHub);
  ASSERT_FALSE(local.error || remote.error);
  TcpClient localClient(local.port), remoteClient(remote.port);
  ASSERT_TRUE(eventually([] { return streamHub->clients().size() == 1 && remoteHub->clients().size() == 1; }));
  EXPECT_TRUE(eventually([] { return g_localKeyframes.load() == 1 && g_remoteKeyframes.load() == 1; }));

  const auto localUnit = accessUnit(700, 1);
  const auto remoteUnit = accessUnit(500, 2);
  frameCallback(localUnit.data(), localUnit.size());
  remoteFrameCallback(remoteUnit.data(), remoteUnit.size());
  EXPECT_EQ(localClient.readExactly(localUnit.size()), asString(localUnit));
  EXPECT_EQ(remoteClient.readExactly(remoteUnit.size()), asString(remoteUnit));

  // A null remote pointer is ignored whatever length comes with it.
  remoteFrameCallback(nullptr, 4096);
  remoteFrameCallback(nullptr, 0);
  EXPECT_EQ(remoteHub->clients().size(), 1u);
  remoteFrameCallback(remoteUnit.data(), remoteUnit.size());
  EXPECT_EQ(remoteClient.readExactly(remoteUnit.size()), asString(remoteUnit));
  EXPECT_EQ(localClient.readUntilQuiet(std::chrono::milliseconds(50)), "");
}

}  // namespace
