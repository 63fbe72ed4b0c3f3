// corvane-sim-input: runs inside a simulated device, reads one JSON request per line on
// standard input and injects keyboard-class HID events into the device's HID event
// system, answering every request with exactly one compact JSON line on standard output,
// in request order. It writes nothing else to either output stream.
//
// Requests: {"cmd":"key","page":P,"usage":U,"down":D} makes one key transition;
// {"cmd":"button","page":P,"usage":U} makes a press, holds it 60 ms and makes a release.
// Exit status: 1 when the HID event system is unavailable at start-up (input is then
// never read), 0 at the end of input.
//
// One thread. Requests are handled strictly one after another; a "button" request holds
// the loop for its 60 ms press while later lines wait in the input stream.

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "hid_event_system.h"
#include "host_clock.h"

namespace {

using Json = nlohmann::json;

// Set once at start-up, kept until exit. Main thread only.
IOHIDEventSystemClientCreateFunction gClientCreate = nullptr;
IOHIDEventCreateKeyboardEventFunction gKeyboardEvent = nullptr;
IOHIDEventSystemClientDispatchEventFunction gDispatch = nullptr;
// The event-system client made at start-up; never released.
IOHIDEventSystemClientRef gClient = nullptr;

// How long a "button" request holds its press before the release.
constexpr useconds_t kButtonHoldMicroseconds = 60000;

// Writes one response line and flushes it, so the caller sees it before the next request
// is read. "ok" comes first; "error" is added only to a failure that carries a message.
void respond(bool ok, const std::optional<std::string>& error = std::nullopt) {
  nlohmann::ordered_json response;
  response["ok"] = ok;
  if (!ok && error) response["error"] = *error;
  // Request strings were checked as UTF-8 by the parser; replace rather than throw anyway.
  const std::string line = response.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// "page" and "usage" must be whole numbers from 0 to 4294967295. JSON does not tell 7
// from 7.0, so an integral float counts like the integer; a fraction, a negative or larger
// value, or anything that is not a number is treated as absent.
std::optional<uint32_t> wholeUInt32(const Json& value) {
  constexpr uint64_t kMax = UINT32_MAX;
  if (value.is_number_unsigned()) {
    const auto number = value.get<uint64_t>();
    if (number <= kMax) return static_cast<uint32_t>(number);
  } else if (value.is_number_integer()) {
    const auto number = value.get<int64_t>();
    if (number >= 0 && static_cast<uint64_t>(number) <= kMax) return static_cast<uint32_t>(number);
  } else if (value.is_number_float()) {
    const auto number = value.get<double>();
    if (number >= 0.0 && number <= static_cast<double>(kMax) && std::floor(number) == number) {
      return static_cast<uint32_t>(number);
    }
  }
  return std::nullopt;
}

std::optional<uint32_t> wholeUInt32Member(const Json& request, const char* name) {
  const auto member = request.find(name);
  if (member == request.end()) return std::nullopt;
  return wholeUInt32(*member);
}

// "down" of a "key" request: a boolean as given, a number true when non-zero; anything
// else counts as absent, which means up.
bool downFlag(const Json& request) {
  const auto member = request.find("down");
  if (member == request.end()) return false;
  if (member->is_boolean()) return member->get<bool>();
  if (member->is_number_float()) return member->get<double>() != 0.0;
  if (member->is_number_unsigned()) return member->get<uint64_t>() != 0;
  if (member->is_number_integer()) return member->get<int64_t>() != 0;
  return false;
}

// Makes one keyboard event stamped with the host clock read just before, dispatches it
// through gClient and releases it. True when the event was made; the dispatch reports no
// outcome.
bool makeEvent(uint32_t page, uint32_t usage, bool down) {
  const uint64_t timestamp = hostClockTicks();
  IOHIDEventRef event = gKeyboardEvent(kDefaultAllocator, timestamp, page, usage, down ? 1 : 0, 0);
  if (event == nullptr) return false;
  gDispatch(gClient, event);
  CFRelease(event);
  return true;
}

void handleKey(uint32_t page, uint32_t usage, bool down) {
  if (makeEvent(page, usage, down)) {
    respond(true);
  } else {
    respond(false, down ? "key down failed" : "key up failed");
  }
}

// A refused press answers at once: no hold, no release.
void handleButton(uint32_t page, uint32_t usage) {
  if (!makeEvent(page, usage, true)) {
    respond(false, "button down failed");
    return;
  }
  usleep(kButtonHoldMicroseconds);
  if (makeEvent(page, usage, false)) {
    respond(true);
  } else {
    respond(false, "button up failed");
  }
}

// Answers one request line (its line feed, if any, included) with exactly one response.
void handleLine(const std::string& line) {
  const Json request = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (request.is_discarded() || !request.is_object()) {
    respond(false, "invalid JSON");
    return;
  }
  // Every field is checked before the command name is looked at.
  const auto cmd = request.find("cmd");
  const auto page = wholeUInt32Member(request, "page");
  const auto usage = wholeUInt32Member(request, "usage");
  if (cmd == request.end() || !cmd->is_string() || !page || !usage) {
    respond(false, "missing required field(s)");
    return;
  }
  const auto& name = cmd->get_ref<const std::string&>();
  if (name == "key") {
    handleKey(*page, *usage, downFlag(request));
  } else if (name == "button") {
    handleButton(*page, *usage);
  } else {
    respond(false, "unknown command '" + name + "'");
  }
}

// Resolves the three HID functions and makes the client. False when any of them is
// missing.
bool startHIDEventSystem() {
  // Not checked: the lookups below find the functions in whichever image defines them.
  (void)dlopen(kHIDFrameworkPath, RTLD_NOW | RTLD_GLOBAL);
  gClientCreate = reinterpret_cast<IOHIDEventSystemClientCreateFunction>(dlsym(RTLD_DEFAULT, kClientCreateName));
  gKeyboardEvent = reinterpret_cast<IOHIDEventCreateKeyboardEventFunction>(dlsym(RTLD_DEFAULT, kKeyboardEventName));
  gDispatch = reinterpret_cast<IOHIDEventSystemClientDispatchEventFunction>(dlsym(RTLD_DEFAULT, kDispatchName));
  if (gClientCreate == nullptr || gKeyboardEvent == nullptr || gDispatch == nullptr) return false;
  gClient = gClientCreate(kDefaultAllocator);
  return gClient != nullptr;
}

}  // namespace

int main() {
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
    handleLine(std::string(buffer, static_cast<size_t>(length)));
  }
  std::free(buffer);
  return 0;
}
