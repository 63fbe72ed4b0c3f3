// Fuzzes the bridge's command channel from raw bytes to response lines: the line
// reader, UTF-8 repair, trimming, JSON parsing, routing and every field reader, down to
// the subsystem entries. Both platforms are fakes with nothing on them, stream servers
// get sockets that never listen, holds do not sleep and the log goes nowhere, so no
// device, network or timing work happens.
//
// The input is a byte stream as the controlling application would write it. It is read
// back through LineReader and checked against an independent split at line feeds; then
// every line is handled and must get exactly one response line when anything but
// horizontal space is in it, and none otherwise. Every response line must be one JSON
// object with a boolean "ok", followed by a single line feed.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/control/command_loop.h"
#include "bridge/control/input_commands.h"
#include "bridge/control/process_start.h"
#include "bridge/control/response.h"
#include "bridge/platform/log.h"
#include "bridge/streaming/stream_server.h"
#include "tests/support/fake_media_platform.h"
#include "tests/support/fake_simulator_platform.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "command_line_fuzzer: %s: [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// Socket calls that never touch the network: the "socket" is /dev/null, binding and
// listening succeed without doing anything, and the first accept reports the socket
// unusable, so each server's thread closes it and ends at once.
StreamServerSocketOps inertSocketOps() {
  return StreamServerSocketOps{
      .socket = [](int, int, int) { return ::open("/dev/null", O_RDWR | O_CLOEXEC); },
      .bind = [](int, const struct sockaddr*, socklen_t) { return 0; },
      .listen = [](int, int) { return 0; },
      .accept = [](int, struct sockaddr*, socklen_t*) {
        errno = EBADF;
        return -1;
      },
      .backOff = [] {},
  };
}

// Response lines written while the current line was handled. Fuzzer thread only.
std::vector<std::string> g_responses;

// The installed simulator fake; lives for the rest of the process.
testing_support::FakeSimulatorPlatform* g_simulator = nullptr;

// Sets the process up once, as the bridge's main does, with fakes in place of the
// platforms. The fakes live for the rest of the process.
void setUpOnce() {
  static const bool done = [] {
    g_simulator = new testing_support::FakeSimulatorPlatform();
    platform::installSimulatorPlatform(g_simulator);
    platform::installMediaPlatform(new testing_support::FakeMediaPlatform());
    setStreamServerSocketOpsForTesting(inertSocketOps());
    setHoldSleeperForTesting([](double) {});
    setLogSinkForTesting([](std::string_view) {});
    setResponseSinkForTesting([](std::string_view line) { g_responses.emplace_back(line); });
    startBridgeProcess();
    return true;
  }();
  (void)done;
}

// The fake records every call it sees; forget them between inputs so that a long run
// does not grow without bound.
void forgetSimulatorCalls() {
  std::lock_guard<std::mutex> hold(g_simulator->lock);
  g_simulator->openedPaths.clear();
  g_simulator->openModes.clear();
  g_simulator->classLookups.clear();
  g_simulator->keyEvents.clear();
  g_simulator->serviceContextClass->developerDirs.clear();
}

// The lines of `input` as a line reader must return them: split at line feeds, one
// carriage return before a line feed dropped, a last line without a line feed kept.
std::vector<std::string> expectedLines(std::string_view input) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < input.size()) {
    const size_t newline = input.find('\n', start);
    if (newline == std::string_view::npos) {
      lines.emplace_back(input.substr(start));
      break;
    }
    size_t end = newline;
    if (end > start && input[end - 1] == '\r') --end;
    lines.emplace_back(input.substr(start, end - start));
    start = newline + 1;
  }
  return lines;
}

// Lines as LineReader returns them from a descriptor holding `input`.
std::vector<std::string> readLines(std::string_view input) {
  const int fd = ::memfd_create("command_line_fuzzer", MFD_CLOEXEC);
  if (fd < 0) fail("memfd_create failed", "");
  if (::write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) fail("write failed", "");
  ::lseek(fd, 0, SEEK_SET);
  std::vector<std::string> lines;
  LineReader reader(fd);
  while (std::optional<std::string> line = reader.next()) lines.push_back(std::move(*line));
  ::close(fd);
  return lines;
}

// True when the line holds only tabs and Unicode space separators, each in its exact
// UTF-8 form: such a line is skipped without a response. Any other byte (a broken
// sequence included, which repair turns into U+FFFD) makes it a request.
bool isBlank(std::string_view line) {
  static constexpr std::string_view kSpaces[] = {
      "\t", " ", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
      "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
      "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
  };
  while (!line.empty()) {
    bool matched = false;
    for (std::string_view space : kSpaces) {
      if (line.starts_with(space)) {
        line.remove_prefix(space.size());
        matched = true;
        break;
      }
    }
    if (!matched) return false;
  }
  return true;
}

void checkResponseLine(std::string_view line) {
  if (line.empty() || line.back() != '\n') fail("response without its line feed", line);
  const std::string_view body = line.substr(0, line.size() - 1);
  if (body.find('\n') != std::string_view::npos) fail("line feed inside a response", line);
  const nlohmann::json response = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!response.is_object()) fail("response is not a JSON object", line);
  const auto ok = response.find("ok");
  if (ok == response.end() || !ok->is_boolean()) fail("response without a boolean \"ok\"", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setUpOnce();
  forgetSimulatorCalls();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = expectedLines(input);
  if (readLines(input) != lines) fail("LineReader split the input differently", input);

  for (const std::string& line : lines) {
    g_responses.clear();
    handleCommandLine(line);
    const size_t expected = isBlank(line) ? 0 : 1;
    if (g_responses.size() != expected) {
      std::fprintf(stderr, "command_line_fuzzer: %zu response lines, expected %zu\n", g_responses.size(), expected);
      fail("wrong number of responses to line", line);
    }
    for (const std::string& response : g_responses) checkResponseLine(response);
  }
  return 0;
}
