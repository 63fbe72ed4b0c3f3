// StreamHub on real loopback sockets: fan-out, backlogs, dropping dead and stalled clients.
#include "bridge/streaming/stream_hub.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "bridge/streaming/stream_server.h"
#include "tests/streaming/stream_test_util.h"
#include "tests/support/bridge_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/sanitizer_scale.h"

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
  for (int i = 0; i < 5; ++i) hub_->broadcast({});
  EXPECT_EQ(hub_->clients().size(), 2u);

  const auto unit = accessUnit(300, 9);
  hub_->broadcast(unit);
  EXPECT_EQ(clients[0]->readExactly(unit.size()), asString(unit));
  EXPECT_EQ(clients[1]->readExactly(unit.size()), asString(unit));
}

TEST_F(StreamHubTest, ClientThatClosesOrShutsDownItsSendingSideIsClosedWhileNothingFlowsAndNobodyConnects) {
  auto clients = connect(5);
  const std::vector<int> joined = hub_->clients();
  // 0 closes, 2 shuts down its sending side (as ncat does at the end of its input), 3
  // sends bytes first and then shuts down; 1 and 4 stay, 4 sending bytes of its own.
  auto send = [](const TcpClient& client, const std::string& bytes) {
    return ::send(client.fd(), bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  };
  clients[0]->close();
  ASSERT_EQ(::shutdown(clients[2]->fd(), SHUT_WR), 0);
  ASSERT_TRUE(send(*clients[3], std::string(20000, 'x')));
  ASSERT_EQ(::shutdown(clients[3]->fd(), SHUT_WR), 0);
  ASSERT_TRUE(send(*clients[4], "hello"));

  // No access unit is broadcast and no one connects.
  ASSERT_TRUE(eventually([&] { return hub_->clients() == std::vector<int>{joined[1], joined[4]}; }));
  EXPECT_TRUE(eventually([&] { return !isOpen(joined[0]) && !isOpen(joined[2]) && !isOpen(joined[3]); }));
  EXPECT_TRUE(clients[2]->waitForPeerClose());
  EXPECT_TRUE(clients[3]->waitForPeerClose());

  const auto unit = accessUnit(500, 3);
  hub_->broadcast(unit);
  EXPECT_EQ(clients[1]->readExactly(unit.size()), asString(unit));
  EXPECT_EQ(clients[4]->readExactly(unit.size()), asString(unit));
}

TEST_F(StreamHubTest, ClientThatStopsReadingIsDroppedWithOneLineAndOthersContinue) {
  testing_support::LogCapture log;
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
  EXPECT_TRUE(eventually([&] { return !isOpen(stalled); }));
  EXPECT_EQ(log.countContaining("[Stream] dropped client " + std::to_string(stalled) + ": it fell behind by "), 1u);
  EXPECT_EQ(log.lines().size(), 1u);
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

TEST_F(StreamHubTest, ClientThatReadsOnlyATrickleIsDroppedOnceItsBacklogIsTooOld) {
  connect(0);
  // A client with a small receive window that takes 4 KB every quarter second: it never
  // stops, but the one 6 MB unit (under the byte limit) stays unsent for longer than
  // the age limit, and no later unit comes to notice it: the hub's drainer must. The
  // reader gives up after a minute, which would end the client too, so a hub without
  // that rule fails the test instead of hanging it.
  const int fd = connectWithSmallWindow(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(eventually([&] { return hub_->clients().size() == 1 && keyframes_.load() == 1; }));

  std::atomic<bool> dropped{false};
  std::atomic<bool> readerGaveUp{false};
  std::thread reader([&] {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<char> chunk(4096);
    while (!dropped.load()) {
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
  hub_->broadcast(accessUnit(6 * 1024 * 1024, 5));
  EXPECT_TRUE(eventually([&] { return hub_->clients().empty(); }, std::chrono::seconds(90)));
  const bool whileReading = !readerGaveUp.load();
  dropped = true;
  reader.join();
  ::close(fd);
  EXPECT_TRUE(whileReading);  // dropped by the hub, not ended by the reader giving up
  EXPECT_TRUE(eventually([&] { return !isOpen(trickling); }));
}

TEST_F(StreamHubTest, BroadcastNeverWaitsForStalledClientsAndTheReaderGetsEverything) {
  // Four clients that never read and one that reads only after the broadcasts: a
  // broadcast that waited for any socket would never return here.
  testing_support::LogCapture log;
  auto readers = connect(1);
  std::vector<int> stalledSockets;
  for (int i = 0; i < 4; ++i) {
    stalledSockets.push_back(connectWithSmallWindow(port_));
    ASSERT_GE(stalledSockets.back(), 0);
  }
  ASSERT_TRUE(eventually([&] { return hub_->clients().size() == 5 && keyframes_.load() == 5; }));
  const std::vector<int> joined = hub_->clients();
  const std::vector<int> stalled(joined.begin() + 1, joined.end());

  std::string sent;
  for (uint8_t seed = 0; seed < 8; ++seed) {
    const auto unit = accessUnit(256 * 1024 + seed, seed);
    hub_->broadcast(unit);
    sent += asString(unit);
  }
  // The reader catches up although no unit follows; the stalled ones go once their
  // backlog is too old, with one line each.
  EXPECT_TRUE(readers[0]->readExactly(sent.size()) == sent);
  EXPECT_TRUE(eventually([&] { return hub_->clients() == std::vector<int>{joined[0]}; }));
  for (int fd : stalled) EXPECT_TRUE(eventually([&] { return !isOpen(fd); }));
  EXPECT_EQ(log.countContaining("[Stream] dropped client "), 4u);
  for (int fd : stalledSockets) ::close(fd);
}

TEST_F(StreamHubTest, ClientThatPausesThenReadsGetsEveryUnitInOrder) {
  auto clients = connect(2);
  // Units go out at a video pace while the first client does not read for a second;
  // then the units stop and it reads everything, in order, and so does the other.
  std::string received;
  std::thread steady([&] { received = clients[1]->readUntilQuiet(std::chrono::milliseconds(3000)); });
  std::string sent;
  const auto pauseEnds = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (uint8_t seed = 0; std::chrono::steady_clock::now() < pauseEnds; ++seed) {
    const auto unit = accessUnit(100 * 1024 + seed * 13, seed);
    hub_->broadcast(unit);
    sent += asString(unit);
    std::this_thread::sleep_for(std::chrono::milliseconds(33));  // the producer's pace
  }
  EXPECT_TRUE(clients[0]->readExactly(sent.size()) == sent);
  steady.join();
  EXPECT_TRUE(received == sent);
  EXPECT_EQ(hub_->clients().size(), 2u);
}

TEST_F(StreamHubTest, ClientReadingWhileUnitsComeBackToBackGetsEveryUnitInOrder) {
  // Units come faster than the socket takes them while the client reads, so its backlog
  // starts and ends under way and broadcast and the drainer take turns writing it; with
  // no other client, nothing else wakes the drainer for it. Several rounds, as the turns
  // fall differently each time (fewer in the slow sanitizer builds, where a round's
  // bytes must still reach the reader well within the hub's 2 s age limit).
  auto clients = connect(1);
  std::vector<std::vector<uint8_t>> units;
  std::string sent;
  for (uint8_t seed = 0; seed < 30; ++seed) {
    units.push_back(accessUnit(90 * 1024 + seed * 29, seed));
    sent += asString(units.back());
  }  // 2.8 MB: within the backlog limit even for a client that has read nothing yet
  for (int round = 0; round < 20 / testing_support::kSanitizerDivisor; ++round) {
    SCOPED_TRACE(round);
    std::string received;
    std::thread reader([&] { received = clients[0]->readExactly(sent.size()); });
    for (const auto& unit : units) hub_->broadcast(unit);
    reader.join();
    ASSERT_TRUE(received == sent);
  }
  EXPECT_EQ(hub_->clients().size(), 1u);
}

}  // namespace
