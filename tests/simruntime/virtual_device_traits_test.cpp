#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#include "bridge/simruntime/device_traits.h"
#include "bridge/simruntime/sim_runtime.h"
#include "tests/support/fake_simulator_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/param_name.h"
#include "tests/support/simulator_platforms.h"

namespace {

using Lines = std::vector<std::string>;

constexpr const char* kVirtualPhone = "7E57DE71-CE00-4000-8000-000000000001";
constexpr const char* kVirtualTV = "7E57DE71-CE00-4000-8000-000000000003";
constexpr const char* kHeadlessDevice = "7E57DE71-CE00-4000-8000-000000000006";

// The runtime as the bridge runs it on Linux: the real developer-directory tool (absent
// here, so the directory is empty) and the virtual devices behind the platform, reached
// directly or through the Apple platform and the stand-ins of its frameworks.
class VirtualDeviceTraitsTest : public ::testing::TestWithParam<testing_support::SimulatorPlatformUnderTest> {
 protected:
  VirtualDeviceTraitsTest() : installed_(GetParam().get()) {
    platform::resetVirtualSimulatorForTesting();
    resetSimRuntimeForTesting();
  }
  ~VirtualDeviceTraitsTest() override {
    resetSimRuntimeForTesting();
    platform::resetVirtualSimulatorForTesting();
  }

  testing_support::LogCapture log;

 private:
  testing_support::ScopedSimulatorPlatform installed_;
};

TEST_P(VirtualDeviceTraitsTest, FrameworksLoadAndDevicesAreFound) {
  EXPECT_TRUE(ensureSimKitLoaded());
  EXPECT_EQ(log.lines(), (Lines{"[CoreSim] Loaded CoreSimulator", "[SimKit] Loaded SimulatorKit"}));
  EXPECT_NE(findSimDevice(kVirtualPhone), nullptr);
  EXPECT_NE(findSimDevice("7e57de71-ce00-4000-8000-000000000003"), nullptr);
}

TEST_P(VirtualDeviceTraitsTest, OnlyTheVirtualTVIsAnAppleTV) {
  EXPECT_EQ(SHProductFamilyID(findSimDevice(kVirtualTV)), 3);
  EXPECT_TRUE(isAppleTV(kVirtualTV));
  EXPECT_EQ(buttonTargetForDevice(kVirtualTV), 21u);

  EXPECT_FALSE(isAppleTV(kVirtualPhone));
  EXPECT_EQ(buttonTargetForDevice(kVirtualPhone), 51u);
}

TEST_P(VirtualDeviceTraitsTest, HardwareKeyboardOfAPhoneAndOfTheHeadlessDevice) {
  SHEnableHardwareKeyboard(findSimDevice(kVirtualPhone));
  EXPECT_EQ(log.count("[IndigoHID] hardware keyboard enabled"), 1u);

  auto headless = findSimDevice(kHeadlessDevice);
  ASSERT_NE(headless, nullptr);
  EXPECT_EQ(SHProductFamilyID(headless), 0);
  EXPECT_FALSE(isAppleTV(kHeadlessDevice));
  EXPECT_EQ(buttonTargetForDevice(kHeadlessDevice), 51u);
  log.clear();
  SHEnableHardwareKeyboard(headless);
  EXPECT_EQ(log.lines(), (Lines{"[IndigoHID] setHardwareKeyboardEnabled:keyboardType:error: unavailable"}));
}

INSTANTIATE_TEST_SUITE_P(Platforms, VirtualDeviceTraitsTest, testing::ValuesIn(testing_support::simulatorPlatforms()),
                         testing_support::ParamName());

}  // namespace
