// Runs the real corvane-sim-input over pipes for the tests, against the HID stand-in,
// and collects what it wrote, its exit status and the stand-in's record of HID calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim_input_testing {

// One line of the stand-in's record (format in sim-input/hid_standin.h).
struct HidRecord {
  std::string call;     // "client", "create", "dispatch" or "release"
  uint32_t page = 0;
  uint32_t usage = 0;
  bool down = false;
  uint64_t time = 0;
  unsigned client = 0;  // "dispatch" and "client" lines
  bool made = false;    // "create" lines: the event was made, not refused
};

struct SimInputOptions {
  std::string input;              // written to the program's standard input
  bool keepInputOpen = false;     // leave standard input open after writing `input`
  std::string preload;            // library to preload ahead of the stand-in, if any
  bool closeOutput = false;       // close the reading end of standard output at once
};

struct SimInputRun {
  std::string out;                // everything written to standard output
  std::string err;                // everything written to standard error
  int exitStatus = -1;            // -1 unless the program exited normally
  bool timedOut = false;          // killed after the deadline
  std::string unreadInput;        // with keepInputOpen: input the program never read
  std::vector<HidRecord> records;

  std::vector<std::string> responses() const;  // standard output split at line feeds
  std::vector<HidRecord> calls(const std::string& call) const;
};

// Starts the program, feeds it, waits for it to exit (killing it after a generous
// deadline) and returns what happened. Blocks; call from the test thread.
SimInputRun runSimInput(const SimInputOptions& options);

// Runs the program on `input` to the end of input and expects a clean run: exit status 0
// in time and nothing on standard error.
SimInputRun runRequests(const std::string& input, const std::string& preload = "");

}  // namespace sim_input_testing
