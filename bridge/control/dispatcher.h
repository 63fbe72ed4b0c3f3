// The command dispatcher: routes a request by its "cmd", reads the command's fields,
// calls the subsystem entries and writes exactly one response.
//
// Everything here runs on the command thread (the main thread), one request at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// Handles one request (a JSON object) and writes its one response. Command thread.
void dispatch(const nlohmann::json& request);

// The remote encoder's parameters, each clamped into the signed 32-bit range.
struct RemoteParams {
  int32_t bitrate = 0;
  int32_t maxDim = 0;
  int32_t fps = 30;
};

// "bitrate" and "maxDim" (integers, required) and "fps" (integer, 30 when missing),
// clamped; nothing when a required one is missing. Pure.
std::optional<RemoteParams> remoteParams(const nlohmann::json& request);

// The failure text for a code-returning call: `prefix` (ending in "returned ")
// followed by the code in decimal. Pure.
std::string returnedMessage(const char* prefix, int32_t code);

// Test reset: forgets both streams' servers (they keep running) so that the next
// commands start new ones.
void resetDispatcherStateForTesting();
