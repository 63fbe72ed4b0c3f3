// Responses: the only thing the bridge ever writes to standard output.
//
// Every response is one compact JSON object on one line, followed by a line feed and
// written out at once. Only the command thread writes responses, so lines never
// interleave. A response that cannot be serialised (for example a string that is not
// valid UTF-8) is replaced by kSerializeFailureLine, so one request still gets exactly
// one line. Writes to a closed standard output fail silently.
#pragma once

#include <functional>
#include <string_view>

#include <nlohmann/json.hpp>

// The stand-in line for a response that cannot be serialised (without its line feed).
inline constexpr std::string_view kSerializeFailureLine = R"({"ok":false,"error":"failed to serialize response"})";

// Writes `response` (a JSON object) as one line. Command thread; blocks only in the
// write; never fails towards its caller.
void writeResponse(const nlohmann::json& response);

// Writes {"ok": ok} plus every entry of `extras` (an object; an "ok" entry in it
// replaces the first one). Command thread.
void respond(bool ok, const nlohmann::json& extras = nlohmann::json::object());

// Writes the failure response {"ok": false, "error": message}. Command thread.
void respondFailure(std::string_view message);

// Test seam: while a sink is installed, each response line (with its line feed) goes to
// the sink instead of standard output. Pass an empty function to restore stdout.
void setResponseSinkForTesting(std::function<void(std::string_view line)> sink);
