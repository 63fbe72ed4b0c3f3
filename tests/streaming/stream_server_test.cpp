// Stream servers: start failures, loopback listening, and the accept loop's handling
// of accept errors.
#include "bridge/streaming/stream_server.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "tests/streaming/stream_test_util.h"
#include "tests/support/bridge_process.h"

namespace {

using stream_test::eventually;
using testing_support::TcpClient;

int openDescriptorCount() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (struct dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
  ::closedir(dir);
  return count - 1;  // the directory stream's own descriptor
}

// True when /proc/net/tcp lists a listening socket on 127.0.0.1:port.
bool listensOnLoopback(uint16_t port) {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::ifstream table("/proc/net/tcp");
  std::string slot, local, remote, state, rest;
  std::getline(table, rest);
  while (table >> slot >> local >> remote >> state && std::getline(table, rest)) {
    if (local == wanted && state == "0A") return true;
  }
  return false;
}

// Scripted accept errors for one listening socket; every other socket accepts for real.
struct AcceptScript {
  std::mutex lock;
  int listenFd = -1;         // guarded by lock
  std::vector<int> errors;   // guarded by lock; handed out front first
  int realAccepts = 0;       // guarded by lock; calls on listenFd that went on to a real accept
  std::atomic<int> backOffs{0};
};
AcceptScript g_script;

StreamServerSocketOps scriptedOps() {
  StreamServerSocketOps ops = defaultStreamServerSocketOps();
  ops.socket = [](int domain, int type, int protocol) {
    const int fd = ::socket(domain, type, protocol);
    std::lock_guard<std::mutex> hold(g_script.lock);
    g_script.listenFd = fd;
    g_script.realAccepts = 0;
    return fd;
  };
  ops.accept = [](int fd, struct sockaddr* address, socklen_t* length) {
    {
      std::lock_guard<std::mutex> hold(g_script.lock);
      if (fd == g_script.listenFd && !g_script.errors.empty()) {
        errno = g_script.errors.front();
        g_script.errors.erase(g_script.errors.begin());
        return -1;
      }
      if (fd == g_script.listenFd) ++g_script.realAccepts;
    }
    return ::accept(fd, address, length);
  };
  ops.backOff = [] { g_script.backOffs.fetch_add(1); };
  return ops;
}

class StreamServerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { setStreamServerSocketOpsForTesting(defaultStreamServerSocketOps()); }

  std::atomic<int> keyframes_{0};
  std::shared_ptr<StreamHub> hub_ = std::make_shared<StreamHub>([this] { keyframes_.fetch_add(1); });
};

TEST_F(StreamServerTest, EachFailedStepRendersItsSimBridgeErrorAndLeavesNoSocket) {
  struct Case {
    void (*breakStep)(StreamServerSocketOps&);
    const char* rendering;
  };
  const Case cases[] = {
      {[](StreamServerSocketOps& ops) { ops.socket = [](int, int, int) { return errno = EMFILE, -1; }; },
       R"(Error Domain=SimBridge Code=1 "socket() failed" UserInfo={NSLocalizedDescription=socket() failed})"},
      {[](StreamServerSocketOps& ops) {
         ops.bind = [](int, const struct sockaddr*, socklen_t) { return errno = EADDRINUSE, -1; };
       },
       R"(Error Domain=SimBridge Code=2 "bind() failed" UserInfo={NSLocalizedDescription=bind() failed})"},
      {[](StreamServerSocketOps& ops) { ops.listen = [](int, int) { return errno = EOPNOTSUPP, -1; }; },
       R"(Error Domain=SimBridge Code=3 "listen() failed" UserInfo={NSLocalizedDescription=listen() failed})"},
  };
  for (const Case& c : cases) {
    StreamServerSocketOps ops = defaultStreamServerSocketOps();
    c.breakStep(ops);
    setStreamServerSocketOpsForTesting(ops);
    const int descriptorsBefore = openDescriptorCount();
    const StreamServerStart server = startStreamServer(hub_);
    ASSERT_TRUE(server.error.has_value());
    EXPECT_EQ(server.error->domain, "SimBridge");
    EXPECT_EQ(server.error->description(), c.rendering);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << c.rendering;
  }
  EXPECT_EQ(keyframes_.load(), 0);
}

TEST_F(StreamServerTest, ServersListenOnLoopbackAtDistinctSystemChosenPorts) {
  const int before = testing_support::countListeningTcpSockets(::getpid());
  const StreamServerStart first = startStreamServer(hub_);
  const StreamServerStart second = startStreamServer(hub_);
  ASSERT_FALSE(first.error || second.error);
  EXPECT_NE(first.port, 0);
  EXPECT_NE(first.port, second.port);
  EXPECT_TRUE(listensOnLoopback(first.port));
  EXPECT_TRUE(listensOnLoopback(second.port));
  EXPECT_EQ(testing_support::countListeningTcpSockets(::getpid()), before + 2);

  // Both servers feed the one hub.
  TcpClient a(first.port), b(second.port);
  EXPECT_TRUE(eventually([&] { return hub_->clients().size() == 2; }));
  EXPECT_TRUE(eventually([&] { return keyframes_.load() == 2; }));
}

TEST_F(StreamServerTest, TransientAcceptErrorsAreRetriedAndExhaustionIsWaitedOut) {
  setStreamServerSocketOpsForTesting(scriptedOps());
  {
    std::lock_guard<std::mutex> hold(g_script.lock);
    g_script.errors = {EINTR, ECONNABORTED, EPROTO, EMFILE, ENFILE, ENOBUFS, ENOMEM, ENETDOWN, EIO};
  }
  g_script.backOffs = 0;
  const StreamServerStart server = startStreamServer(hub_);
  ASSERT_FALSE(server.error);
  EXPECT_TRUE(eventually([] {
    std::lock_guard<std::mutex> hold(g_script.lock);
    return g_script.errors.empty();
  }));
  // Exhaustion and the unlisted EIO back off; the others are retried at once. The last
  // back-off may still be on its way when the script runs dry.
  EXPECT_TRUE(eventually([] { return g_script.backOffs.load() == 5; }));
  EXPECT_EQ(g_script.backOffs.load(), 5);

  TcpClient client(server.port);
  ASSERT_TRUE(client.connected());
  EXPECT_TRUE(eventually([&] { return hub_->clients().size() == 1 && keyframes_.load() == 1; }));
  EXPECT_TRUE(listensOnLoopback(server.port));
}

TEST_F(StreamServerTest, UnusableListeningSocketEndsTheServerButKeepsItsClients) {
  setStreamServerSocketOpsForTesting(scriptedOps());
  const StreamServerStart server = startStreamServer(hub_);
  ASSERT_FALSE(server.error);
  TcpClient client(server.port);
  ASSERT_TRUE(eventually([&] { return hub_->clients().size() == 1; }));
  // Script the error only once the accept thread has gone back into a real accept, so
  // that the wake-up connection is accepted first whatever the scheduling.
  ASSERT_TRUE(eventually([] {
    std::lock_guard<std::mutex> hold(g_script.lock);
    return g_script.realAccepts == 2;
  }));

  // The accept thread is blocked in a real accept; the next call sees EBADF.
  {
    std::lock_guard<std::mutex> hold(g_script.lock);
    g_script.errors = {EBADF};
  }
  EXPECT_TRUE(server.listening->load());
  TcpClient wakeUp(server.port);
  EXPECT_TRUE(eventually([&] { return !listensOnLoopback(server.port); }));
  EXPECT_TRUE(eventually([&] { return !server.listening->load(); }));
  EXPECT_TRUE(eventually([&] { return keyframes_.load() == 2; }));
  EXPECT_EQ(hub_->clients().size(), 2u);
  TcpClient refused(server.port);
  EXPECT_FALSE(refused.connected());
}

}  // namespace
