// Drives a real program (by default the built corvane-sim-bridge) over pipes and talks
// to its stream servers over loopback TCP, for end-to-end tests and benchmarks.
//
// BridgeProcess spawns the program with its standard input, output and error on pipes.
// A background thread drains standard error into a list of lines (so the child never
// blocks on a full pipe); standard output is read on demand, one response line at a
// time. Every wait takes a deadline and gives up with an empty result when it passes.
// The first BridgeProcess makes the test process ignore SIGPIPE, so writing to a child
// that has gone fails instead of ending the test. The destructor kills the child with SIGKILL if it is still running and reaps it.
//
// One thread drives a BridgeProcess; stderrLines and waitForStderr may also be called
// from other threads.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testing_support {

// Generous default for waits on the child: sanitizer builds on a busy machine are slow.
inline constexpr std::chrono::milliseconds kDefaultDeadline{20000};

class BridgeProcess {
 public:
  // Starts `binary` with `arguments` (none by default). Fails the current test (gtest
  // ADD_FAILURE) and leaves running() false if the program cannot be started.
  explicit BridgeProcess(std::string binary = CORVANE_BRIDGE_BINARY, std::vector<std::string> arguments = {});
  ~BridgeProcess();
  BridgeProcess(const BridgeProcess&) = delete;
  BridgeProcess& operator=(const BridgeProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0 && !exitStatus_; }

  // Writes `line` plus a line feed to the child's standard input. False if the pipe is
  // closed or the child has gone.
  bool sendLine(std::string_view line);
  // Writes `bytes` exactly as given (no line feed added).
  bool sendRaw(std::string_view bytes);
  // Closes the child's standard input (end of input for the child). Harmless twice.
  void closeStdin();

  // The next line of standard output without its line feed, or nothing when the
  // deadline passes or standard output ends first.
  std::optional<std::string> readLine(std::chrono::milliseconds deadline = kDefaultDeadline);
  // Sends `line` and reads the response line.
  std::optional<std::string> request(std::string_view line, std::chrono::milliseconds deadline = kDefaultDeadline);
  // Every byte of standard output that arrives until it ends or the deadline passes
  // (including anything already buffered). For "nothing more was written" checks,
  // call it after closeStdin.
  std::string readRemainingStdout(std::chrono::milliseconds deadline = kDefaultDeadline);

  // Closes our end of the child's standard output: its later writes fail (EPIPE).
  void closeStdout();

  // The standard-error lines so far (without line feeds).
  std::vector<std::string> stderrLines() const;
  // Waits until a standard-error line containing `fragment` has appeared; true then.
  bool waitForStderr(std::string_view fragment, std::chrono::milliseconds deadline = kDefaultDeadline);

  // Waits for the child to end; its exit status (0..255), or -signal when a signal
  // ended it, or nothing when the deadline passes first.
  std::optional<int> waitForExit(std::chrono::milliseconds deadline = kDefaultDeadline);

  // Number of listening TCP sockets the child holds right now (its descriptors matched
  // against the system's TCP table).
  int countListeningSockets() const;

 private:
  void drainStderr();

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  std::string stdoutBuffer_;  // bytes read from stdout, not yet returned
  bool stdoutEnded_ = false;
  std::optional<int> exitStatus_;

  mutable std::mutex stderrLock_;
  std::condition_variable stderrChanged_;
  std::vector<std::string> stderrLines_;  // guarded by stderrLock_
  std::string stderrPartial_;             // stderr thread only
  std::thread stderrThread_;
};

// The bridge programs the end-to-end tests run, by a short name for the test names:
// "virtual" (corvane-sim-bridge over the virtual simulator) and, in trees built with
// CORVANE_APPLE_ON_LINUX, "apple" (the bridge over the Apple simulator platform and the
// Objective-C stand-ins of its frameworks, backed by the same virtual devices).
struct BridgeBinary {
  std::string name;
  std::string path;
};
std::vector<BridgeBinary> bridgeBinaries();
inline void PrintTo(const BridgeBinary& binary, std::ostream* out) { *out << binary.name; }

// Listening TCP sockets (IPv4 and IPv6) held by process `pid`.
int countListeningTcpSockets(pid_t pid);

// A TCP client of a stream server on 127.0.0.1. Closes its socket on destruction.
class TcpClient {
 public:
  // Connects to 127.0.0.1:port; connected() tells whether that worked.
  explicit TcpClient(uint16_t port);
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Reads until `count` bytes have arrived, the peer closes or the deadline passes;
  // returns what arrived (shorter than `count` in the last two cases).
  std::string readExactly(size_t count, std::chrono::milliseconds deadline = kDefaultDeadline);
  // Reads whatever arrives until `quiet` passes with no new bytes, the peer closes or
  // the deadline passes.
  std::string readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds deadline = kDefaultDeadline);
  // True once the peer has closed the connection (reads end of stream), within the
  // deadline. Bytes that arrive meanwhile are discarded.
  bool waitForPeerClose(std::chrono::milliseconds deadline = kDefaultDeadline);
  // Closes the socket now.
  void close();

 private:
  int fd_ = -1;
};

}  // namespace testing_support
