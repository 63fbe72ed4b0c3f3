#include "bridge/input/key_button_injection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/input/injection_entry.h"
#include "tests/support/fake_hid_environment.h"

namespace input_test {
using testing_support::InjectionTest;
using testing_support::kPhone;
using testing_support::kTV;
namespace {

using testing::ElementsAre;
using testing_support::FakeCompletion;
using testing_support::FakeIndigoKind;

using KeyButtonInjectionTest = InjectionTest;

const std::string kPhoneUDID = kPhone;

void* failingAllocator(size_t) { return nullptr; }

TEST_F(KeyButtonInjectionTest, KeyEventsCarryTheTransitionWithEmptyCharacters) {
  EXPECT_EQ(scIndigoKeyboard(kPhone, 0x7E, 0x20000, true), 0);
  EXPECT_EQ(scIndigoKeyboard(kPhone, 0x7E, 0x20000, false), 0);

  ASSERT_EQ(fake.keyEvents.size(), 2u);
  for (const platform::KeyEvent& event : fake.keyEvents) {
    EXPECT_EQ(event.keyCode, 0x7E);
    EXPECT_EQ(event.modifierFlags, 0x20000u);
    EXPECT_EQ(event.characters, "");
    EXPECT_EQ(event.charactersIgnoringModifiers, "");
    EXPECT_FALSE(event.isARepeat);
    EXPECT_EQ(event.windowNumber, 0);
    EXPECT_EQ(event.context, nullptr);
    EXPECT_EQ(event.locationX, 0);
    EXPECT_EQ(event.locationY, 0);
    EXPECT_GT(event.timestamp, 1.6e9);  // seconds since 1970, not since boot
  }
  EXPECT_EQ(fake.keyEvents[0].type, 10);
  EXPECT_EQ(fake.keyEvents[1].type, 11);

  // The client gets a 192-byte copy it frees itself; the built message is freed by us
  // (the sanitizer build would report it otherwise).
  auto sent = clientOf(kPhone)->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].kind, FakeIndigoKind::kKeyboard);
  EXPECT_EQ(sent[1].keyEventType, 11);
  EXPECT_TRUE(clientOf(kPhone)->allFreedWhenDone());
  EXPECT_NE(_findTouchState(kPhone), nullptr);  // keys add the device's record
}

TEST_F(KeyButtonInjectionTest, ButtonAndUsageArgumentsReachTheirMessages) {
  EXPECT_EQ(scIndigoButton(kPhone, 1, 2, 51), 0);
  EXPECT_EQ(scIndigoHIDUsage(kPhone, 0x0C, 0x42, 1), 0);
  auto sent = clientOf(kPhone)->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].kind, FakeIndigoKind::kButton);
  EXPECT_EQ(sent[0].keyCode, 1u);
  EXPECT_EQ(sent[0].op, 2u);
  EXPECT_EQ(sent[0].buttonTarget, 51u);
  EXPECT_EQ(sent[1].kind, FakeIndigoKind::kArbitrary);
  EXPECT_EQ(sent[1].page, 0x0Cu);
  EXPECT_EQ(sent[1].usage, 0x42u);
  EXPECT_EQ(sent[1].op, 1u);
  EXPECT_NE(_findTouchState(kPhone), nullptr);  // buttons and usages add the record too
}

TEST_F(KeyButtonInjectionTest, UsageTargetIs21ForAppleTVAnd51Otherwise) {
  EXPECT_EQ(scIndigoHIDUsage(kTV, 0x0C, 0x45, 1), 0);
  EXPECT_EQ(scIndigoHIDUsage(kPhone, 0x0C, 0x45, 1), 0);
  EXPECT_EQ(clientOf(kTV)->sent().at(0).target, 21);
  EXPECT_EQ(clientOf(kPhone)->sent().at(0).target, 51);

  // A TV that vanished between the client and the target lookups still gets its
  // usage, at the default target.
  fake.addDevice(testing_support::FakeDevice::make("GONE", 3));
  ASSERT_TRUE(ensureHIDClient("GONE"));
  fake.serviceContextClass->context->deviceSet->deviceList->pop_back();
  EXPECT_EQ(scIndigoHIDUsage("GONE", 0x0C, 0x45, 1), 0);
  EXPECT_EQ(clientOf("GONE")->sent().at(0).target, 51);
}

TEST_F(KeyButtonInjectionTest, MissingMessageGivesMinusThreeAndDropsTheClient) {
  auto& indigo = testing_support::FakeIndigo::shared();
  indigo.setReturnsNull(FakeIndigoKind::kButton, true);
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), -3);
  EXPECT_EQ(log.count("[IndigoHID] IndigoHIDMessageForButton returned NULL for keyCode=1 op=1"), 1u);
  EXPECT_EQ(clientOf(kPhone), nullptr);

  indigo.setReturnsNull(FakeIndigoKind::kArbitrary, true);
  EXPECT_EQ(scIndigoHIDUsage(kPhone, 0x0C, 0xCD, 2), -3);
  EXPECT_EQ(log.count("[IndigoHID] IndigoHIDMessageForHIDArbitrary returned NULL for page=0xc usage=0xcd op=2"), 1u);
  EXPECT_EQ(clientOf(kPhone), nullptr);

  indigo.setReturnsNull(FakeIndigoKind::kKeyboard, true);
  EXPECT_EQ(scIndigoKeyboard(kPhone, 36, 0, true), -3);
  EXPECT_EQ(log.count("[IndigoHID] IndigoHIDMessageForKeyboardNSEvent returned NULL for keyCode=36"), 1u);
  EXPECT_EQ(clientOf(kPhone), nullptr);

  // Every failed call made a client and dropped it; the next call makes a fresh one.
  indigo.reset();
  log.clear();
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), 0);
  EXPECT_EQ(log.count("[IndigoHID] HID client ready for " + kPhoneUDID), 1u);
  EXPECT_EQ(hidClass->clients.size(), 4u);
}

TEST_F(KeyButtonInjectionTest, KeyEventThatCannotBeMadeGivesMinusTwoAndDropsTheClient) {
  fake.keyEventFails = true;
  EXPECT_EQ(scIndigoKeyboard(kPhone, 49, 0, false), -2);
  EXPECT_EQ(log.count("[IndigoHID] Failed to create NSEvent for keyCode=49 isDown=0"), 1u);
  EXPECT_EQ(clientOf(kPhone), nullptr);
  EXPECT_NE(_findTouchState(kPhone), nullptr);  // the record is made first
}

TEST_F(KeyButtonInjectionTest, NoMemoryForTheCopyGivesMinusFive) {
  setMessageAllocatorForTesting(failingAllocator);
  EXPECT_EQ(scIndigoKeyboard(kPhone, 4, 0, true), -5);
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), -5);
  EXPECT_EQ(scIndigoHIDUsage(kPhone, 12, 64, 1), -5);
  EXPECT_THAT(log.lines(), testing::IsSupersetOf({"[IndigoHID] keyboard message allocation failed",
                                                  "[IndigoHID] button message allocation failed",
                                                  "[IndigoHID] HID usage message allocation failed"}));
  EXPECT_EQ(clientOf(kPhone), nullptr);
  EXPECT_EQ(hidClass->clients.size(), 3u);
  for (const auto& client : hidClass->clients) EXPECT_TRUE(client->sent().empty());
}

TEST_F(KeyButtonInjectionTest, KeySendErrorMarksTheDeviceAndTheNextEventReplacesTheClient) {
  hidClass->nextClientModes = {FakeCompletion::kFail};
  EXPECT_EQ(scIndigoKeyboard(kPhone, 4, 0, true), 0);
  settle();
  auto first = hidClass->clients.at(0);
  EXPECT_EQ(log.count("[IndigoHID] keyboard send error: " + first->error->description()), 1u);
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID(kPhone));

  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), 0);  // never refused: the mark is cleared
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
  ASSERT_EQ(hidClass->clients.size(), 2u);
  EXPECT_EQ(clientOf(kPhone), hidClass->clients[1]);
  EXPECT_EQ(first->sent().size(), 1u);
}

TEST_F(KeyButtonInjectionTest, KeyButtonOrUsageClearsATouchMarkSoDragsAreAcceptedAgain) {
  for (int entry = 0; entry < 3; ++entry) {
    SCOPED_TRACE(entry);
    SHResetHIDClientInvalidForUDID(kPhone);
    _findTouchState(kPhone)->clientInvalid.store(1);
    ASSERT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 1), -5);
    _findTouchState(kPhone)->clientInvalid.store(1);
    const int32_t rc = entry == 0   ? scIndigoKeyboard(kPhone, 4, 0, true)
                       : entry == 1 ? scIndigoButton(kPhone, 1, 1, 51)
                                    : scIndigoHIDUsage(kPhone, 12, 64, 1);
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));
    EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 1), 0);
  }
}

TEST_F(KeyButtonInjectionTest, ButtonOrUsageSendErrorMarksADeviceWithoutARecordSoTheNextEventReplacesTheClient) {
  // A device that only ever gets buttons and usages: every send of its first client
  // fails, as on the Stale-Input Phone.
  hidClass->nextClientModes = {FakeCompletion::kFail};
  ASSERT_EQ(_findTouchState(kPhone), nullptr);
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), 0);
  settle();
  auto stale = hidClass->clients.at(0);
  EXPECT_EQ(log.count("[IndigoHID] button send error: " + stale->error->description()), 1u);
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID(kPhone));

  EXPECT_EQ(scIndigoHIDUsage(kPhone, 12, 64, 1), 0);
  settle();
  ASSERT_EQ(hidClass->clients.size(), 2u);
  EXPECT_EQ(clientOf(kPhone), hidClass->clients[1]);
  EXPECT_EQ(stale->sent().size(), 1u);
  EXPECT_EQ(hidClass->clients[1]->sent().size(), 1u);
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(kPhone));  // the new client's send succeeded

  // A usage send error marks the device the same way.
  hidClass->nextClientModes = {FakeCompletion::kFail};
  resetInjectionStateForTesting();
  EXPECT_EQ(scIndigoHIDUsage(kPhone, 12, 64, 2), 0);
  settle();
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID(kPhone));
}

TEST_F(KeyButtonInjectionTest, SendFunctionsRefuseMissingArguments) {
  testing_support::FakeHIDClient client(FakeCompletion::kSucceed);
  int dummy = 0;
  EXPECT_EQ(SHSendKeyboard(nullptr, &dummy, kPhone, 4, 0, true), -1);
  EXPECT_EQ(SHSendButton(&client, nullptr, kPhone, 1, 1, 51), -1);
  EXPECT_EQ(SHSendHIDUsage(&client, &dummy, nullptr, 51, 12, 64, 1), -1);
  EXPECT_TRUE(client.sent().empty());
  EXPECT_EQ(g_touchStateCount, 0);
}

}  // namespace
}  // namespace input_test
