// The Apple simulator platform over the stand-ins when the frameworks misbehave: what
// each fault looks like through the platform interface, and what the bridge then does.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/platform/apple_simulator/core_simulator_platform.h"
#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#include "bridge/simruntime/sim_runtime.h"
#include "tests/support/apple_standins/standin_support.h"
#include "tests/support/bridge_process.h"
#include "tests/support/fake_simulator_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/virtual_simulator_test_support.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

using virtual_sim_test::kHeadless;
using virtual_sim_test::kPhone;
using virtual_sim_test::kSlowBoot;
using virtual_sim_test::kStaleInput;

// A queue that counts what it is given and runs it on the shared queue.
class CountingQueue final : public platform::GlobalQueue {
 public:
  void async(std::function<void()> task) override {
    ++tasks;
    platform::GlobalQueue::shared().async(std::move(task));
  }
  void waitIdleForTesting() override { platform::GlobalQueue::shared().waitIdleForTesting(); }
  std::atomic<int> tasks{0};
};

// The Apple platform installed, over fresh virtual devices and a manual clock.
class AppleSimulatorFaults : public ::testing::Test {
 protected:
  AppleSimulatorFaults() : installed_(platform::coreSimulatorPlatform()) {
    platform::resetVirtualSimulatorForTesting();
    platform::setVirtualClockForTesting(clock);
    resetSimRuntimeForTesting();
  }
  ~AppleSimulatorFaults() override {
    standin::setFaultsForTesting("");
    platform::GlobalQueue::shared().waitIdleForTesting();
    resetSimRuntimeForTesting();
    platform::resetVirtualSimulatorForTesting();
  }

  static platform::SimulatorPlatform& apple() { return platform::coreSimulatorPlatform(); }

  platform::SimIOClientRef openIO(const char* udid) {
    auto cls = std::dynamic_pointer_cast<platform::SimIOClientClass>(apple().classNamed("SimDeviceIOClient"));
    return cls ? cls->initWithDevice(findSimDevice(udid), platform::GlobalQueue::shared(), [](platform::SimErrorRef) {})
               : nullptr;
  }

  platform::SimHIDClientRef hidClient(const char* udid) {
    auto cls = std::dynamic_pointer_cast<platform::SimHIDClientClass>(apple().classNamed("SimulatorKit.SimDeviceLegacyHIDClient"));
    auto allocation = cls ? cls->alloc() : nullptr;
    return allocation ? allocation->initWithDevice(findSimDevice(udid)) : nullptr;
  }

  void* buttonMessage() {
    void* image = apple().openImage(simKitFrameworkPath(), RTLD_NOW | RTLD_GLOBAL);
    auto build = reinterpret_cast<platform::IndigoButtonMessageFn>(apple().lookupSymbol(image, platform::kIndigoButtonMessageSymbol));
    return build != nullptr ? build(1, 1, 51) : nullptr;
  }

  // Sends a button press and returns every completion that arrived for it; the threads
  // they ran on go to completionThreads.
  std::vector<platform::SimErrorRef> send(const platform::SimHIDClientRef& client, platform::GlobalQueue& queue,
                                          bool freeWhenDone = true) {
    void* message = buttonMessage();
    EXPECT_NE(message, nullptr);
    std::mutex lock;
    std::vector<platform::SimErrorRef> completions;
    completionThreads.clear();
    client->sendWithMessage(message, freeWhenDone, queue, [&](platform::SimErrorRef error) {
      std::lock_guard<std::mutex> hold(lock);
      completions.push_back(error);
      completionThreads.push_back(std::this_thread::get_id());
    });
    platform::GlobalQueue::shared().waitIdleForTesting();
    if (!freeWhenDone) std::free(message);
    return completions;
  }

  std::shared_ptr<platform::ManualVirtualClock> clock = std::make_shared<platform::ManualVirtualClock>();
  testing_support::LogCapture log;
  std::vector<std::thread::id> completionThreads;  // written by send's completions, read after its wait

 private:
  testing_support::ScopedSimulatorPlatform installed_;
};

TEST_F(AppleSimulatorFaults, RaisingSelectorsBecomeSimExceptionsWithTheFrameworksReason) {
  ASSERT_TRUE(ensureSimKitLoaded());
  auto headless = findSimDevice(kHeadless);
  ASSERT_NE(headless, nullptr);
  try {
    headless->deviceType();
    ADD_FAILURE() << "deviceType of the headless device did not raise";
  } catch (const platform::SimException& raised) {
    EXPECT_EQ(raised.reason(), "device type unavailable");
  }
  // An unknown event type makes NSEvent raise: no key event.
  EXPECT_EQ(apple().keyEvent(5, 0, 0, 0, 0, 0, nullptr, "a", "a", false, 0), nullptr);
  EXPECT_NE(apple().keyEvent(10, 0, 0, 0, 0, 0, nullptr, "a", "a", false, 0), nullptr);
}

TEST_F(AppleSimulatorFaults, SlowDisplayGivesNilThenRaisesThenAnIOSurfaceOfItsSize) {
  ASSERT_TRUE(ensureSimKitLoaded());
  auto client = openIO(kSlowBoot);
  ASSERT_NE(client, nullptr);
  platform::SimDisplayDescriptorRef display;
  for (const auto& port : client->ioPorts())
    if (port->portIdentifier() == platform::kFramebufferDisplayPortIdentifier) display = port->descriptor();
  ASSERT_NE(display, nullptr);

  EXPECT_EQ(display->framebufferSurface(), nullptr);
  clock->advance(1600ms);
  EXPECT_THROW(display->framebufferSurface(), platform::SimException);
  clock->advance(500ms);
  platform::renderDueFramesForTesting();
  auto surface = display->framebufferSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->width(), 1179u);
  EXPECT_EQ(surface->height(), 2556u);
  EXPECT_GE(surface->bytesPerRow(), 4 * surface->width());
  EXPECT_NE(surface->seed(), 0u);
  ASSERT_EQ(surface->lockReadOnly(), 0);
  EXPECT_NE(surface->baseAddress(), nullptr);
  EXPECT_EQ(surface->unlockReadOnly(), 0);

  standin::setFaultsForTesting("nil-surface");
  EXPECT_EQ(display->framebufferSurface(), nullptr);
}

TEST_F(AppleSimulatorFaults, SendErrorsArriveOnceAsTheFrameworksReportedThem) {
  ASSERT_TRUE(ensureSimKitLoaded());
  // The stale client's error travels as an NSError and comes back whole.
  auto stale = hidClient(kStaleInput);
  ASSERT_NE(stale, nullptr);
  auto errors = send(stale, platform::GlobalQueue::shared());
  ASSERT_EQ(errors.size(), 1u);
  ASSERT_NE(errors[0], nullptr);
  EXPECT_EQ(errors[0]->domain, "NSMachErrorDomain");
  EXPECT_EQ(errors[0]->code, 0x10000003);
  EXPECT_EQ(errors[0]->localizedDescription, "stale mach port");
  auto fresh = hidClient(kStaleInput);
  EXPECT_EQ(send(fresh, platform::GlobalQueue::shared()), std::vector<platform::SimErrorRef>{nullptr});

  // A completion queue of the caller's own is where the completion runs.
  CountingQueue queue;
  EXPECT_EQ(send(fresh, queue), std::vector<platform::SimErrorRef>{nullptr});
  EXPECT_EQ(queue.tasks.load(), 1);

  // A send that raises still completes, once, with an error, on the completion queue:
  // never on the caller's thread, which may hold the injection lock.
  standin::setFaultsForTesting("raise-on-send");
  errors = send(fresh, platform::GlobalQueue::shared(), false);
  ASSERT_EQ(errors.size(), 1u);
  ASSERT_NE(errors[0], nullptr);
  EXPECT_EQ(errors[0]->domain, "NSInternalInconsistencyException");
  ASSERT_EQ(completionThreads.size(), 1u);
  EXPECT_NE(completionThreads[0], std::this_thread::get_id());
  EXPECT_EQ(send(fresh, queue, false).size(), 1u);
  EXPECT_EQ(queue.tasks.load(), 2);
}

// The bridge over the stand-ins, started with faults in its environment.
class AppleBridgeFaults : public ::testing::Test {
 protected:
  void start(const std::string& faults) {
    bridge_ = std::make_unique<testing_support::BridgeProcess>(
        "/usr/bin/env", std::vector<std::string>{"CORVANE_STANDIN_FAULTS=" + faults, CORVANE_APPLE_BRIDGE_BINARY});
  }
  json ask(const json& request) {
    auto response = bridge_->request(request.dump());
    EXPECT_TRUE(response.has_value()) << request;
    return response ? json::parse(*response) : json();
  }
  json touch(int type) { return ask({{"cmd", "touch"}, {"udid", kPhone}, {"x", 0.5}, {"y", 0.5}, {"type", type}}); }
  void TearDown() override {
    bridge_->closeStdin();
    EXPECT_EQ(bridge_->waitForExit(), 0);
  }

  std::unique_ptr<testing_support::BridgeProcess> bridge_;
  const json ok_ = {{"ok", true}};
};

TEST_F(AppleBridgeFaults, WithoutTheIOClientClassCaptureIsRefusedAndInputStillWorks) {
  start("missing:SimDeviceIOClient");
  EXPECT_EQ(ask({{"cmd", "start_capture"}, {"udid", kPhone}}).value("ok", true), false);
  EXPECT_TRUE(bridge_->waitForStderr("[Framebuffer] Initial IOClient setup failed"));
  EXPECT_EQ(touch(0), ok_);
  EXPECT_EQ(touch(2), ok_);
}

TEST_F(AppleBridgeFaults, TheUnqualifiedHIDClientClassIsTheFallback) {
  start("missing:SimulatorKit.SimDeviceLegacyHIDClient");
  EXPECT_EQ(touch(0), ok_);
  EXPECT_TRUE(bridge_->waitForStderr(std::string("[IndigoHID] HID client ready for ") + kPhone));
}

TEST_F(AppleBridgeFaults, WithoutAnyHIDClientClassInputFailsAndSaysWhy) {
  start("missing:SimulatorKit.SimDeviceLegacyHIDClient,missing:SimDeviceLegacyHIDClient");
  EXPECT_EQ(touch(0), json({{"ok", false}, {"error", "touch: sc_indigo_touch returned -2"}}));
  EXPECT_TRUE(bridge_->waitForStderr("[IndigoHID] SimDeviceLegacyHIDClient class not found"));
  EXPECT_EQ(ask({{"cmd", "hw_button"}, {"udid", kPhone}, {"keyCode", 1}}), json({{"ok", false}, {"rcDown", -2}, {"rcUp", -2}}));
}

TEST_F(AppleBridgeFaults, ADownWhoseSendRaisesIsRetriedOnAFreshClientAndReported) {
  start("raise-on-send");
  EXPECT_EQ(touch(0).value("ok", true), false);
  EXPECT_TRUE(bridge_->waitForStderr("[IndigoHID] DOWN send error: Error Domain=NSInternalInconsistencyException"));
  EXPECT_TRUE(bridge_->waitForStderr(std::string("recreating client for ") + kPhone));
}

}  // namespace
