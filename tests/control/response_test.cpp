// Response lines: compact JSON, the "ok" key, and the stand-in for unserialisable ones.
#include "bridge/control/response.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class ResponseTest : public testing::Test {
 protected:
  void SetUp() override {
    setResponseSinkForTesting([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override { setResponseSinkForTesting({}); }
  std::vector<std::string> lines_;
};

TEST_F(ResponseTest, WritesOneCompactLinePerResponse) {
  respond(true, {{"port", 40123}, {"name", "caf\xC3\xA9 \"q\""}});
  respond(false, {{"rcDown", -1}, {"rcUp", 0}});
  respondFailure("invalid JSON");
  respond(true);
  ASSERT_EQ(lines_.size(), 4u);
  for (const std::string& line : lines_) {
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.find(": "), std::string::npos);
  }
  EXPECT_EQ(nlohmann::json::parse(lines_[0]),
            (nlohmann::json{{"ok", true}, {"port", 40123}, {"name", "caf\xC3\xA9 \"q\""}}));
  EXPECT_EQ(nlohmann::json::parse(lines_[1]), (nlohmann::json{{"ok", false}, {"rcDown", -1}, {"rcUp", 0}}));
  EXPECT_EQ(nlohmann::json::parse(lines_[2]), (nlohmann::json{{"ok", false}, {"error", "invalid JSON"}}));
  EXPECT_EQ(lines_[3], "{\"ok\":true}\n");
}

TEST_F(ResponseTest, AnOkEntryInExtrasReplacesTheFirst) {
  respond(true, {{"ok", false}});
  EXPECT_EQ(lines_.at(0), "{\"ok\":false}\n");
}

TEST_F(ResponseTest, UnserialisableResponseBecomesTheFixedLine) {
  respond(false, {{"error", std::string("bad \xFF byte")}});
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], "{\"ok\":false,\"error\":\"failed to serialize response\"}\n");
  EXPECT_EQ(lines_[0].size(), 52u);  // 51 bytes and the line feed
}

}  // namespace
