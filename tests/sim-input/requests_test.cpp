// corvane-sim-input's request loop, driven through the real program and the HID stand-in.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sim-input/sim_input_process.h"

namespace {

using sim_input_testing::HidRecord;
using sim_input_testing::runRequests;

const std::string kOk = R"({"ok":true})";
const std::string kInvalidJson = R"({"ok":false,"error":"invalid JSON"})";
const std::string kMissingFields = R"x({"ok":false,"error":"missing required field(s)"})x";

std::string failure(const std::string& message) { return R"({"ok":false,"error":")" + message + R"("})"; }

std::string lines(const std::vector<std::string>& each) {
  std::string text;
  for (const auto& line : each) text += line + "\n";
  return text;
}

TEST(SimInputRequests, LinesThatAreNotJsonObjectsAreInvalidJsonAndTheLoopGoesOn) {
  const std::string deepArray = std::string(100000, '[') + std::string(100000, ']');
  const auto run = runRequests(lines({
      "",
      " \t ",
      "[1,2]",
      "42",
      R"("key")",
      "null",
      R"({"cmd":"key","page":7)",
      R"({"cmd":"key","page":7,"usage":4} x)",
      "{\"cmd\":\"k\xff\",\"page\":7,\"usage\":4}",
      std::string("{\"cmd\":\"key\",\0\"page\":7,\"usage\":4}", 33),
      deepArray,
      R"({"cmd":"key","page":7,"usage":4})",
  }));
  std::vector<std::string> expected(11, kInvalidJson);
  expected.push_back(kOk);
  EXPECT_EQ(run.responses(), expected);
  EXPECT_EQ(run.calls("create").size(), 1u);
}

TEST(SimInputRequests, LineEndingInCarriageReturnAndLineFeedParses) {
  const auto run = runRequests("{\"cmd\":\"key\",\"page\":7,\"usage\":4,\"down\":true}\r\n");
  EXPECT_EQ(run.responses(), std::vector<std::string>{kOk});
  ASSERT_EQ(run.calls("dispatch").size(), 1u);
  EXPECT_TRUE(run.calls("dispatch")[0].down);
}

TEST(SimInputRequests, AbsentOrUnusableFieldsAreMissingBeforeTheCommandIsLookedAt) {
  const std::vector<std::string> requests = {
      R"({"cmd":"key","page":7})",
      R"({"cmd":1,"page":7,"usage":4})",
      R"({"page":7,"usage":4})",
      R"({"cmd":null,"page":7,"usage":4})",
      R"({"cmd":"key","usage":4})",
      R"({"cmd":"key","page":"7","usage":4})",
      R"({"cmd":"key","page":7.5,"usage":4})",
      R"({"cmd":"key","page":-1,"usage":4})",
      R"({"cmd":"key","page":7,"usage":4294967296})",
      R"({"cmd":"key","page":7,"usage":18446744073709551616})",
      R"({"cmd":"key","page":true,"usage":4})",
      R"({"cmd":"key","page":7,"usage":null})",
      R"({"cmd":"button","page":7,"usage":1e300})",
      R"({"cmd":"press","page":[7],"usage":4})",
  };
  const auto run = runRequests(lines(requests));
  EXPECT_EQ(run.responses(), std::vector<std::string>(requests.size(), kMissingFields));
  EXPECT_TRUE(run.calls("create").empty());
}

TEST(SimInputRequests, WholeNumbersUpToUInt32MaxReachTheEventSystemUnchanged) {
  const auto run = runRequests(lines({
      R"({"cmd":"key","page":7.0,"usage":4e0,"down":true})",
      R"({"cmd":"key","page":4294967295,"usage":0})",
      R"({"cmd":"key","page":12,"usage":4294967295,"down":true})",
      R"({"cmd":"key","page":-0,"usage":4})",
  }));
  EXPECT_EQ(run.responses(),
            (std::vector<std::string>{kOk, failure("key up failed"), failure("key down failed"), failure("key up failed")}));
  const auto creates = run.calls("create");
  ASSERT_EQ(creates.size(), 4u);
  EXPECT_EQ(creates[0].page, 7u);
  EXPECT_EQ(creates[0].usage, 4u);
  EXPECT_EQ(creates[1].page, 4294967295u);
  EXPECT_EQ(creates[2].usage, 4294967295u);
  EXPECT_EQ(creates[3].page, 0u);
}

TEST(SimInputRequests, UnknownCommandIsNamedInTheError) {
  const auto run = runRequests(lines({
      R"({"cmd":"press","page":7,"usage":4})",
      R"({"cmd":"","page":7,"usage":4})",
      R"({"cmd":"Key","page":7,"usage":4})",
      R"({"cmd":"a\"b\\c\u00e9\u0000","page":7,"usage":4})",
  }));
  EXPECT_EQ(run.responses(), (std::vector<std::string>{
                                 failure("unknown command 'press'"),
                                 failure("unknown command ''"),
                                 failure("unknown command 'Key'"),
                                 failure("unknown command 'a\\\"b\\\\c\xc3\xa9\\u0000'"),
                             }));
  EXPECT_TRUE(run.calls("create").empty());
}

TEST(SimInputRequests, KeyMakesOneTransitionWhoseDirectionFollowsDown) {
  // "down": booleans as given, numbers true when non-zero, anything else as absent (up).
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},           {R"(,"down":true)", true}, {R"(,"down":false)", false},   {R"(,"down":1)", true},
      {R"(,"down":0)", false}, {R"(,"down":0.5)", true}, {R"(,"down":-2)", true},      {R"(,"down":0.0)", false},
      {R"(,"down":"true")", false}, {R"(,"down":null)", false}, {R"(,"down":[true])", false},
  };
  std::string input;
  for (const auto& [down, _] : cases) input += R"({"cmd":"key","page":7,"usage":4)" + down + "}\n";
  const auto run = runRequests(input);

  EXPECT_EQ(run.responses(), std::vector<std::string>(cases.size(), kOk));
  ASSERT_EQ(run.calls("client").size(), 1u);
  const unsigned client = run.calls("client")[0].client;
  // Each request: one event made, dispatched through the start-up client, then released.
  ASSERT_EQ(run.records.size(), 1 + 3 * cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("request " + std::to_string(i));
    const HidRecord& create = run.records[1 + 3 * i];
    const HidRecord& dispatch = run.records[2 + 3 * i];
    const HidRecord& release = run.records[3 + 3 * i];
    EXPECT_EQ(create.call, "create");
    EXPECT_TRUE(create.made);
    EXPECT_EQ(create.down, cases[i].second);
    EXPECT_EQ(dispatch.call, "dispatch");
    EXPECT_EQ(dispatch.client, client);
    EXPECT_EQ(dispatch.time, create.time);
    EXPECT_EQ(release.call, "release");
    EXPECT_EQ(release.time, create.time);
  }
}

TEST(SimInputRequests, RefusedKeyEventNamesItsDirectionAndIsNeitherDispatchedNorReleased) {
  const auto run = runRequests(lines({
      R"({"cmd":"key","page":0,"usage":4,"down":true})",
      R"({"cmd":"key","page":7,"usage":65536})",
      R"({"cmd":"key","page":7,"usage":4})",
  }));
  EXPECT_EQ(run.responses(), (std::vector<std::string>{failure("key down failed"), failure("key up failed"), kOk}));
  EXPECT_EQ(run.calls("create").size(), 3u);
  EXPECT_EQ(run.calls("dispatch").size(), 1u);
  EXPECT_EQ(run.calls("release").size(), 1u);
}

TEST(SimInputRequests, ButtonPressesHoldsAtLeast60MillisecondsAndReleasesWhateverDownSays) {
  const auto run = runRequests(lines({
      R"({"cmd":"button","page":12,"usage":233,"down":false})",
      R"({"cmd":"key","page":7,"usage":4,"down":true})",
  }));
  EXPECT_EQ(run.responses(), (std::vector<std::string>{kOk, kOk}));
  const auto dispatches = run.calls("dispatch");
  ASSERT_EQ(dispatches.size(), 3u);
  EXPECT_TRUE(dispatches[0].down);
  EXPECT_FALSE(dispatches[1].down);
  EXPECT_EQ(dispatches[1].page, 12u);
  EXPECT_EQ(dispatches[1].usage, 233u);
  // Host clock ticks are nanoseconds here.
  EXPECT_GE(dispatches[1].time - dispatches[0].time, 60'000'000u);
  // The next request waits for the release.
  EXPECT_GE(dispatches[2].time, dispatches[1].time);
  EXPECT_EQ(run.calls("release").size(), 3u);
}

TEST(SimInputRequests, RefusedButtonPressAnswersWithoutAttemptingARelease) {
  const auto run = runRequests(lines({
      R"({"cmd":"button","page":0,"usage":233})",
      R"({"cmd":"key","page":7,"usage":4})",
  }));
  EXPECT_EQ(run.responses(), (std::vector<std::string>{failure("button down failed"), kOk}));
  const auto creates = run.calls("create");
  ASSERT_EQ(creates.size(), 2u);
  EXPECT_TRUE(creates[0].down);
  EXPECT_FALSE(creates[0].made);
  EXPECT_EQ(creates[1].page, 7u);  // the key request, not a release of the button
  EXPECT_EQ(run.calls("dispatch").size(), 1u);
}

TEST(SimInputRequests, RefusedReleasesAnswerUpFailed) {
  // The preloaded library refuses every key-up event and passes key-down events on.
  const auto run = runRequests(lines({
                                   R"({"cmd":"key","page":7,"usage":4})",
                                   R"({"cmd":"button","page":12,"usage":233})",
                                   R"({"cmd":"key","page":7,"usage":4,"down":true})",
                               }),
                               HID_REFUSE_RELEASE_PRELOAD);
  EXPECT_EQ(run.responses(), (std::vector<std::string>{failure("key up failed"), failure("button up failed"), kOk}));
  const auto dispatches = run.calls("dispatch");
  ASSERT_EQ(dispatches.size(), 2u);  // the button's press and the last key
  EXPECT_EQ(dispatches[0].page, 12u);
  EXPECT_TRUE(dispatches[0].down);
  EXPECT_EQ(run.calls("release").size(), 2u);
}

TEST(SimInputRequests, LastLineWithoutLineFeedIsAnsweredBeforeExit) {
  const auto run = runRequests("[]\n{\"cmd\":\"key\",\"page\":7,\"usage\":4}");
  EXPECT_EQ(run.out, kInvalidJson + "\n" + kOk + "\n");
  EXPECT_EQ(run.calls("dispatch").size(), 1u);
}

TEST(SimInputRequests, ClosedStandardOutputDropsResponsesAndOnlyEndOfInputEndsTheRun) {
  // Enough requests to fill any output buffer many times over.
  std::string input;
  for (int i = 0; i < 2000; ++i) input += "{\"cmd\":\"key\",\"page\":7,\"usage\":" + std::to_string(i) + "}\n";
  const auto run = sim_input_testing::runSimInput({.input = input, .keepInputOpen = false, .preload = "", .closeOutput = true});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0);  // not ended by SIGPIPE
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.calls("dispatch").size(), 2000u);  // every request was still carried out
}

TEST(SimInputRequests, EmptyInputEndsTheRunWithoutAResponse) {
  const auto run = runRequests("");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.calls("client").size(), 1u);
}

TEST(SimInputRequests, ManyPipelinedRequestsAreAnsweredOneEachInOrder) {
  // More than a pipe buffer of input, so the program reads while earlier answers wait.
  std::string input;
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    if (i % 3 == 2) {
      input += "{\"cmd\":\"key\",\"page\":0,\"usage\":" + std::to_string(i) + "}\n";
      expected.push_back(failure("key up failed"));
    } else {
      input += "{\"cmd\":\"key\",\"page\":7,\"usage\":" + std::to_string(i) + ",\"down\":true}\n";
      expected.push_back(kOk);
    }
  }
  const auto run = runRequests(input);
  EXPECT_EQ(run.responses(), expected);
  const auto creates = run.calls("create");
  ASSERT_EQ(creates.size(), 3000u);
  for (uint32_t i = 0; i < creates.size(); ++i) EXPECT_EQ(creates[i].usage, i);
}

}  // namespace
