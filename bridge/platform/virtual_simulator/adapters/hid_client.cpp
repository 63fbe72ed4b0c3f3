#include "bridge/platform/virtual_simulator/adapters/hid_client.h"

#include <cstdlib>

#include "bridge/platform/virtual_simulator/device/indigo_message.h"
#include "bridge/platform/virtual_simulator/device/virtual_device.h"

namespace platform::virtual_sim {
namespace {

constexpr long kMachSendInvalidDest = 0x10000003;  // MACH_SEND_INVALID_DEST

SimErrorRef invalidMessageError() {
  // Never destroyed: completions may still run while the process exits.
  static const SimErrorRef* error =
      new SimErrorRef(std::make_shared<const SimError>(SimError{"com.apple.SimulatorKit", 1, "invalid Indigo message"}));
  return *error;
}

class HIDClient final : public SimHIDClient {
 public:
  HIDClient(std::shared_ptr<VirtualDevice> device, bool stale) : device_(std::move(device)), stale_(stale) {}

  void sendWithMessage(void* message, bool freeWhenDone, GlobalQueue& completionQueue,
                       std::function<void(SimErrorRef)> completion) override {
    std::optional<IndigoMessage> decoded = decodeIndigoMessage(message);
    if (freeWhenDone) std::free(message);
    SimErrorRef error;
    if (stale_) {
      error = staleMachPortError();
    } else if (!decoded) {
      error = invalidMessageError();
    } else {
      device_->apply(*decoded);
    }
    if (completion) completionQueue.async([completion = std::move(completion), error] { completion(error); });
  }

 private:
  const std::shared_ptr<VirtualDevice> device_;
  const bool stale_;
};

class HIDClientAllocation final : public SimHIDClientAllocation {
 public:
  SimHIDClientRef initWithDevice(const SimDeviceRef& device) override {
    auto virtualDevice = std::dynamic_pointer_cast<VirtualDevice>(device);
    if (!virtualDevice) return nullptr;
    const bool stale = virtualDevice->registerHIDClient();
    return std::make_shared<HIDClient>(std::move(virtualDevice), stale);
  }
};

}  // namespace

SimErrorRef staleMachPortError() {
  static const SimErrorRef* error =
      new SimErrorRef(std::make_shared<const SimError>(SimError{"NSMachErrorDomain", kMachSendInvalidDest, "stale mach port"}));
  return *error;
}

std::shared_ptr<SimHIDClientAllocation> VirtualHIDClientClass::alloc() { return std::make_shared<HIDClientAllocation>(); }

}  // namespace platform::virtual_sim
