// corvane-sim-input's request handling: start-up of the HID event system and the answer
// to one request line. main.cpp reads the lines; everything a request does happens here.
//
// One thread (the main thread) calls everything below, one request at a time.
#pragma once

#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sim_input {

// Resolves the three HID functions by name over every loaded image and makes the one
// client. False when any of them is missing or no client is made. Call once, first.
bool startHIDEventSystem();

// Writes one response line ({"ok":ok} plus "error" on a failure that carries a message)
// and flushes it, so the caller sees it before the next request is read. A line that
// cannot be written is dropped.
void respond(bool ok, const std::optional<std::string>& error = std::nullopt);

// Answers one request line (its line feed, if any, included) with exactly one response.
// Needs a successful startHIDEventSystem. A "button" request blocks for its 60 ms hold.
void handleRequestLine(const std::string& line);

// Test seams, for in-process callers only; the program itself never installs them.
// While a sink is installed, each response line (without its line feed) goes to it
// instead of standard output. While a sleeper is installed, a "button" request's hold
// calls it with the hold in microseconds instead of sleeping. Pass an empty function to
// restore the real behaviour.
void setResponseSinkForTesting(std::function<void(std::string_view line)> sink);
void setButtonHoldSleeperForTesting(std::function<void(useconds_t microseconds)> sleeper);

}  // namespace sim_input
