// The end-to-end fixture of the input tests: a real bridge over pipes, on the virtual
// simulator's catalog, once for each bridge program (testing_support::bridgeBinaries).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/bridge_process.h"
#include "tests/support/param_name.h"

namespace input_test {

using nlohmann::json;

inline constexpr const char* kVirtualPhone = "7E57DE71-CE00-4000-8000-000000000001";
inline constexpr const char* kVirtualTV = "7E57DE71-CE00-4000-8000-000000000003";
inline constexpr const char* kStaleInputPhone = "7E57DE71-CE00-4000-8000-000000000007";
inline constexpr int kPhoneWidth = 1179;
inline constexpr int kPhoneHeight = 2556;
inline constexpr int kTVWidth = 1920;
inline constexpr int kTVHeight = 1080;

class InputEndToEnd : public testing::TestWithParam<testing_support::BridgeBinary> {
 protected:
  json ask(const json& request) {
    const std::optional<std::string> response = bridge_.request(request.dump());
    EXPECT_TRUE(response.has_value()) << "no response to " << request;
    return response ? json::parse(*response) : json();
  }

  uint16_t startCapture(const char* udid) {
    const json response = ask({{"cmd", "start_capture"}, {"udid", udid}});
    EXPECT_EQ(response.value("ok", false), true) << response;
    return response.value("port", uint16_t{0});
  }

  json touch(const char* udid, double x, double y, int type) {
    return ask({{"cmd", "touch"}, {"udid", udid}, {"x", x}, {"y", y}, {"type", type}});
  }

  void TearDown() override {
    bridge_.closeStdin();
    EXPECT_EQ(bridge_.waitForExit(), 0);
    if (HasFailure()) {
      for (const std::string& line : bridge_.stderrLines()) std::cerr << "bridge: " << line << '\n';
    }
  }

  testing_support::BridgeProcess bridge_{GetParam().path};
  const json ok_ = {{"ok", true}};
};

}  // namespace input_test
