// Fuzzes corvane-sim-input's request handling in process, against the HID stand-in
// library (which makes, records nothing of, and frees every event) and with the button
// hold replaced by a no-op. The input is split into lines as the program's reader splits
// standard input: at line feeds, each line keeping its line feed, a last line without
// one included. Every line, blank or not, must get exactly one response: one JSON object
// with a boolean "ok" and, when present, a string "error" on a failure only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim-input/request_handling.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "sim_input_request_fuzzer: %s: [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

std::vector<std::string> g_responses;  // fuzzer thread only

void setUpOnce() {
  static const bool done = [] {
    if (!sim_input::startHIDEventSystem()) fail("HID stand-in not found", "");
    sim_input::setResponseSinkForTesting([](std::string_view line) { g_responses.emplace_back(line); });
    sim_input::setButtonHoldSleeperForTesting([](useconds_t) {});
    return true;
  }();
  (void)done;
}

void checkResponse(std::string_view line) {
  if (line.find('\n') != std::string_view::npos) fail("line feed inside a response", line);
  const nlohmann::json response = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!response.is_object()) fail("response is not a JSON object", line);
  const auto ok = response.find("ok");
  if (ok == response.end() || !ok->is_boolean()) fail("response without a boolean \"ok\"", line);
  const auto error = response.find("error");
  if (error != response.end() && (!error->is_string() || ok->get<bool>())) fail("misplaced \"error\"", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setUpOnce();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < input.size()) {
    const size_t newline = input.find('\n', start);
    const size_t end = newline == std::string_view::npos ? input.size() : newline + 1;
    const std::string line(input.substr(start, end - start));
    start = end;

    g_responses.clear();
    sim_input::handleRequestLine(line);
    if (g_responses.size() != 1) {
      std::fprintf(stderr, "sim_input_request_fuzzer: %zu responses\n", g_responses.size());
      fail("not exactly one response to line", line);
    }
    checkResponse(g_responses.front());
  }
  return 0;
}
