// Fakes of a device's I/O side for display-capture tests: the I/O client class, its
// clients and ports, display descriptors and their screen properties. Each can be
// scripted to return nothing or to raise, and records what was asked of it.
//
// Threads: the capture queue calls into these while the test thread scripts them, so
// every scripted value is behind the object's own lock or atomic.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/platform/simulator_platform.h"

namespace testing_support {

class FakeDisplayDescriptor : public platform::SimDisplayDescriptor {
 public:
  explicit FakeDisplayDescriptor(platform::SurfaceRef surface = nullptr) : surface_(std::move(surface)) {}
  static std::shared_ptr<FakeDisplayDescriptor> make(platform::SurfaceRef surface = nullptr) {
    return std::make_shared<FakeDisplayDescriptor>(std::move(surface));
  }

  platform::SurfaceRef framebufferSurface() override;
  std::optional<platform::SimScreenProperties> screenProperties() override;

  // Scripting.
  void setSurface(platform::SurfaceRef surface);
  // framebufferSurface raises with this reason (nothing: it answers normally).
  void setSurfaceThrows(std::optional<std::string> reason);
  void setScreenProperties(std::optional<platform::SimScreenProperties> properties);
  void setScreenPropertiesThrows(std::optional<std::string> reason);

  // Runs at the start of every framebufferSurface call, on the caller's thread, before
  // the scripted answer (for example to block a capture tick).
  void setOnSurfaceCall(std::function<void()> hook);

  std::atomic<int> surfaceCalls{0};

 private:
  mutable std::mutex lock_;
  std::function<void()> onSurfaceCall_;                         // guarded by lock_
  platform::SurfaceRef surface_;                                // guarded by lock_
  std::optional<std::string> surfaceThrows_;                    // guarded by lock_
  std::optional<platform::SimScreenProperties> properties_;     // guarded by lock_
  std::optional<std::string> propertiesThrows_;                 // guarded by lock_
};

class FakeIOPort : public platform::SimIOPort {
 public:
  FakeIOPort(std::string identifier, platform::SimDisplayDescriptorRef descriptor)
      : identifier(std::move(identifier)), descriptorValue(std::move(descriptor)) {}
  // A framebuffer display port with this descriptor (which may be null).
  static std::shared_ptr<FakeIOPort> display(platform::SimDisplayDescriptorRef descriptor) {
    return std::make_shared<FakeIOPort>(platform::kFramebufferDisplayPortIdentifier, std::move(descriptor));
  }
  // A port that is not a display.
  static std::shared_ptr<FakeIOPort> other(std::string identifier = "com.apple.audio.output") {
    return std::make_shared<FakeIOPort>(std::move(identifier), nullptr);
  }

  std::string portIdentifier() override;
  platform::SimDisplayDescriptorRef descriptor() override;

  // Fixed before the port is handed out.
  std::string identifier;
  platform::SimDisplayDescriptorRef descriptorValue;
  std::optional<std::string> identifierThrows;
  std::optional<std::string> descriptorThrows;
};

class FakeIOClient : public platform::SimIOClient {
 public:
  explicit FakeIOClient(std::vector<platform::SimIOPortRef> ports) : ports_(std::move(ports)) {}
  std::vector<platform::SimIOPortRef> ioPorts() override;

  platform::SimDeviceRef device;
  std::function<void(platform::SimErrorRef)> errorHandler;
  platform::GlobalQueue* errorQueue = nullptr;

 private:
  std::vector<platform::SimIOPortRef> ports_;  // fixed at creation
};

// "SimDeviceIOClient". Every client it makes gets the ports scripted at that moment.
class FakeIOClientClass : public platform::SimIOClientClass {
 public:
  std::string name() const override { return "SimDeviceIOClient"; }
  platform::SimIOClientRef initWithDevice(const platform::SimDeviceRef& device, platform::GlobalQueue& errorQueue,
                                          std::function<void(platform::SimErrorRef)> errorHandler) override;

  void setPorts(std::vector<platform::SimIOPortRef> ports);
  void setReturnsNull(bool returnsNull);
  // The clients made so far, oldest first.
  std::vector<std::shared_ptr<FakeIOClient>> clients() const;
  int initCalls() const;

 private:
  mutable std::mutex lock_;
  std::vector<platform::SimIOPortRef> ports_;                 // guarded by lock_
  bool returnsNull_ = false;                                  // guarded by lock_
  int initCalls_ = 0;                                         // guarded by lock_
  std::vector<std::shared_ptr<FakeIOClient>> clients_;        // guarded by lock_
};

}  // namespace testing_support
