// The fixture of the input-injection tests: a fake simulator platform with CoreSimulator and
// SimulatorKit present, the fake Indigo functions, a fake HID client class, one phone
// and one TV device, a hand-moved host clock, and fresh process-wide state per test.
// Header-only: include it only from tests that link the input library.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bridge/input/hid_registry.h"
#include "bridge/input/host_clock.h"
#include "bridge/input/injection.h"
#include "bridge/platform/global_queue.h"
#include "bridge/simruntime/sim_runtime.h"
#include "tests/support/fake_hid.h"
#include "tests/support/fake_hid_clock.h"
#include "tests/support/fake_simulator_platform.h"
#include "tests/support/log_capture.h"

namespace testing_support {

inline constexpr const char* kPhone = "11111111-2222-3333-4444-555555555555";
inline constexpr const char* kTV = "AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE";

class InjectionTest : public ::testing::Test {
 protected:
  InjectionTest() : installed_(fake) {
    resetSimRuntimeForTesting();
    resetInjectionStateForTesting();
    testing_support::FakeIndigo::shared().reset();
    input::setHostClockForTesting(&clock);
    fake.allowImage(testing_support::kCoreSimulatorImagePath);
    simKitPath = simKitFrameworkPath();
    testing_support::FakeIndigo::shared().install(fake, simKitPath);
    fake.addClass(hidClass);
    fake.addDevice(testing_support::FakeDevice::make(kPhone, 1));
    fake.addDevice(testing_support::FakeDevice::make(kTV, 3));
  }

  ~InjectionTest() override {
    settle();
    resetInjectionStateForTesting();
    resetSimRuntimeForTesting();
  }

  // Waits until every completion handler queued so far has run.
  static void settle() { platform::GlobalQueue::shared().waitIdleForTesting(); }

  // The client currently registered for `udid`, as the fake it is, or null.
  static std::shared_ptr<testing_support::FakeHIDClient> clientOf(const std::string& udid) {
    std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
    auto found = hidClients.find(udid);
    if (found == hidClients.end()) return nullptr;
    return std::dynamic_pointer_cast<testing_support::FakeHIDClient>(found->second);
  }

  static std::vector<testing_support::FakeIndigoMessage> indigoCalls() {
    return testing_support::FakeIndigo::shared().calls();
  }

  testing_support::FakeSimulatorPlatform fake;
  testing_support::FakeHostClock clock;
  testing_support::LogCapture log;
  std::shared_ptr<testing_support::FakeHIDClientClass> hidClass =
      std::make_shared<testing_support::FakeHIDClientClass>();
  std::string simKitPath;

 private:
  testing_support::ScopedSimulatorPlatform installed_;
};

}  // namespace testing_support
