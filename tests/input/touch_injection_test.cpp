#include "bridge/input/touch_injection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_hid_environment.h"

namespace input_test {
using testing_support::InjectionTest;
using testing_support::kPhone;
using testing_support::kTV;
namespace {

using testing::ElementsAre;
using testing_support::FakeCompletion;
using testing_support::FakeIndigoKind;

using TouchInjectionTest = InjectionTest;

const std::string kPhoneUDID = kPhone;

TEST_F(TouchInjectionTest, TouchTypesBuildTheirMessagesAndOnlyDownWaits) {
  EXPECT_EQ(scIndigoTouch(kPhone, 0.25f, 0.75f, 0), 0);
  clock.advanceMs(20);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.3f, 0.7f, 1), 0);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.3f, 0.7f, 2), 0);
  EXPECT_EQ(clock.waits.load(), 1);

  auto sent = clientOf(kPhone)->sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].eventType, 1);
  EXPECT_EQ(sent[0].direction, 1);
  EXPECT_EQ(sent[1].eventType, 6);
  EXPECT_EQ(sent[1].direction, 0);
  EXPECT_EQ(sent[2].eventType, 2);
  EXPECT_EQ(sent[2].direction, 2);
  EXPECT_EQ(sent[0].target, 50);
  EXPECT_TRUE(sent[0].unusedPointerWasNull);
  EXPECT_THAT(sent[0].scale, ElementsAre(1.0, 1.0, 1.0, 1.0));
  EXPECT_DOUBLE_EQ(sent[0].x, 0.25);
  EXPECT_DOUBLE_EQ(sent[0].y, 0.75);
  EXPECT_TRUE(clientOf(kPhone)->allFreedWhenDone());
}

TEST_F(TouchInjectionTest, DragsCloserThan17msAreDropped) {
  ASSERT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);
  clock.advanceMs(10);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.6f, 1), 0);  // dropped
  EXPECT_EQ(indigoCalls().size(), 1u);
  clock.advanceMs(10);  // 20 ms after the DOWN: the dropped DRAG did not move the time
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.6f, 1), 0);
  EXPECT_EQ(indigoCalls().size(), 2u);
  clock.advanceMs(16);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.7f, 1), 0);  // dropped
  clock.advanceMs(1);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.7f, 1), 0);  // exactly 17 ms: sent
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.7f, 2), 0);  // UP is never thinned
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.7f, 1), 0);  // first DRAG after UP: sent
  EXPECT_EQ(clientOf(kPhone)->sent().size(), 5u);

  // A device never touched before gets its first DRAG through too.
  EXPECT_EQ(scIndigoTouch(kTV, 0.1f, 0.1f, 1), 0);
  EXPECT_EQ(clientOf(kTV)->sent().size(), 1u);
}

TEST_F(TouchInjectionTest, CoordinatesAreClampedAndTheNullMessageLineShowsThem) {
  testing_support::FakeIndigo::shared().setReturnsNull(FakeIndigoKind::kMouse, true);
  EXPECT_EQ(scIndigoTouch(kPhone, -0.5f, 1.7f, 0), -2);
  EXPECT_EQ(log.count("[IndigoHID] IndigoHIDMessageForMouseNSEvent returned NULL for (0.0000, 1.0000) "
                      "nsEventType=1 direction=1"),
            1u);
  EXPECT_EQ(indigoCalls().back().x, 0.0);
  EXPECT_EQ(indigoCalls().back().y, 1.0);
  // -2 keeps the client and leaves a record with no time.
  EXPECT_NE(clientOf(kPhone), nullptr);
  EXPECT_EQ(_findTouchState(kPhone)->lastTouchTime, 0u);

  // Not a number counts as 0 rather than reaching the simulator.
  EXPECT_EQ(scIndigoTouch(kPhone, std::numeric_limits<float>::quiet_NaN(), 0.5f, 0), -2);
  EXPECT_EQ(indigoCalls().back().x, 0.0);
}

TEST_F(TouchInjectionTest, UnknownTypeIsRefusedAfterTheClientIsMadeAndKeepsIt) {
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 3), -4);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, -1), -4);
  EXPECT_NE(clientOf(kPhone), nullptr);
  EXPECT_EQ(hidClass->clients.size(), 1u);
  EXPECT_TRUE(indigoCalls().empty());
}

TEST_F(TouchInjectionTest, DownWhoseOutcomeIsLateReturnsZeroAndLeavesTheMarkClear) {
  hidClass->defaultMode = FakeCompletion::kHold;
  clock.timeOutWaits = true;
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);

  // The error arrives after the wait: it lands in the shared slot and is never read.
  auto client = clientOf(kPhone);
  ASSERT_EQ(client->heldCount(), 1u);
  client->completeHeld(client->error);
  settle();
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
  EXPECT_FALSE(log.contains("DOWN send error"));
  EXPECT_EQ(clientOf(kPhone), client);
}

TEST_F(TouchInjectionTest, DownWithNoOutcomeAtAllReturnsZero) {
  hidClass->defaultMode = FakeCompletion::kNever;
  clock.timeOutWaits = true;
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);
  EXPECT_NE(_findTouchState(kPhone)->lastTouchTime, 0u);
}

TEST_F(TouchInjectionTest, RefusedDownIsResentOnceThroughANewClient) {
  hidClass->nextClientModes = {FakeCompletion::kFail, FakeCompletion::kSucceed};
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);

  ASSERT_EQ(hidClass->clients.size(), 2u);
  EXPECT_EQ(hidClass->clients[0]->sent().size(), 1u);
  EXPECT_EQ(hidClass->clients[1]->sent().size(), 1u);
  EXPECT_EQ(clientOf(kPhone), hidClass->clients[1]);
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
  const std::string error = hidClass->clients[0]->error->description();
  EXPECT_THAT(log.lines(), testing::IsSupersetOf({
                               "[IndigoHID] DOWN send error: " + error,
                               "[IndigoHID] DOWN failed with stale mach port — recreating client for " + kPhoneUDID,
                           }));
  EXPECT_EQ(log.count("[IndigoHID] HID client ready for " + kPhoneUDID), 2u);
}

TEST_F(TouchInjectionTest, DownRefusedTwiceGivesMinusSixAndTheNextDragIsRejected) {
  hidClass->defaultMode = FakeCompletion::kFail;
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), -6);
  EXPECT_EQ(hidClass->clients.size(), 2u);  // exactly one resend
  EXPECT_EQ(log.countContaining("[IndigoHID] DOWN send error: "), 2u);
  EXPECT_EQ(log.countContaining("stale mach port"), 1u);
  EXPECT_EQ(clientOf(kPhone), nullptr);
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID(kPhone));

  log.clear();
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.6f, 1), -5);
  EXPECT_THAT(log.lines(), ElementsAre("[IndigoHID] HID client invalidated — rejecting DRAG (need fresh DOWN)"));
  EXPECT_EQ(hidClass->clients.size(), 2u);
}

TEST_F(TouchInjectionTest, RecoveryThatCannotMakeAClientGivesMinusTwo) {
  hidClass->defaultMode = FakeCompletion::kFail;
  ASSERT_TRUE(ensureHIDClient(kPhone));
  hidClass->failInit = true;
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), -2);
  EXPECT_EQ(log.count("[IndigoHID] initWithDevice:error: returned nil"), 1u);
  EXPECT_EQ(log.countContaining("ensureHIDClient failed"), 0u);
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
}

TEST_F(TouchInjectionTest, WhileMarkedDragAndUpAreRefusedUntilADownGoesThroughANewClient) {
  ASSERT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);
  auto first = clientOf(kPhone);
  first->setMode(FakeCompletion::kFail);
  clock.advanceMs(20);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.6f, 1), 0);  // the error comes later
  settle();
  EXPECT_EQ(log.count("[IndigoHID] send error: " + first->error->description()), 1u);
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID(kPhone));

  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.6f, 2), -5);
  EXPECT_EQ(log.count("[IndigoHID] HID client invalidated — rejecting UP (need fresh DOWN)"), 1u);
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID(kPhone));
  EXPECT_EQ(_findTouchState(kPhone)->lastTouchTime, 0u);
  EXPECT_EQ(clientOf(kPhone), nullptr);

  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
  ASSERT_EQ(hidClass->clients.size(), 2u);
  EXPECT_EQ(clientOf(kPhone), hidClass->clients[1]);
  EXPECT_EQ(hidClass->clients[1]->sent().size(), 1u);
}

TEST_F(TouchInjectionTest, LateErrorOfAPushedOutRecordMarksNoOtherDevice) {
  ASSERT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);
  clientOf(kPhone)->setMode(FakeCompletion::kHold);
  ASSERT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 2), 0);
  for (int i = 0; i < 8; ++i) SHResetHIDClientInvalidForUDID(("other-" + std::to_string(i)).c_str());

  auto client = clientOf(kPhone);
  client->completeHeld(client->error);
  settle();
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(SHIsHIDClientInvalidForUDID(("other-" + std::to_string(i)).c_str()));
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
}

TEST_F(TouchInjectionTest, SendFunctionRefusesMissingArguments) {
  testing_support::FakeHIDClient client(FakeCompletion::kSucceed);
  int dummy = 0;
  EXPECT_EQ(SHSendTouch(nullptr, &dummy, kPhone, 0, 0, 1, 1), -1);
  EXPECT_EQ(SHSendTouch(&client, nullptr, kPhone, 0, 0, 1, 1), -1);
  EXPECT_EQ(SHSendTouch(&client, &dummy, nullptr, 0, 0, 1, 1), -1);
  EXPECT_EQ(g_touchStateCount, 0);
}

}  // namespace
}  // namespace input_test
