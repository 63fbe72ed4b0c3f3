#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/simruntime/sim_runtime.h"
#include "tests/simruntime/sim_runtime_fixture.h"

namespace {

using testing_support::FakeDevice;
using Lines = std::vector<std::string>;

constexpr const char* kPhoneUDID = "5B7E0D59-1C2A-4F4B-9D77-0F1E2D3C4B5A";

class DeviceLookupTest : public simruntime_test::SimRuntimeTest {
 protected:
  DeviceLookupTest() {
    allowCoreSimulator();
    fake.addDevice(phone);
  }

  // Looks up and returns the log lines the lookup wrote after the CoreSimulator load.
  Lines linesOfLookup(const std::string& udid, platform::SimDeviceRef* found = nullptr) {
    findSimDevice("warm-up");  // makes the CoreSimulator load
    log.clear();
    auto device = findSimDevice(udid);
    if (found != nullptr) *found = device;
    return log.lines();
  }

  std::shared_ptr<FakeDevice> phone = FakeDevice::make(kPhoneUDID);
};

TEST_F(DeviceLookupTest, UdidMatchesIgnoringLetterCaseOnly) {
  EXPECT_EQ(findSimDevice(kPhoneUDID), phone);
  EXPECT_EQ(findSimDevice("5b7e0d59-1c2a-4f4b-9d77-0f1e2d3c4b5a"), phone);

  for (std::string near : {std::string(" ") + kPhoneUDID + " ", "{" + std::string(kPhoneUDID) + "}",
                           std::string("5B7E0D591C2A4F4B9D770F1E2D3C4B5A"), std::string("")}) {
    SCOPED_TRACE(near);
    log.clear();
    EXPECT_EQ(findSimDevice(near), nullptr);
    EXPECT_EQ(log.lines(), (Lines{"[IndigoHID] No SimDevice for UDID " + near}));
  }
}

TEST_F(DeviceLookupTest, DevicesWithoutUdidAreSkippedAndTheFirstMatchWins) {
  auto nameless = std::make_shared<FakeDevice>(std::nullopt);
  auto twin = FakeDevice::make(kPhoneUDID);
  auto& devices = *fake.serviceContextClass->context->deviceSet->deviceList;
  devices = {nameless, phone, twin};
  platform::SimDeviceRef found;
  EXPECT_EQ(linesOfLookup(kPhoneUDID, &found), Lines{});
  EXPECT_EQ(found, phone);

  devices = {nameless, twin};
  EXPECT_EQ(findSimDevice(kPhoneUDID), twin);
}

TEST_F(DeviceLookupTest, EachLookupReadsTheDeveloperDirectoryAfresh) {
  std::string answer = scratch.touch("answer");
  useTool("cat '" + answer + "'");
  std::ofstream(answer) << "/Xcode-1/Contents/Developer\n";
  findSimDevice(kPhoneUDID);
  std::ofstream(answer) << "/Xcode-2/Contents/Developer\n";
  findSimDevice(kPhoneUDID);
  EXPECT_EQ(fake.serviceContextClass->developerDirs,
            (Lines{"/Xcode-1/Contents/Developer", "/Xcode-2/Contents/Developer"}));
}

TEST_F(DeviceLookupTest, EachFailingStepLogsItsLineAndFindsNothing) {
  fake.serviceContextClass->context->deviceSet->deviceList = std::nullopt;
  EXPECT_EQ(linesOfLookup(kPhoneUDID), (Lines{"[IndigoHID] Failed to read devices array"}));

  fake.serviceContextClass->context->deviceSet = nullptr;
  EXPECT_EQ(linesOfLookup(kPhoneUDID), (Lines{"[IndigoHID] Failed to get default device set"}));

  fake.serviceContextClass->context = nullptr;
  EXPECT_EQ(linesOfLookup(kPhoneUDID), (Lines{"[IndigoHID] Failed to get SimServiceContext"}));

  fake.classes.erase("SimServiceContext");
  EXPECT_EQ(linesOfLookup(kPhoneUDID), (Lines{"[IndigoHID] SimServiceContext class not found"}));

  fake.addClass(fake.serviceContextClass);
  fake.serviceContextClass->context = std::make_shared<testing_support::FakeServiceContext>();
  EXPECT_EQ(linesOfLookup(kPhoneUDID), (Lines{"[IndigoHID] No SimDevice for UDID " + std::string(kPhoneUDID)}));
}

TEST_F(DeviceLookupTest, LookupNeedsNoSimulatorKit) {
  EXPECT_EQ(findSimDevice(kPhoneUDID), phone);
  EXPECT_EQ(fake.openedPaths, (Lines{testing_support::kCoreSimulatorImagePath}));
  EXPECT_EQ(log.lines(), (Lines{"[CoreSim] Loaded CoreSimulator"}));
}

}  // namespace
