// StreamHub on real loopback sockets: fan-out, dropping dead and stalled clients.
#include "bridge/streaming/stream_hub.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "bridge/streaming/stream_server.h"
#include "tests/streaming/stream_test_util.h"
#include "tests/support/bridge_process.h"

namespace {

using stream_test::accessUnit;
using stream_test::asString;
using stream_test::eventually;
using testing_support::TcpClient;

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// A client socket with a 4 KB receive window, so that the hub's writes to it stall soon
// once it stops reading. -1 when it cannot connect.
int connectWithSmallWindow(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const int window = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class StreamHubTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }  // as the bridge does

  // Starts a server for hub_ and connects `count` clients, waiting until all joined.
  // Called once per test.
  std::vector<std::unique_ptr<TcpClient>> connect(size_t count) {
    if (port_ == 0) {
      const StreamServerStart server = startStreamServer(hub_);
      EXPECT_FALSE(server.error.has_value());
      port_ = server.port;
    }
    std::vector<std::unique_ptr<TcpClient>> clients;
    for (size_t i = 0; i < count; ++i) {
      clients.push_back(std::make_unique<TcpClient>(port_));
      EXPECT_TRUE(clients.back()->connected());
    }
    EXPECT_TRUE(eventually([&] { return hub_->clients().size() == count; }));
    // The keyframe action runs after the join; wait for it too, so that no accept
    // thread still touches the fixture when the test ends.
    EXPECT_TRUE(eventually([&] { return keyframes_.load() >= static_cast<int>(count); }));
    return clients;
  }

  std::atomic<int> keyframes_{0};
  std::shared_ptr<StreamHub> hub_ = std::make_shared<StreamHub>([this] { keyframes_.fetch_add(1); });
  uint16_t port_ = 0;
};

TEST_F(StreamHubTest, ClientsReceiveByteIdenticalDataFromTheirFirstBroadcast) {
  auto clients = connect(2);
  std::string sent;
  for (uint8_t seed = 0; seed < 20; ++seed) {
    const auto unit = accessUnit(1000 + seed * 97, seed);
    hub_->broadcast(unit);
    sent += asString(unit);
  }
  EXPECT_EQ(clients[0]->readExactly(sent.size()), sent);
  EXPECT_EQ(clients[1]->readExactly(sent.size()), sent);
  // Nothing was sent on connect and nothing follows the last unit.
  EXPECT_EQ(clients[0]->readUntilQuiet(std::chrono::milliseconds(50)), "");
}

TEST_F(StreamHubTest, EachAcceptedClientRequestsOneKeyframeAfterJoining) {
  std::atomic<bool> joinedFirst{true};
  hub_ = std::make_shared<StreamHub>([this, &joinedFirst] {
    const int count = keyframes_.fetch_add(1) + 1;
    if (hub_->clients().size() < static_cast<size_t>(count)) joinedFirst = false;
  });
  auto clients = connect(3);
  EXPECT_TRUE(eventually([&] { return keyframes_.load() >= 3; }));
  EXPECT_EQ(keyframes_.load(), 3);
  EXPECT_TRUE(joinedFirst.load());
}

TEST_F(StreamHubTest, ClosedClientIsDroppedAndClosedWhileOthersMissNothing) {
  auto clients = connect(2);
  const std::vector<int> before = hub_->clients();
  ASSERT_EQ(before.size(), 2u);
  clients[1]->close();

  std::string sent;
  uint8_t seed = 0;
  // The first write to a closed peer may still succeed; a later one fails.
  ASSERT_TRUE(eventually([&] {
    const auto unit = accessUnit(4096, seed++);
    hub_->broadcast(unit);
    sent += asString(unit);
    return hub_->clients().size() == 1;
  }));
  EXPECT_EQ(hub_->clients(), std::vector<int>{before[0]});
  EXPECT_FALSE(isOpen(before[1]));
  EXPECT_EQ(clients[0]->readExactly(sent.size()), sent);
}

TEST_F(StreamHubTest, EmptyBroadcastWritesNothingAndDropsNobody) {
  auto clients = connect(2);
  clients[1]->close();
  for (int i = 0; i < 5; ++i) hub_->broadcast({});
  EXPECT_EQ(hub_->clients().size(), 2u);

  const auto unit = accessUnit(300, 9);
  hub_->broadcast(unit);
  EXPECT_EQ(clients[0]->readExactly(unit.size()), asString(unit));
}

TEST_F(StreamHubTest, AcceptedClientsCarryTheSendTimeOut) {
  auto clients = connect(1);
  struct timeval timeout{};
  socklen_t length = sizeof timeout;
  ASSERT_EQ(::getsockopt(hub_->clients()[0], SOL_SOCKET, SO_SNDTIMEO, &timeout, &length), 0);
  EXPECT_EQ(timeout.tv_sec, kClientSendTimeoutSeconds);
  EXPECT_EQ(timeout.tv_usec, 0);
}

TEST_F(StreamHubTest, ClientThatStopsReadingIsDroppedAndOthersContinue) {
  auto clients = connect(2);
  const int stalled = hub_->clients()[1];
  // The stalled client keeps its connection open but never reads.
  std::atomic<bool> stop{false};
  std::string received;
  std::thread reader([&] {
    while (!stop.load()) received += clients[0]->readUntilQuiet(std::chrono::milliseconds(20));
  });

  std::string sent;
  uint8_t seed = 0;
  const bool dropped = eventually(
      [&] {
        const auto unit = accessUnit(50 * 1024, seed++);
        hub_->broadcast(unit);
        sent += asString(unit);
        return hub_->clients().size() == 1;
      },
      std::chrono::milliseconds(60000));
  EXPECT_TRUE(dropped);
  EXPECT_FALSE(isOpen(stalled));
  // Delivery goes on for the reader, which got every byte.
  const auto unit = accessUnit(1234, 77);
  hub_->broadcast(unit);
  sent += asString(unit);
  stop = true;
  reader.join();
  received += clients[0]->readExactly(sent.size() - std::min(sent.size(), received.size()));
  EXPECT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
}

TEST_F(StreamHubTest, ClientThatReadsOnlyATrickleIsDroppedAfterTheTimeOut) {
  connect(0);
  // A client with a small receive window that takes 4 KB every quarter second: each
  // write makes a little progress well within the socket's time-out, so only the hub's
  // bound on the whole access unit ends it. The reader gives up after a minute and
  // closes, which would end the broadcast too, so a hub without that bound fails the
  // test instead of hanging it.
  const int fd = connectWithSmallWindow(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(eventually([&] { return hub_->clients().size() == 1 && keyframes_.load() == 1; }));

  std::atomic<bool> broadcastReturned{false};
  std::atomic<bool> readerGaveUp{false};
  std::thread reader([&] {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<char> chunk(4096);
    while (!broadcastReturned.load()) {
      if (std::chrono::steady_clock::now() >= giveUp) {
        readerGaveUp = true;
        ::shutdown(fd, SHUT_RDWR);
        return;
      }
      (void)::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  });
  const int trickling = hub_->clients()[0];
  hub_->broadcast(accessUnit(8 * 1024 * 1024, 5));
  const bool whileReading = !readerGaveUp.load();
  broadcastReturned = true;
  reader.join();
  ::close(fd);
  EXPECT_TRUE(whileReading);  // dropped by the hub, not ended by the reader giving up
  EXPECT_TRUE(hub_->clients().empty());
  EXPECT_FALSE(isOpen(trickling));
}

TEST_F(StreamHubTest, StalledClientsShareOneTimeOutAndTheReaderGetsEverything) {
  // Four clients that never read: written one after another they would hold one
  // broadcast up for four time-outs; side by side it ends within one.
  auto readers = connect(1);
  std::vector<int> stalledSockets;
  for (int i = 0; i < 4; ++i) {
    stalledSockets.push_back(connectWithSmallWindow(port_));
    ASSERT_GE(stalledSockets.back(), 0);
  }
  ASSERT_TRUE(eventually([&] { return hub_->clients().size() == 5 && keyframes_.load() == 5; }));
  const std::vector<int> joined = hub_->clients();
  const std::vector<int> stalled(joined.begin() + 1, joined.end());

  std::string received;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) received += readers[0]->readUntilQuiet(std::chrono::milliseconds(20));
  });
  const auto unit = accessUnit(4 * 1024 * 1024, 9);
  const auto began = std::chrono::steady_clock::now();
  hub_->broadcast(unit);
  const auto took = std::chrono::steady_clock::now() - began;
  stop = true;
  reader.join();
  received += readers[0]->readExactly(unit.size() - std::min(unit.size(), received.size()));

  EXPECT_LT(took, std::chrono::seconds(2 * kClientSendTimeoutSeconds));
  EXPECT_EQ(hub_->clients(), std::vector<int>{joined[0]});
  for (int fd : stalled) EXPECT_FALSE(isOpen(fd));
  EXPECT_TRUE(received == asString(unit));
  for (int fd : stalledSockets) ::close(fd);
}

}  // namespace
