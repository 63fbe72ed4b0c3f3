// The dispatcher through the real bridge: routing, field kinds as a client sees them,
// and the stream servers that the capture and remote-stream commands leave behind.
#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/bridge_process.h"

namespace {

using testing_support::BridgeProcess;
using nlohmann::json;

json failure(const std::string& message) { return {{"ok", false}, {"error", message}}; }

class DispatcherProtocol : public testing::Test {
 protected:
  json ask(const std::string& line) {
    const std::optional<std::string> response = bridge_.request(line);
    EXPECT_TRUE(response.has_value()) << "no response to " << line;
    return response ? json::parse(*response) : json();
  }
  json ask(const char* line) { return ask(std::string(line)); }
  json ask(const json& request) { return ask(request.dump()); }

  // True when the fields were taken and the command went on to its injection entry
  // (which may fail with a code of its own), false when it reported missing fields.
  bool fieldsAccepted(const json& request, const std::string& command) {
    const json response = ask(request);
    if (response == failure(command + ": missing required field(s)")) return false;
    EXPECT_TRUE(response.value("ok", false) || response.contains("rc") || response.contains("rcDown") ||
                response.value("error", "").starts_with(command + ": sc_indigo_"))
        << response;
    return true;
  }

  void TearDown() override {
    bridge_.closeStdin();
    EXPECT_EQ(bridge_.waitForExit(), 0);
  }

  BridgeProcess bridge_;
};

TEST_F(DispatcherProtocol, RoutesByExactCommandName) {
  EXPECT_EQ(ask("{}"), failure("missing 'cmd' field"));
  EXPECT_EQ(ask(R"({"cmd":5})"), failure("missing 'cmd' field"));
  EXPECT_EQ(ask(R"({"cmd":null,"udid":"x"})"), failure("missing 'cmd' field"));
  EXPECT_EQ(ask(R"({"cmd":"Stop_Capture"})"), failure("unknown command 'Stop_Capture'"));
  EXPECT_EQ(ask(R"({"cmd":" stop_capture"})"), failure("unknown command ' stop_capture'"));
  EXPECT_EQ(ask(R"({"cmd":""})"), failure("unknown command ''"));
  // Unused keys are ignored.
  EXPECT_EQ(ask(R"({"cmd":"stop_capture","extra":[1,2,{"a":null}]})"), json({{"ok", true}}));
}

TEST_F(DispatcherProtocol, CommandsThatCannotFailAnswerOkWithNothingRunning) {
  for (const char* cmd : {"stop_capture", "refresh_display", "stop_remote_stream"}) {
    EXPECT_EQ(ask(json{{"cmd", cmd}}), json({{"ok", true}})) << cmd;
  }
  EXPECT_EQ(ask(R"({"cmd":"set_stream_params","bitrate":500000,"maxDim":640})"), json({{"ok", true}}));
  EXPECT_EQ(ask(R"({"cmd":"display_info"})"), failure("display_info: no display being captured"));
}

int threadCount(pid_t pid) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    count += entry.is_directory() ? 1 : 0;
  }
  return count;
}

TEST_F(DispatcherProtocol, StartCaptureFieldsAndFailureLeaveOneServerListening) {
  EXPECT_EQ(ask(R"({"cmd":"start_capture"})"), failure("start_capture: missing 'udid'"));
  EXPECT_EQ(ask(R"({"cmd":"start_capture","udid":12})"), failure("start_capture: missing 'udid'"));
  EXPECT_EQ(bridge_.countListeningSockets(), 0);  // a field error starts no server

  // Every later start_capture reuses the first one's server, failed ones included, so
  // a controlling application that tries device after device leaks no socket or thread.
  const std::string unknown = R"({"cmd":"start_capture","udid":"00000000-0000-0000-0000-00000000DEAD"})";
  EXPECT_EQ(ask(unknown), failure("start_capture: cs_start_framebuffer returned -1"));
  EXPECT_EQ(bridge_.countListeningSockets(), 1);
  const int threads = threadCount(bridge_.pid());
  for (int i = 0; i < 200; ++i) ASSERT_EQ(ask(unknown), failure("start_capture: cs_start_framebuffer returned -1"));
  EXPECT_EQ(bridge_.countListeningSockets(), 1);
  EXPECT_EQ(threadCount(bridge_.pid()), threads);
  EXPECT_EQ(ask(R"({"cmd":"stop_capture"})"), json({{"ok", true}}));
  EXPECT_EQ(bridge_.countListeningSockets(), 1);
}

TEST_F(DispatcherProtocol, RemoteStreamHasOneServerForTheProcess) {
  EXPECT_EQ(ask(R"({"cmd":"start_remote_stream","bitrate":1000000})"),
            failure("start_remote_stream: missing 'bitrate'/'maxDim'"));
  EXPECT_EQ(ask(R"({"cmd":"start_remote_stream","bitrate":1000000,"maxDim":"720"})"),
            failure("start_remote_stream: missing 'bitrate'/'maxDim'"));
  EXPECT_EQ(bridge_.countListeningSockets(), 0);

  const json first = ask(R"({"cmd":"start_remote_stream","bitrate":1000000,"maxDim":720,"fps":"20"})");
  ASSERT_EQ(first.size(), 2u) << first;
  ASSERT_EQ(first["ok"], true);
  const uint16_t port = first["port"].get<uint16_t>();
  EXPECT_NE(port, 0);
  EXPECT_EQ(ask(R"({"cmd":"stop_remote_stream"})"), json({{"ok", true}}));
  EXPECT_EQ(ask(R"({"cmd":"start_remote_stream","bitrate":2000000,"maxDim":1080,"fps":60})"),
            json({{"ok", true}, {"port", port}}));
  EXPECT_EQ(bridge_.countListeningSockets(), 1);

  testing_support::TcpClient client(port);
  EXPECT_TRUE(client.connected());
}

TEST_F(DispatcherProtocol, RemoteParamsAreClampedNotRefused) {
  const json ok = {{"ok", true}};
  EXPECT_EQ(ask(R"({"cmd":"set_stream_params","bitrate":99999999999,"maxDim":-99999999999,"fps":4294967296})"), ok);
  EXPECT_EQ(ask(R"({"cmd":"set_stream_params","bitrate":9223372036854775807,"maxDim":5.0})"), ok);
  for (const char* bad : {"5.5", "\"5\"", "18446744073709551616", "9223372036854775808", "true", "null"}) {
    EXPECT_EQ(ask(std::string(R"({"cmd":"set_stream_params","maxDim":720,"bitrate":)") + bad + "}"),
              failure("set_stream_params: missing 'bitrate'/'maxDim'"))
        << bad;
  }
}

TEST_F(DispatcherProtocol, FieldKindsAsTabled) {
  const json touch = {{"cmd", "touch"}, {"udid", "u"}, {"x", 0.5}, {"y", 0.5}, {"type", 0}};
  auto with = [](json request, const char* key, const json& value) {
    request[key] = value;
    return request;
  };
  // string
  EXPECT_FALSE(fieldsAccepted(with(touch, "udid", 12), "touch"));
  // number: any JSON number a double holds exactly; not strings or booleans.
  EXPECT_TRUE(fieldsAccepted(with(touch, "x", 9007199254740992ULL), "touch"));
  EXPECT_FALSE(fieldsAccepted(with(touch, "x", 9007199254740993ULL), "touch"));
  EXPECT_FALSE(fieldsAccepted(with(touch, "x", "0.5"), "touch"));
  EXPECT_FALSE(fieldsAccepted(with(touch, "x", true), "touch"));
  // integer within the range of a touch type
  EXPECT_TRUE(fieldsAccepted(with(touch, "type", 2.0), "touch"));
  EXPECT_FALSE(fieldsAccepted(with(touch, "type", 2.5), "touch"));
  EXPECT_FALSE(fieldsAccepted(with(touch, "type", 2147483648LL), "touch"));
  EXPECT_TRUE(fieldsAccepted(with(touch, "type", -2147483648LL), "touch"));

  const json key = {{"cmd", "keyboard"}, {"udid", "u"}, {"keyCode", 4}, {"modifierFlags", 0}, {"isDown", true}};
  // unsigned integer
  EXPECT_TRUE(fieldsAccepted(with(key, "modifierFlags", 18446744073709551615ULL), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "modifierFlags", -1), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "modifierFlags", 18446744073709551616.0), "keyboard"));
  // boolean: true/false and 1/0 only
  EXPECT_TRUE(fieldsAccepted(with(key, "isDown", 1), "keyboard"));
  EXPECT_TRUE(fieldsAccepted(with(key, "isDown", 0), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "isDown", 2), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "isDown", "true"), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "isDown", nullptr), "keyboard"));
  // key codes are 16-bit
  EXPECT_TRUE(fieldsAccepted(with(key, "keyCode", 65535), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "keyCode", 65536), "keyboard"));
  EXPECT_FALSE(fieldsAccepted(with(key, "keyCode", -1), "keyboard"));

  // hw_button values are unsigned 32-bit; an optional value of another kind is absent.
  const json hw = {{"cmd", "hw_button"}, {"udid", "u"}, {"keyCode", 1}, {"op", 1}};
  EXPECT_TRUE(fieldsAccepted(with(hw, "keyCode", 4294967295LL), "hw_button"));
  EXPECT_FALSE(fieldsAccepted(with(hw, "keyCode", 4294967296LL), "hw_button"));
  EXPECT_FALSE(fieldsAccepted(with(hw, "op", -1), "hw_button"));
  EXPECT_FALSE(fieldsAccepted(with(hw, "target", 4294967296LL), "hw_button"));
  EXPECT_TRUE(fieldsAccepted(with(hw, "target", "51"), "hw_button"));
}

}  // namespace
