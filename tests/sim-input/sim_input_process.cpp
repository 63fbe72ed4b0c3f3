#include "tests/sim-input/sim_input_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sim-input/hid_standin.h"

extern char** environ;

namespace sim_input_testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(60);
constexpr int kChildRecordFd = 3;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

std::vector<std::string> childEnvironment(const SimInputOptions& options) {
  std::vector<std::string> environment;
  std::string asanOptions;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("LD_PRELOAD=", 0) == 0 || text.rfind(std::string(kHIDStandInRecordFdVariable) + "=", 0) == 0) continue;
    if (text.rfind("ASAN_OPTIONS=", 0) == 0) {
      asanOptions = text.substr(std::strlen("ASAN_OPTIONS="));
      continue;
    }
    environment.push_back(text);
  }
  environment.push_back(std::string(kHIDStandInRecordFdVariable) + "=" + std::to_string(kChildRecordFd));
  if (!options.preload.empty()) {
    environment.push_back("LD_PRELOAD=" + options.preload);
    // A preloaded library comes before the AddressSanitizer runtime in sanitizer builds.
    asanOptions += (asanOptions.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
  }
  if (!asanOptions.empty()) environment.push_back("ASAN_OPTIONS=" + asanOptions);
  return environment;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return text;
    }
  }
}

std::vector<HidRecord> parseRecords(const std::string& text) {
  std::vector<HidRecord> records;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    HidRecord record;
    words >> record.call;
    std::string word;
    while (words >> word) {
      const auto equals = word.find('=');
      if (equals == std::string::npos) {
        record.made = word == "made";
        continue;
      }
      const std::string key = word.substr(0, equals);
      const uint64_t value = std::stoull(word.substr(equals + 1));
      if (key == "page") record.page = static_cast<uint32_t>(value);
      if (key == "usage") record.usage = static_cast<uint32_t>(value);
      if (key == "down") record.down = value != 0;
      if (key == "time") record.time = value;
      if (key == "client" || key == "id") record.client = static_cast<unsigned>(value);
    }
    records.push_back(record);
  }
  return records;
}

}  // namespace

std::vector<std::string> SimInputRun::responses() const {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(out.substr(start));  // unterminated: shows up as a wrong line
      break;
    }
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<HidRecord> SimInputRun::calls(const std::string& call) const {
  std::vector<HidRecord> matching;
  for (const auto& record : records) {
    if (record.call == call) matching.push_back(record);
  }
  return matching;
}

SimInputRun runSimInput(const SimInputOptions& options) {
  int input[2], output[2], error[2];
  check(pipe2(input, O_CLOEXEC) == 0 && pipe2(output, O_CLOEXEC) == 0 && pipe2(error, O_CLOEXEC) == 0, "pipe2");
  const int recordFd = memfd_create("hid-records", MFD_CLOEXEC);
  check(recordFd > kChildRecordFd, "memfd_create");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, error[1], 2);
  posix_spawn_file_actions_adddup2(&actions, recordFd, kChildRecordFd);
  // The test ignores SIGPIPE so that writing to an exited program fails softly; the
  // program gets the default disposition back.
  signal(SIGPIPE, SIG_IGN);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  const std::vector<std::string> environment = childEnvironment(options);
  std::vector<char*> envp;
  for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(CORVANE_SIM_INPUT_BINARY), nullptr};

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, CORVANE_SIM_INPUT_BINARY, &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  errno = spawned;
  check(spawned == 0, "posix_spawn");
  if (!options.keepInputOpen) close(input[0]);
  close(output[1]);
  close(error[1]);
  if (options.closeOutput) close(output[0]);
  fcntl(input[1], F_SETFL, O_NONBLOCK);

  SimInputRun run;
  const auto deadline = Clock::now() + kDeadline;
  size_t written = 0;
  int writeFd = input[1];
  auto finishWriting = [&] {
    if (!options.keepInputOpen) close(writeFd);
    writeFd = -1;
  };
  if (options.input.empty()) finishWriting();
  int readFds[2] = {options.closeOutput ? -1 : output[0], error[0]};
  std::string* sinks[2] = {&run.out, &run.err};
  while ((readFds[0] >= 0 || readFds[1] >= 0) && !run.timedOut) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      run.timedOut = true;
      break;
    }
    pollfd fds[3] = {{readFds[0], POLLIN, 0}, {readFds[1], POLLIN, 0}, {writeFd, POLLOUT, 0}};
    if (poll(fds, 3, static_cast<int>(left)) < 0) {
      check(errno == EINTR, "poll");
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        readFds[i] = -1;
      }
    }
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      const ssize_t n = write(writeFd, options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size()) finishWriting();
    }
  }

  int status = 0;
  while (!run.timedOut && waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) run.timedOut = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling the exit, not a synchronisation sleep
  }
  if (run.timedOut) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    run.exitStatus = WEXITSTATUS(status);
  }
  for (int fd : readFds) {
    if (fd >= 0) close(fd);
  }
  if (writeFd >= 0 && !options.keepInputOpen) close(writeFd);
  if (options.keepInputOpen) {
    fcntl(input[0], F_SETFL, O_NONBLOCK);
    run.unreadInput = readAll(input[0]);
    close(input[0]);
    close(input[1]);
  }
  lseek(recordFd, 0, SEEK_SET);
  run.records = parseRecords(readAll(recordFd));
  close(recordFd);
  return run;
}

SimInputRun runRequests(const std::string& input, const std::string& preload) {
  SimInputRun run = runSimInput({.input = input, .preload = preload});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  return run;
}

}  // namespace sim_input_testing
