#include "bridge/control/response.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace {

std::function<void(std::string_view)> g_sink;  // command thread only (and tests)

void _writeLine(std::string_view line) {
  if (g_sink) {
    g_sink(line);
    return;
  }
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // reader gone: the response is lost, the bridge goes on
    data += written;
    left -= static_cast<size_t>(written);
  }
}

}  // namespace

void writeResponse(const nlohmann::json& response) {
  std::string line;
  try {
    // The strict error handler throws on strings that are not valid UTF-8.
    line = response.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    line = kSerializeFailureLine;
  }
  line += '\n';
  _writeLine(line);
}

void respond(bool ok, const nlohmann::json& extras) {
  nlohmann::json response = nlohmann::json::object();
  response["ok"] = ok;
  if (extras.is_object()) {
    for (const auto& [key, value] : extras.items()) response[key] = value;
  }
  writeResponse(response);
}

void respondFailure(std::string_view message) { respond(false, {{"error", message}}); }

void setResponseSinkForTesting(std::function<void(std::string_view line)> sink) { g_sink = std::move(sink); }
