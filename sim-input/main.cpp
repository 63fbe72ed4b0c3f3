// corvane-sim-input: runs inside a simulated device, reads one JSON request per line on
// standard input and injects keyboard-class HID events into the device's HID event
// system, answering every request with exactly one compact JSON line on standard output,
// in request order. It writes nothing else to either output stream.
//
// Requests: {"cmd":"key","page":P,"usage":U,"down":D} makes one key transition;
// {"cmd":"button","page":P,"usage":U} makes a press, holds it 60 ms and makes a release.
// Exit status: 1 when the HID event system is unavailable at start-up (input is then
// never read), 0 at the end of input. Nothing else ends it: SIGPIPE is ignored, so a
// reader that closes standard output only makes the responses go nowhere.
//
// One thread. Requests are handled strictly one after another; a "button" request holds
// the loop for its 60 ms press while later lines wait in the input stream.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim-input/request_handling.h"

using sim_input::handleRequestLine;
using sim_input::respond;
using sim_input::startHIDEventSystem;

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  if (!startHIDEventSystem()) {
    respond(false, "HID event system unavailable");
    return 1;
  }
  // A last line without a line feed still counts; end of input and read errors end the run.
  char* buffer = nullptr;
  size_t capacity = 0;
  for (;;) {
    const ssize_t length = getline(&buffer, &capacity, stdin);
    if (length < 0) break;
    handleRequestLine(std::string(buffer, static_cast<size_t>(length)));
  }
  std::free(buffer);
  return 0;
}
