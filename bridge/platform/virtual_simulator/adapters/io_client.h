// The virtual devices' I/O clients ("SimDeviceIOClient"): ports, display descriptors
// and screen properties.
//
// Each client holds an IOSession of its device; so does every port and descriptor it
// hands out. The device renders while any session of it is alive, that is from the
// client's creation until the client and everything it handed out are released.
//
// Ports, in order: one that is not a display ("com.apple.hid.legacy"), then one
// "com.apple.framebuffer.display" port per display. The Headless Device has two ports,
// neither a display. Display descriptors answer framebufferSurface (the device's
// timeline decides) and screenProperties (uiOrientation 1, screenID = display index).
//
// All objects are immutable after construction and callable from any thread.
#pragma once

#include <memory>

#include "bridge/platform/simulator_platform.h"
#include "bridge/platform/virtual_simulator/device/virtual_device.h"

namespace platform::virtual_sim {

// Keeps its device rendering for as long as it lives.
class IOSession {
 public:
  explicit IOSession(std::shared_ptr<VirtualDevice> device);
  ~IOSession();
  IOSession(const IOSession&) = delete;
  IOSession& operator=(const IOSession&) = delete;
  VirtualDevice& device() const { return *device_; }

 private:
  const std::shared_ptr<VirtualDevice> device_;
};

inline constexpr const char* kHIDPortIdentifier = "com.apple.hid.legacy";
inline constexpr const char* kAudioPortIdentifier = "com.apple.audio.output";

class VirtualIOClientClass final : public SimIOClientClass {
 public:
  std::string name() const override { return "SimDeviceIOClient"; }
  // Null for a device that is not one of the virtual devices. The virtual devices
  // report no I/O errors, so `errorHandler` is never called.
  SimIOClientRef initWithDevice(const SimDeviceRef& device, GlobalQueue& errorQueue,
                                std::function<void(SimErrorRef)> errorHandler) override;
};

}  // namespace platform::virtual_sim
