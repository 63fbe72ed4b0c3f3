#include "bridge/input/hid_registry.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_hid_environment.h"

namespace input_test {
using testing_support::InjectionTest;
using testing_support::kPhone;
using testing_support::kTV;
namespace {

using testing::ElementsAre;
using testing_support::FakeHIDClientClass;

std::vector<std::string> tableUDIDs() {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  std::vector<std::string> udids;
  for (int32_t slot = 0; slot < g_touchStateCount; ++slot) udids.emplace_back(g_touchStates[slot]->udid);
  return udids;
}

using HIDRegistryTest = InjectionTest;

TEST_F(HIDRegistryTest, FailedFunctionLoadIsFinalAndLogsOnlyTheLoadFailureAfterwards) {
  fake.images.erase(simKitPath);  // SimulatorKit absent

  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), -1);
  EXPECT_THAT(log.lines(), ElementsAre("[CoreSim] Loaded CoreSimulator",
                                       "[SimKit] Failed to load SimulatorKit from " + simKitPath,
                                       "[IndigoHID] ensureIndigoLoaded failed"));

  // SimulatorKit turning up later changes nothing for the failed function.
  testing_support::FakeIndigo::shared().install(fake, simKitPath);
  log.clear();
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), -1);
  EXPECT_THAT(log.lines(), ElementsAre("[IndigoHID] ensureIndigoLoaded failed"));
  EXPECT_TRUE(indigoCalls().empty());
  EXPECT_TRUE(hidClass->clients.empty());
}

TEST_F(HIDRegistryTest, EachFunctionLoadsOnItsOwnAndOneFailureDoesNotStopAnother) {
  fake.symbols[simKitPath].erase(platform::kIndigoKeyboardMessageSymbol);

  EXPECT_EQ(scIndigoKeyboard(kPhone, 4, 0, true), -1);
  EXPECT_THAT(log.lines(), ElementsAre("[CoreSim] Loaded CoreSimulator", "[SimKit] Loaded SimulatorKit",
                                       "[IndigoHID] IndigoHIDMessageForKeyboardNSEvent symbol not found",
                                       "[IndigoHID] ensureIndigoKeyboardLoaded failed"));
  log.clear();
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), 0);
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 2), 0);
  EXPECT_EQ(log.count("[IndigoHID] IndigoHIDMessageForMouseNSEvent loaded"), 1u);
  EXPECT_EQ(log.count("[IndigoHID] HID client ready for " + std::string(kPhone)), 1u);

  // Each function opens the image itself, with RTLD_NOW | RTLD_GLOBAL, and only once.
  EXPECT_EQ(std::count(fake.openedPaths.begin(), fake.openedPaths.end(), simKitPath), 3);
  EXPECT_EQ(fake.openModes.back(), RTLD_NOW | RTLD_GLOBAL);
}

TEST_F(HIDRegistryTest, ImageThatCannotBeOpenedForAFunctionLogsThePath) {
  // SimulatorKit loads, but the second open for the symbol lookup fails.
  ASSERT_TRUE(ensureSimKitLoaded());
  fake.images.erase(simKitPath);
  log.clear();
  EXPECT_EQ(scIndigoTouch(kPhone, 0.5f, 0.5f, 0), -1);
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), -1);
  EXPECT_THAT(log.lines(), ElementsAre("[IndigoHID] Failed to load SimulatorKit from " + simKitPath,
                                       "[IndigoHID] ensureIndigoLoaded failed",
                                       "[IndigoHID] Failed to load SimulatorKit for button",
                                       "[IndigoHID] ensureIndigoButtonLoaded failed"));
}

TEST_F(HIDRegistryTest, ClientClassIsFoundUnderThePlainNameToo) {
  fake.classes.erase("SimulatorKit.SimDeviceLegacyHIDClient");
  auto plain = std::make_shared<FakeHIDClientClass>("SimDeviceLegacyHIDClient");
  fake.addClass(plain);

  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), 0);
  ASSERT_EQ(plain->clients.size(), 1u);
  EXPECT_EQ(plain->initDevices[0]->udidString(), kPhone);
}

TEST_F(HIDRegistryTest, ClientFailuresAreLoggedAndNothingIsCached) {
  const std::string phone = kPhone;
  const std::string entryLine = "[IndigoHID] ensureHIDClient failed for " + phone;

  EXPECT_EQ(scIndigoButton("no-such-device", 1, 1, 51), -2);
  EXPECT_TRUE(log.contains("[IndigoHID] findSimDevice returned nil for no-such-device"));
  EXPECT_EQ(log.count("[IndigoHID] ensureHIDClient failed for no-such-device"), 1u);

  hidClass->failAlloc = true;
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), -2);
  hidClass->failAlloc = false;
  hidClass->failInit = true;
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), -2);
  hidClass->failInit = false;
  fake.classes.erase("SimulatorKit.SimDeviceLegacyHIDClient");
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), -2);
  EXPECT_EQ(log.count("[IndigoHID] Failed to alloc HID client"), 1u);
  EXPECT_EQ(log.count("[IndigoHID] initWithDevice:error: returned nil"), 1u);
  EXPECT_EQ(log.count("[IndigoHID] SimDeviceLegacyHIDClient class not found"), 1u);
  EXPECT_EQ(log.count(entryLine), 3u);
  EXPECT_EQ(clientOf(kPhone), nullptr);

  // The next call starts again from the beginning and succeeds.
  fake.addClass(hidClass);
  EXPECT_EQ(scIndigoButton(kPhone, 1, 1, 51), 0);
  EXPECT_NE(clientOf(kPhone), nullptr);
}

TEST_F(HIDRegistryTest, ExistingClientIsReusedWithoutLookupOrLog) {
  ASSERT_TRUE(ensureHIDClient(kPhone));
  const size_t lookups = fake.classLookups.size();
  log.clear();
  EXPECT_TRUE(ensureHIDClient(kPhone));
  EXPECT_EQ(fake.classLookups.size(), lookups);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(hidClass->clients.size(), 1u);
}

TEST_F(HIDRegistryTest, NinthDevicePushesOutTheOldestRecordWithItsMarkAndTime) {
  for (int i = 0; i < 8; ++i) _findOrAddTouchState(("dev-" + std::to_string(i)).c_str());
  TouchStateRef first = _findTouchState("dev-0");
  first->lastTouchTime = 77;
  first->clientInvalid.store(1);

  _findOrAddTouchState("dev-8");
  EXPECT_THAT(tableUDIDs(),
              ElementsAre("dev-1", "dev-2", "dev-3", "dev-4", "dev-5", "dev-6", "dev-7", "dev-8"));
  EXPECT_EQ(g_touchStateCount, 8);
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID("dev-0"));

  // Coming back, the first device starts afresh and pushes out the next oldest.
  TouchStateRef again = _findOrAddTouchState("dev-0");
  EXPECT_EQ(again->lastTouchTime, 0u);
  EXPECT_EQ(again->clientInvalid.load(), 0);
  EXPECT_EQ(tableUDIDs().front(), "dev-2");
  EXPECT_EQ(_findOrAddTouchState("dev-5"), _findTouchState("dev-5"));  // found, not added
  EXPECT_EQ(tableUDIDs().back(), "dev-0");
}

TEST_F(HIDRegistryTest, MarkOperationsOnUnknownAndKnownDevices) {
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID("fresh"));
  SHClearTouchStateForUDID("fresh");  // no record: nothing happens
  EXPECT_EQ(g_touchStateCount, 0);

  SHResetHIDClientInvalidForUDID("fresh");  // adds a zeroed record
  ASSERT_EQ(g_touchStateCount, 1);
  TouchStateRef record = _findTouchState("fresh");
  EXPECT_EQ(record->lastTouchTime, 0u);
  EXPECT_EQ(record->clientInvalid.load(), 0);

  record->lastTouchTime = 5;
  record->clientInvalid.store(1);
  EXPECT_TRUE(SHIsHIDClientInvalidForUDID("fresh"));
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID("FRESH"));  // exact, case-sensitive
  SHResetHIDClientInvalidForUDID("fresh");
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID("fresh"));
  EXPECT_EQ(record->lastTouchTime, 5u);  // the time is left alone
  SHClearTouchStateForUDID("fresh");
  EXPECT_EQ(record->lastTouchTime, 0u);
  EXPECT_EQ(g_touchStateCount, 1);
}

TEST_F(HIDRegistryTest, LongUDIDIsCutTo63BytesAndNeverMatchesItsOwnRecord) {
  const std::string longUDID(64, 'x');
  _findOrAddTouchState(longUDID.c_str());
  ASSERT_EQ(g_touchStateCount, 1);
  EXPECT_EQ(std::string(g_touchStates[0]->udid), std::string(63, 'x'));
  EXPECT_EQ(_findTouchState(longUDID.c_str()), nullptr);
  _findOrAddTouchState(longUDID.c_str());
  EXPECT_EQ(g_touchStateCount, 2);
}

TEST_F(HIDRegistryTest, NullUDIDIsRefusedWithoutTouchingState) {
  EXPECT_EQ(scIndigoTouch(nullptr, 0.5f, 0.5f, 0), -1);
  EXPECT_EQ(scIndigoKeyboard(nullptr, 4, 0, true), -1);
  EXPECT_EQ(scIndigoButton(nullptr, 1, 1, 51), -1);
  EXPECT_EQ(scIndigoHIDUsage(nullptr, 12, 64, 1), -1);
  EXPECT_FALSE(SHIsHIDClientInvalidForUDID(nullptr));
  SHResetHIDClientInvalidForUDID(nullptr);
  SHClearTouchStateForUDID(nullptr);
  EXPECT_EQ(g_touchStateCount, 0);
  EXPECT_TRUE(hidClients.empty());
}

TEST_F(HIDRegistryTest, EntriesFromAnotherThreadAreSerialisedWithTheCommandThread) {
  // Every key of both threads reaches the client, and the table stays whole.
  constexpr int kKeys = 200;
  std::thread other([] {
    for (int i = 0; i < kKeys; ++i) EXPECT_EQ(scIndigoKeyboard(kTV, 4, 0, i % 2 == 0), 0);
  });
  for (int i = 0; i < kKeys; ++i) EXPECT_EQ(scIndigoKeyboard(kPhone, 5, 0, i % 2 == 0), 0);
  other.join();
  settle();
  EXPECT_EQ(clientOf(kPhone)->sent().size(), static_cast<size_t>(kKeys));
  EXPECT_EQ(clientOf(kTV)->sent().size(), static_cast<size_t>(kKeys));
  EXPECT_THAT(tableUDIDs(), testing::UnorderedElementsAre(kPhone, kTV));
}

}  // namespace
}  // namespace input_test
