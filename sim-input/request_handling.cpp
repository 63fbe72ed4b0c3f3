#include "sim-input/request_handling.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "sim-input/hid_event_system.h"
#include "sim-input/host_clock.h"

namespace sim_input {
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

// Test seams; empty in the program. Main thread only.
std::function<void(std::string_view)> gResponseSink;
std::function<void(useconds_t)> gHoldSleeper;

void holdButton() {
  if (gHoldSleeper) return gHoldSleeper(kButtonHoldMicroseconds);
  usleep(kButtonHoldMicroseconds);
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
  holdButton();
  if (makeEvent(page, usage, false)) {
    respond(true);
  } else {
    respond(false, "button up failed");
  }
}

}  // namespace

void respond(bool ok, const std::optional<std::string>& error) {
  nlohmann::ordered_json response;
  response["ok"] = ok;
  if (!ok && error) response["error"] = *error;
  // Request strings were checked as UTF-8 by the parser; replace rather than throw anyway.
  const std::string line = response.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (gResponseSink) return gResponseSink(line);
  // A response that cannot be written (the reader closed standard output) is dropped;
  // clearing the error lets a later one through should standard output work again.
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  if (std::fflush(stdout) != 0) std::clearerr(stdout);
}

void handleRequestLine(const std::string& line) {
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

void setResponseSinkForTesting(std::function<void(std::string_view line)> sink) { gResponseSink = std::move(sink); }

void setButtonHoldSleeperForTesting(std::function<void(useconds_t microseconds)> sleeper) {
  gHoldSleeper = std::move(sleeper);
}

}  // namespace sim_input
