#include "bridge/platform/virtual_simulator/adapters/io_client.h"

#include <vector>

namespace platform::virtual_sim {
namespace {

class DisplayDescriptor final : public SimDisplayDescriptor {
 public:
  DisplayDescriptor(std::shared_ptr<IOSession> session, int index) : session_(std::move(session)), index_(index) {}
  SurfaceRef framebufferSurface() override { return session_->device().framebufferSurface(index_); }
  std::optional<SimScreenProperties> screenProperties() override {
    return SimScreenProperties{1, static_cast<uint32_t>(index_)};
  }

 private:
  const std::shared_ptr<IOSession> session_;
  const int index_;
};

class Port final : public SimIOPort {
 public:
  Port(std::string identifier, SimDisplayDescriptorRef descriptor)
      : identifier_(std::move(identifier)), descriptor_(std::move(descriptor)) {}
  std::string portIdentifier() override { return identifier_; }
  SimDisplayDescriptorRef descriptor() override { return descriptor_; }

 private:
  const std::string identifier_;
  const SimDisplayDescriptorRef descriptor_;  // null for ports that are not displays
};

class IOClient final : public SimIOClient {
 public:
  explicit IOClient(const std::shared_ptr<VirtualDevice>& device) : session_(std::make_shared<IOSession>(device)) {
    ports_.push_back(std::make_shared<Port>(kHIDPortIdentifier, nullptr));
    for (int i = 0; i < device->displayCount(); ++i)
      ports_.push_back(std::make_shared<Port>(kFramebufferDisplayPortIdentifier,
                                              std::make_shared<DisplayDescriptor>(session_, i)));
    if (device->displayCount() == 0) ports_.push_back(std::make_shared<Port>(kAudioPortIdentifier, nullptr));
  }
  std::vector<SimIOPortRef> ioPorts() override { return ports_; }

 private:
  const std::shared_ptr<IOSession> session_;
  std::vector<SimIOPortRef> ports_;  // fixed at construction
};

}  // namespace

IOSession::IOSession(std::shared_ptr<VirtualDevice> device) : device_(std::move(device)) { device_->openIO(); }

IOSession::~IOSession() { device_->closeIO(); }

SimIOClientRef VirtualIOClientClass::initWithDevice(const SimDeviceRef& device, GlobalQueue&,
                                                    std::function<void(SimErrorRef)>) {
  auto virtualDevice = std::dynamic_pointer_cast<VirtualDevice>(device);
  if (!virtualDevice) return nullptr;
  return std::make_shared<IOClient>(virtualDevice);
}

}  // namespace platform::virtual_sim
