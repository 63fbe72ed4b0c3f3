#include "bridge/simruntime/device_traits.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/simruntime/sim_runtime_fixture.h"

namespace {

using testing_support::FakeDevice;
using Lines = std::vector<std::string>;

constexpr const char* kTVUDID = "0A1B2C3D-4E5F-4061-8283-A4B5C6D7E8F9";
constexpr const char* kPhoneUDID = "11111111-2222-4333-8444-555555555555";
constexpr const char* kMissingUDID = "99999999-9999-4999-8999-999999999999";

class DeviceTraitsTest : public simruntime_test::SimRuntimeTest {
 protected:
  DeviceTraitsTest() {
    allowCoreSimulator();
    fake.addDevice(tv);
    fake.addDevice(phone);
  }
  size_t lookups() const { return fake.serviceContextClass->developerDirs.size(); }

  std::shared_ptr<FakeDevice> tv = FakeDevice::make(kTVUDID, 3);
  std::shared_ptr<FakeDevice> phone = FakeDevice::make(kPhoneUDID, 1);
};

TEST_F(DeviceTraitsTest, FamilyIsZeroWhenItCannotBeRead) {
  EXPECT_EQ(SHProductFamilyID(nullptr), 0);
  EXPECT_EQ(SHProductFamilyID(tv), 3);

  auto noType = FakeDevice::make("A");
  noType->type = nullptr;
  auto typeRaises = FakeDevice::make("B", 3);
  typeRaises->deviceTypeThrows = "no device type";
  auto noFamily = FakeDevice::make("C", 3);
  noFamily->type->respondsToFamily = false;
  auto familyRaises = FakeDevice::make("D", 3);
  familyRaises->type->throwReason = "no family";
  for (const auto& device : {noType, typeRaises, noFamily, familyRaises}) {
    SCOPED_TRACE(device->description());
    EXPECT_EQ(SHProductFamilyID(device), 0);
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(DeviceTraitsTest, ButtonTargetFollowsTheFamilyOnEveryCall) {
  EXPECT_EQ(buttonTargetForDevice(kTVUDID), 21u);
  EXPECT_EQ(buttonTargetForDevice(kPhoneUDID), 51u);
  EXPECT_EQ(buttonTargetForDevice(kMissingUDID), 51u);
  EXPECT_EQ(log.count("[IndigoHID] No SimDevice for UDID " + std::string(kMissingUDID)), 1u);

  // Not remembered: a device whose family cannot be read any more is no Apple TV.
  size_t before = lookups();
  tv->type->throwReason = "gone";
  EXPECT_EQ(buttonTargetForDevice(kTVUDID), 51u);
  EXPECT_EQ(lookups(), before + 1);
  EXPECT_TRUE(appleTVByUDIDForTesting().empty());
}

TEST_F(DeviceTraitsTest, AppleTVAnswersAreRememberedPerExactUdidString) {
  std::string lower = "0a1b2c3d-4e5f-4061-8283-a4b5c6d7e8f9";
  EXPECT_TRUE(isAppleTV(kTVUDID));
  EXPECT_TRUE(isAppleTV(lower));
  EXPECT_FALSE(isAppleTV(kPhoneUDID));
  EXPECT_EQ(lookups(), 3u);

  // Remembered answers need no lookup, even when the device would now answer otherwise.
  tv->type->family = 1;
  EXPECT_TRUE(isAppleTV(kTVUDID));
  EXPECT_TRUE(isAppleTV(lower));
  EXPECT_FALSE(isAppleTV(kPhoneUDID));
  EXPECT_EQ(lookups(), 3u);
  EXPECT_EQ(appleTVByUDIDForTesting(),
            (std::map<std::string, bool>{{kTVUDID, true}, {lower, true}, {kPhoneUDID, false}}));
}

TEST_F(DeviceTraitsTest, UnknownUdidIsLookedUpAgainUntilItNamesADevice) {
  std::string line = "[IndigoHID] No SimDevice for UDID " + std::string(kMissingUDID);
  EXPECT_FALSE(isAppleTV(kMissingUDID));
  EXPECT_FALSE(isAppleTV(kMissingUDID));
  EXPECT_EQ(log.count(line), 2u);
  EXPECT_TRUE(appleTVByUDIDForTesting().empty());

  fake.addDevice(FakeDevice::make(kMissingUDID, 3));
  EXPECT_TRUE(isAppleTV(kMissingUDID));
  EXPECT_EQ(lookups(), 3u);
}

TEST_F(DeviceTraitsTest, FamilyThatCannotBeReadMeansNoAppleTV) {
  tv->deviceTypeThrows = "no device type";
  EXPECT_FALSE(isAppleTV(kTVUDID));
  EXPECT_EQ(buttonTargetForDevice(kTVUDID), 51u);
}

struct KeyboardCase {
  const char* name;
  bool responds;
  bool result;
  platform::SimErrorRef error;
  std::string line;
};

TEST_F(DeviceTraitsTest, HardwareKeyboardOutcomesAreLogged) {
  auto error = std::make_shared<const platform::SimError>(
      platform::SimError{"com.apple.CoreSimulator.SimError", 405, "Device not booted"});
  std::string failed = "[IndigoHID] setHardwareKeyboardEnabled failed: ";
  const std::vector<KeyboardCase> cases = {
      {"enabled", true, true, nullptr, "[IndigoHID] hardware keyboard enabled"},
      {"no with error", true, false, error, failed + error->description()},
      {"yes with error", true, true, error, failed + error->description()},
      {"no without error", true, false, nullptr, failed + "(null)"},
      {"unavailable", false, true, nullptr, "[IndigoHID] setHardwareKeyboardEnabled:keyboardType:error: unavailable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto device = FakeDevice::make("K");
    device->respondsToKeyboard = c.responds;
    device->keyboardResult = c.result;
    device->keyboardError = c.error;
    log.clear();
    SHEnableHardwareKeyboard(device);
    EXPECT_EQ(log.lines(), Lines{c.line});
    EXPECT_EQ(device->keyboardCalls, c.responds ? 1 : 0);
    if (c.responds) {
      EXPECT_TRUE(device->lastKeyboardEnabled);
      EXPECT_EQ(device->lastKeyboardType, 0u);
    }
  }

  log.clear();
  SHEnableHardwareKeyboard(nullptr);
  EXPECT_TRUE(log.lines().empty());
}

}  // namespace
