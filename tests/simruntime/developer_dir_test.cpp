#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "bridge/simruntime/sim_runtime.h"
#include "tests/simruntime/sim_runtime_fixture.h"

namespace {

using simruntime_test::ScratchDir;

// Runs the tool on another thread so that a hang fails the test instead of the run.
std::optional<std::string> devDirWithin(const std::string& tool, std::chrono::seconds deadline) {
  auto result = std::make_shared<std::promise<std::string>>();
  auto future = result->get_future();
  std::thread([tool, result] { result->set_value(xcodeDevDirFromTool(tool)); }).detach();
  if (future.wait_for(deadline) != std::future_status::ready) return std::nullopt;
  return future.get();
}

TEST(DeveloperDir, OutputIsTrimmedOfWhiteSpaceAndLineBreaks) {
  ScratchDir dir;
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("plain", "printf '/Applications/Xcode.app/Contents/Developer\\n'")),
            "/Applications/Xcode.app/Contents/Developer");
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("spaced", "printf ' \\t\\r\\n/opt/Xcode beta/Developer \\r\\n\\n'")),
            "/opt/Xcode beta/Developer");
  // Non-ASCII separators count as white space too; other characters stay.
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("unicode", "printf '\\342\\200\\250/opt/X\\303\\251\\302\\240'")),
            "/opt/X\xC3\xA9");
}

TEST(DeveloperDir, NoOutputOrNoToolGivesTheEmptyDirectory) {
  ScratchDir dir;
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("silent", "exit 0")), "");
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("blank", "printf ' \\n\\n'")), "");
  EXPECT_EQ(xcodeDevDirFromTool(dir.path() + "/missing-tool"), "");
  std::string notExecutable = dir.touch("not-executable");
  EXPECT_EQ(xcodeDevDirFromTool(notExecutable), "");
}

TEST(DeveloperDir, InvalidUtf8GivesTheDefaultDirectory) {
  ScratchDir dir;
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("latin1", "printf '/Applications/Xcod\\351.app\\n'")),
            kDefaultDeveloperDir);
  EXPECT_EQ(xcodeDevDirFromTool(dir.script("cut", "printf '/opt/\\342\\202'")), kDefaultDeveloperDir);
}

TEST(DeveloperDir, OnlyStandardOutputCountsAndTheExitStatusIsIgnored) {
  ScratchDir dir;
  std::string tool = dir.script("noisy", "echo 'xcode-select: note' >&2\nprintf '/opt/dev\\n'\nexit 3");
  EXPECT_EQ(xcodeDevDirFromTool(tool), "/opt/dev");
}

TEST(DeveloperDir, ToolIsGivenTheSingleArgumentDashP) {
  ScratchDir dir;
  std::string tool = dir.script("args", "printf '%s|' \"$#\" \"$@\"");
  EXPECT_EQ(xcodeDevDirFromTool(tool), "1|-p|");
}

TEST(DeveloperDir, OutputLargerThanAPipeHoldsIsReadWithoutHanging) {
  ScratchDir dir;
  // 1 MiB of spaces, then the directory: far more than a pipe buffers.
  std::string tool = dir.script("large", "head -c 1048576 /dev/zero | tr '\\0' ' '\nprintf '/opt/dev\\n'");
  auto devDir = devDirWithin(tool, std::chrono::seconds(60));
  ASSERT_TRUE(devDir.has_value()) << "reading the tool's output hung";
  EXPECT_EQ(*devDir, "/opt/dev");

  std::string bulky = dir.script("bulky", "head -c 1048576 /dev/zero | tr '\\0' 'a'");
  auto all = devDirWithin(bulky, std::chrono::seconds(60));
  ASSERT_TRUE(all.has_value()) << "reading the tool's output hung";
  EXPECT_EQ(all->size(), 1048576u);
}

TEST(Utf8Validation, AcceptsWellFormedAndRejectsMalformedSequences) {
  EXPECT_TRUE(_isValidUtf8(""));
  EXPECT_TRUE(_isValidUtf8(std::string("a\0b", 3)));
  EXPECT_TRUE(_isValidUtf8("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  for (std::string bad : {"\x80", "\xC3", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                          "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF"}) {
    SCOPED_TRACE(testing::PrintToString(bad));
    EXPECT_FALSE(_isValidUtf8(bad));
  }
}

TEST(Utf8Validation, TrimmingStopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(_trimWhitespaceAndNewlines("\xE3\x80\x80\xC2\x85x y\xE2\x80\xA9\x0B"), "x y");
  EXPECT_EQ(_trimWhitespaceAndNewlines("\xE2\x80\x8B" "x"), "\xE2\x80\x8B" "x");  // zero-width space stays
  EXPECT_EQ(_trimWhitespaceAndNewlines(" \xC3\xA9 "), "\xC3\xA9");
}

}  // namespace
