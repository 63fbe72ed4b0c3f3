// Helpers for the virtual simulator's tests: reaching devices, displays and HID clients
// through the platform interface, and reading pixels.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "bridge/platform/simulator_platform.h"
#include "bridge/platform/virtual_simulator/virtual_simulator.h"

namespace virtual_sim_test {

using namespace std::chrono_literals;

inline constexpr const char* kCoreSimulatorPath = "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator";
inline constexpr const char* kSimulatorKitPath =
    "/Applications/Xcode.app/Contents/Developer/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit";

inline constexpr const char* kPhone = "7E57DE71-CE00-4000-8000-000000000001";
inline constexpr const char* kTablet = "7E57DE71-CE00-4000-8000-000000000002";
inline constexpr const char* kTV = "7E57DE71-CE00-4000-8000-000000000003";
inline constexpr const char* kDualPanel = "7E57DE71-CE00-4000-8000-000000000004";
inline constexpr const char* kSlowBoot = "7E57DE71-CE00-4000-8000-000000000005";
inline constexpr const char* kHeadless = "7E57DE71-CE00-4000-8000-000000000006";
inline constexpr const char* kStaleInput = "7E57DE71-CE00-4000-8000-000000000007";
inline constexpr const char* kAnimated = "7E57DE71-CE00-4000-8000-000000000008";

struct Pixel {
  uint8_t b, g, r;
  bool operator==(const Pixel&) const = default;
};
inline constexpr Pixel kMagenta{255, 0, 255};

inline platform::SimulatorPlatform& sim() { return platform::virtualSimulatorPlatform(); }

// Every test starts from fresh devices, both images open and a manual clock.
class VirtualSimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::resetVirtualSimulatorForTesting();
    platform::setVirtualClockForTesting(clock);
    ASSERT_NE(sim().openImage(kCoreSimulatorPath, 10), nullptr);
    simKit = sim().openImage(kSimulatorKitPath, 10);
    ASSERT_NE(simKit, nullptr);
  }
  void TearDown() override {
    platform::GlobalQueue::shared().waitIdleForTesting();
    platform::resetVirtualSimulatorForTesting();
  }

  // Moves the manual clock and draws what became due.
  void advance(std::chrono::nanoseconds by) {
    clock->advance(by);
    platform::renderDueFramesForTesting();
  }

  std::vector<platform::SimDeviceRef> devices() {
    auto cls = std::dynamic_pointer_cast<platform::SimServiceContextClass>(sim().classNamed("SimServiceContext"));
    EXPECT_NE(cls, nullptr);
    if (!cls) return {};
    auto context = cls->sharedServiceContextForDeveloperDir("/Applications/Xcode.app/Contents/Developer");
    auto set = context ? context->defaultDeviceSet() : nullptr;
    auto list = set ? set->devices() : std::nullopt;
    return list.value_or(std::vector<platform::SimDeviceRef>{});
  }

  platform::SimDeviceRef device(const std::string& udid) {
    for (const auto& d : devices())
      if (d->udidString() == udid) return d;
    ADD_FAILURE() << "no device " << udid;
    return nullptr;
  }

  platform::SimIOClientRef openIO(const std::string& udid) {
    auto cls = std::dynamic_pointer_cast<platform::SimIOClientClass>(sim().classNamed("SimDeviceIOClient"));
    EXPECT_NE(cls, nullptr);
    return cls->initWithDevice(device(udid), platform::GlobalQueue::shared(), [](platform::SimErrorRef) {});
  }

  static std::vector<platform::SimDisplayDescriptorRef> displays(const platform::SimIOClientRef& client) {
    std::vector<platform::SimDisplayDescriptorRef> found;
    for (const auto& port : client->ioPorts())
      if (port->portIdentifier() == platform::kFramebufferDisplayPortIdentifier) found.push_back(port->descriptor());
    return found;
  }

  platform::SimHIDClientRef hidClient(const std::string& udid) {
    auto cls = std::dynamic_pointer_cast<platform::SimHIDClientClass>(sim().classNamed("SimulatorKit.SimDeviceLegacyHIDClient"));
    EXPECT_NE(cls, nullptr);
    return cls->alloc()->initWithDevice(device(udid));
  }

  template <typename Fn>
  Fn symbol(const char* name) {
    return reinterpret_cast<Fn>(sim().lookupSymbol(simKit, name));
  }

  // Sends a message (taken over by the client) and waits for its completion's error.
  static platform::SimErrorRef send(const platform::SimHIDClientRef& client, void* message) {
    auto done = std::make_shared<std::promise<platform::SimErrorRef>>();
    auto result = done->get_future();
    client->sendWithMessage(message, true, platform::GlobalQueue::shared(),
                            [done](platform::SimErrorRef error) { done->set_value(error); });
    EXPECT_EQ(result.wait_for(10s), std::future_status::ready);
    return result.get();
  }

  platform::SimErrorRef touch(const platform::SimHIDClientRef& client, double x, double y, int eventType, int direction) {
    const double position[2] = {x, y};
    auto fn = symbol<platform::IndigoMouseMessageFn>(platform::kIndigoMouseMessageSymbol);
    return send(client, fn(position, nullptr, 50, eventType, direction, 1.0, 1.0, 1.0, 1.0));
  }
  platform::SimErrorRef touchDown(const platform::SimHIDClientRef& c, double x, double y) { return touch(c, x, y, 1, 1); }
  platform::SimErrorRef touchDrag(const platform::SimHIDClientRef& c, double x, double y) { return touch(c, x, y, 6, 0); }
  platform::SimErrorRef touchUp(const platform::SimHIDClientRef& c, double x, double y) { return touch(c, x, y, 2, 2); }

  platform::SimErrorRef key(const platform::SimHIDClientRef& client, uint16_t keyCode, bool down, uint64_t flags = 0) {
    auto event = sim().keyEvent(down ? 10 : 11, 0, 0, flags, 0, 0, nullptr, "", "", false, keyCode);
    auto fn = symbol<platform::IndigoKeyboardMessageFn>(platform::kIndigoKeyboardMessageSymbol);
    return send(client, fn(event.get()));
  }

  platform::SimErrorRef usage(const platform::SimHIDClientRef& client, uint32_t page, uint32_t usageCode, uint32_t op = 1) {
    auto fn = symbol<platform::IndigoArbitraryMessageFn>(platform::kIndigoArbitraryMessageSymbol);
    return send(client, fn(21, page, usageCode, op));
  }

  platform::SimErrorRef button(const platform::SimHIDClientRef& client, uint32_t code, uint32_t op = 1) {
    auto fn = symbol<platform::IndigoButtonMessageFn>(platform::kIndigoButtonMessageSymbol);
    return send(client, fn(code, op, 51));
  }

  std::shared_ptr<platform::ManualVirtualClock> clock = std::make_shared<platform::ManualVirtualClock>();
  void* simKit = nullptr;
};

// Reads one pixel under the read-only lock, honouring the row padding.
inline Pixel pixelAt(const platform::SurfaceRef& surface, size_t x, size_t y) {
  EXPECT_EQ(surface->lockReadOnly(), 0);
  const uint8_t* p = surface->baseAddress() + y * surface->bytesPerRow() + 4 * x;
  Pixel pixel{p[0], p[1], p[2]};
  surface->unlockReadOnly();
  return pixel;
}

// A copy of a rectangle's pixels (BGRA, tightly packed), under the read-only lock.
inline std::vector<uint8_t> region(const platform::SurfaceRef& surface, size_t x, size_t y, size_t w, size_t h) {
  std::vector<uint8_t> out(w * h * 4);
  EXPECT_EQ(surface->lockReadOnly(), 0);
  for (size_t row = 0; row < h; ++row)
    std::memcpy(out.data() + row * w * 4, surface->baseAddress() + (y + row) * surface->bytesPerRow() + 4 * x, w * 4);
  surface->unlockReadOnly();
  return out;
}

// The dark test the capture layer applies: 16 x 16 samples, each channel at most 12.
inline bool looksDark(const platform::SurfaceRef& surface) {
  EXPECT_EQ(surface->lockReadOnly(), 0);
  bool dark = true;
  for (size_t i = 0; i < 16 && dark; ++i)
    for (size_t k = 0; k < 16 && dark; ++k) {
      const uint8_t* p = surface->baseAddress() + (surface->height() * i / 16) * surface->bytesPerRow() +
                         4 * (surface->width() * k / 16);
      if (p[0] > 12 || p[1] > 12 || p[2] > 12) dark = false;
    }
  surface->unlockReadOnly();
  return dark;
}

}  // namespace virtual_sim_test
