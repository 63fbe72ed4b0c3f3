#include "tests/support/bridge_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <libproc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

int _remainingMs(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits until `fd` is readable (or hung up) before `end`; false on time-out.
bool _waitReadable(int fd, Clock::time_point end) {
  for (;;) {
    struct pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, _remainingMs(end));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool _writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// A pipe whose two ends are closed in spawned children (each child gets its own copies
// through dup2). macOS has no pipe2, so there the flag is set right after; the tests
// spawn children from one thread at a time.
bool _closeOnExecPipe(int fds[2]) {
#if defined(__APPLE__)
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#else
  return ::pipe2(fds, O_CLOEXEC) == 0;
#endif
}

}  // namespace

BridgeProcess::BridgeProcess(std::string binary, std::vector<std::string> arguments) {
  // A child that has gone must make writes to its stdin fail, not end the test process.
  static std::once_flag ignoreSigpipe;
  std::call_once(ignoreSigpipe, [] { ::signal(SIGPIPE, SIG_IGN); });
  int in[2], out[2], err[2];
  if (!_closeOnExecPipe(in) || !_closeOnExecPipe(out) || !_closeOnExecPipe(err)) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  std::vector<char*> argv;
  argv.push_back(binary.data());
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const int rc = ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  stderrFd_ = err[0];
  if (rc != 0) {
    ADD_FAILURE() << "posix_spawn " << binary << ": " << std::strerror(rc);
    pid_ = -1;
  }
  stderrThread_ = std::thread([this] { drainStderr(); });
}

BridgeProcess::~BridgeProcess() {
  closeStdin();
  if (running()) {
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::milliseconds(60000));
  }
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
  if (stderrThread_.joinable()) stderrThread_.join();  // ends with the child's stderr
  if (stderrFd_ >= 0) ::close(stderrFd_);
}

bool BridgeProcess::sendLine(std::string_view line) { return sendRaw(std::string(line) + "\n"); }

bool BridgeProcess::sendRaw(std::string_view bytes) {
  if (stdinFd_ < 0) return false;
  return _writeAll(stdinFd_, bytes);
}

void BridgeProcess::closeStdin() {
  if (stdinFd_ >= 0) ::close(stdinFd_);
  stdinFd_ = -1;
}

std::optional<std::string> BridgeProcess::readLine(std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  for (;;) {
    const size_t newline = stdoutBuffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = stdoutBuffer_.substr(0, newline);
      stdoutBuffer_.erase(0, newline + 1);
      return line;
    }
    if (stdoutEnded_ || !_waitReadable(stdoutFd_, end)) return std::nullopt;
    char chunk[4096];
    const ssize_t n = ::read(stdoutFd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      stdoutEnded_ = true;
      continue;
    }
    stdoutBuffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::optional<std::string> BridgeProcess::request(std::string_view line, std::chrono::milliseconds deadline) {
  if (!sendLine(line)) return std::nullopt;
  return readLine(deadline);
}

std::string BridgeProcess::readRemainingStdout(std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (!stdoutEnded_ && _waitReadable(stdoutFd_, end)) {
    char chunk[4096];
    const ssize_t n = ::read(stdoutFd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    stdoutBuffer_.append(chunk, static_cast<size_t>(n));
  }
  stdoutEnded_ = true;
  std::string all;
  all.swap(stdoutBuffer_);
  return all;
}

void BridgeProcess::closeStdout() {
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
  stdoutFd_ = -1;
  stdoutEnded_ = true;
}

void BridgeProcess::drainStderr() {
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(stderrFd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    stderrPartial_.append(chunk, static_cast<size_t>(n));
    size_t newline;
    while ((newline = stderrPartial_.find('\n')) != std::string::npos) {
      {
        std::lock_guard<std::mutex> hold(stderrLock_);
        stderrLines_.push_back(stderrPartial_.substr(0, newline));
      }
      stderrPartial_.erase(0, newline + 1);
      stderrChanged_.notify_all();
    }
  }
  if (!stderrPartial_.empty()) {
    std::lock_guard<std::mutex> hold(stderrLock_);
    stderrLines_.push_back(stderrPartial_);
  }
  stderrChanged_.notify_all();
}

std::vector<std::string> BridgeProcess::stderrLines() const {
  std::lock_guard<std::mutex> hold(stderrLock_);
  return stderrLines_;
}

bool BridgeProcess::waitForStderr(std::string_view fragment, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> hold(stderrLock_);
  return stderrChanged_.wait_for(hold, deadline, [&] {
    for (const std::string& line : stderrLines_) {
      if (line.find(fragment) != std::string::npos) return true;
    }
    return false;
  });
}

std::optional<int> BridgeProcess::waitForExit(std::chrono::milliseconds deadline) {
  if (exitStatus_) return exitStatus_;
  if (pid_ <= 0) return std::nullopt;
  const auto end = Clock::now() + deadline;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      return exitStatus_;
    }
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (Clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling the child's state
  }
}

int BridgeProcess::countListeningSockets() const { return countListeningTcpSockets(pid_); }

#if defined(__APPLE__)
// macOS has no /proc: ask the kernel for the process's descriptors and each socket's state.
int countListeningTcpSockets(pid_t pid) {
  const int size = ::proc_pidinfo(pid, PROC_PIDLISTFDS, 0, nullptr, 0);
  if (size <= 0) return 0;
  std::vector<struct proc_fdinfo> fds(static_cast<size_t>(size) / sizeof(struct proc_fdinfo));
  const int filled = ::proc_pidinfo(pid, PROC_PIDLISTFDS, 0, fds.data(), static_cast<int>(fds.size() * sizeof fds[0]));
  if (filled <= 0) return 0;
  fds.resize(static_cast<size_t>(filled) / sizeof(struct proc_fdinfo));
  int count = 0;
  for (const struct proc_fdinfo& fd : fds) {
    if (fd.proc_fdtype != PROX_FDTYPE_SOCKET) continue;
    struct socket_fdinfo info{};
    if (::proc_pidfdinfo(pid, fd.proc_fd, PROC_PIDFDSOCKETINFO, &info, sizeof info) != sizeof info) continue;
    if (info.psi.soi_kind == SOCKINFO_TCP && info.psi.soi_proto.pri_tcp.tcpsi_state == TSI_S_LISTEN) ++count;
  }
  return count;
}
#else
// Socket inodes of the listening sockets in one /proc/net/tcp-style table.
static void _collectListeningInodes(const char* table, std::set<unsigned long>& inodes) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
    unsigned long inode = 0;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (state == "0A") inodes.insert(inode);  // TCP_LISTEN
  }
}

int countListeningTcpSockets(pid_t pid) {
  std::set<unsigned long> listening;
  _collectListeningInodes("/proc/net/tcp", listening);
  _collectListeningInodes("/proc/net/tcp6", listening);
  const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(fdDir.c_str());
  if (dir == nullptr) return 0;
  int count = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    char target[64] = {};
    const std::string path = fdDir + "/" + entry->d_name;
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    unsigned long inode = 0;
    if (std::sscanf(target, "socket:[%lu]", &inode) == 1 && listening.count(inode) > 0) ++count;
  }
  ::closedir(dir);
  return count;
}
#endif

TcpClient::TcpClient(uint16_t port) {
#if defined(__APPLE__)
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) return;
  ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
#else
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
#endif
  struct sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) close();
}

TcpClient::~TcpClient() { close(); }

void TcpClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string TcpClient::readExactly(size_t count, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  std::string data;
  while (fd_ >= 0 && data.size() < count && _waitReadable(fd_, end)) {
    char chunk[65536];
    const size_t want = std::min(sizeof chunk, count - data.size());
    const ssize_t n = ::recv(fd_, chunk, want, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

std::string TcpClient::readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  std::string data;
  while (fd_ >= 0 && Clock::now() < end) {
    const auto quietEnd = std::min(end, Clock::now() + quiet);
    if (!_waitReadable(fd_, quietEnd)) break;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

bool TcpClient::waitForPeerClose(std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (fd_ >= 0 && _waitReadable(fd_, end)) {
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
  return false;
}

std::vector<BridgeBinary> bridgeBinaries() {
  std::vector<BridgeBinary> binaries{{"virtual", CORVANE_BRIDGE_BINARY}};
#ifdef CORVANE_APPLE_BRIDGE_BINARY
  binaries.push_back({"apple", CORVANE_APPLE_BRIDGE_BINARY});
#endif
  return binaries;
}

}  // namespace testing_support
