// The virtual simulator platform: images, symbols, classes, key events and the one
// device set with the catalog's devices.
#include "bridge/platform/virtual_simulator/virtual_simulator.h"

#include <atomic>
#include <mutex>
#include <string_view>
#include <vector>

#include "bridge/platform/virtual_simulator/adapters/hid_client.h"
#include "bridge/platform/virtual_simulator/adapters/io_client.h"
#include "bridge/platform/virtual_simulator/device/catalog.h"
#include "bridge/platform/virtual_simulator/device/indigo_message.h"
#include "bridge/platform/virtual_simulator/device/virtual_device.h"

namespace platform {
namespace {

using virtual_sim::VirtualDevice;

constexpr std::string_view kCoreSimulatorPath = "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator";
constexpr std::string_view kSimulatorKitSuffix = "SimulatorKit.framework/SimulatorKit";

// Image handles: the addresses of these two bytes.
char g_coreSimulatorImage;
char g_simulatorKitImage;

class DeviceSet final : public SimDeviceSet {
 public:
  explicit DeviceSet(std::vector<SimDeviceRef> devices) : devices_(std::move(devices)) {}
  std::optional<std::vector<SimDeviceRef>> devices() override { return devices_; }

 private:
  const std::vector<SimDeviceRef> devices_;
};

class VirtualSimulator;

class ServiceContext final : public SimServiceContext {
 public:
  explicit ServiceContext(VirtualSimulator& simulator) : simulator_(simulator) {}
  std::shared_ptr<SimDeviceSet> defaultDeviceSet() override;

 private:
  VirtualSimulator& simulator_;
};

class ServiceContextClass final : public SimServiceContextClass {
 public:
  explicit ServiceContextClass(VirtualSimulator& simulator) : simulator_(simulator) {}
  std::string name() const override { return "SimServiceContext"; }
  // Every developer directory leads to the same devices.
  std::shared_ptr<SimServiceContext> sharedServiceContextForDeveloperDir(const std::string&) override {
    return std::make_shared<ServiceContext>(simulator_);
  }

 private:
  VirtualSimulator& simulator_;
};

class VirtualSimulator final : public SimulatorPlatform {
 public:
  VirtualSimulator()
      : serviceContextClass_(std::make_shared<ServiceContextClass>(*this)),
        ioClientClass_(std::make_shared<virtual_sim::VirtualIOClientClass>()),
        hidClientClass_(std::make_shared<virtual_sim::VirtualHIDClientClass>()) {
    makeDevices();
  }

  void* openImage(const std::string& path, int) override {
    if (path == kCoreSimulatorPath) {
      coreSimulatorOpen_.store(true, std::memory_order_release);
      return &g_coreSimulatorImage;
    }
    if (path.ends_with(kSimulatorKitSuffix)) {
      simulatorKitOpen_.store(true, std::memory_order_release);
      return &g_simulatorKitImage;
    }
    return nullptr;
  }

  void* lookupSymbol(void* image, const std::string& symbol) override {
    if (image != &g_simulatorKitImage || !simulatorKitOpen_.load(std::memory_order_acquire)) return nullptr;
    if (symbol == kIndigoMouseMessageSymbol) return asAddress(IndigoMouseMessageFn{&virtual_sim::indigoMessageForMouseNSEvent});
    if (symbol == kIndigoKeyboardMessageSymbol)
      return asAddress(IndigoKeyboardMessageFn{&virtual_sim::indigoMessageForKeyboardNSEvent});
    if (symbol == kIndigoButtonMessageSymbol) return asAddress(IndigoButtonMessageFn{&virtual_sim::indigoMessageForButton});
    if (symbol == kIndigoArbitraryMessageSymbol)
      return asAddress(IndigoArbitraryMessageFn{&virtual_sim::indigoMessageForHIDArbitrary});
    return nullptr;
  }

  SimClassRef classNamed(const std::string& name) override {
    if (coreSimulatorOpen_.load(std::memory_order_acquire)) {
      if (name == serviceContextClass_->name()) return serviceContextClass_;
      if (name == ioClientClass_->name()) return ioClientClass_;
    }
    if (simulatorKitOpen_.load(std::memory_order_acquire) && name == hidClientClass_->name()) return hidClientClass_;
    return nullptr;
  }

  KeyEventRef keyEvent(int64_t type, double locationX, double locationY, uint64_t modifierFlags, double timestamp,
                       int64_t windowNumber, const void* context, const std::string& characters,
                       const std::string& charactersIgnoringModifiers, bool isARepeat, uint16_t keyCode) override {
    return std::make_shared<KeyEvent>(KeyEvent{type, locationX, locationY, modifierFlags, timestamp, windowNumber,
                                               context, characters, charactersIgnoringModifiers, isARepeat, keyCode});
  }

  std::vector<SimDeviceRef> devices() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::vector<SimDeviceRef>(devices_.begin(), devices_.end());
  }

  std::vector<std::shared_ptr<VirtualDevice>> virtualDevices() {
    std::lock_guard<std::mutex> hold(lock_);
    return devices_;
  }

  void reset() {
    coreSimulatorOpen_.store(false, std::memory_order_release);
    simulatorKitOpen_.store(false, std::memory_order_release);
    makeDevices();
  }

 private:
  template <typename Fn>
  static void* asAddress(Fn fn) {
    return reinterpret_cast<void*>(fn);
  }

  void makeDevices() {
    std::vector<std::shared_ptr<VirtualDevice>> fresh;
    for (const virtual_sim::CatalogEntry& entry : virtual_sim::catalog())
      fresh.push_back(std::make_shared<VirtualDevice>(entry));
    std::lock_guard<std::mutex> hold(lock_);
    devices_ = std::move(fresh);
  }

  const std::shared_ptr<ServiceContextClass> serviceContextClass_;
  const std::shared_ptr<virtual_sim::VirtualIOClientClass> ioClientClass_;
  const std::shared_ptr<virtual_sim::VirtualHIDClientClass> hidClientClass_;
  std::atomic<bool> coreSimulatorOpen_{false};  // release store / acquire load
  std::atomic<bool> simulatorKitOpen_{false};   // release store / acquire load
  std::mutex lock_;
  std::vector<std::shared_ptr<VirtualDevice>> devices_;  // guarded by lock_; catalog order
};

std::shared_ptr<SimDeviceSet> ServiceContext::defaultDeviceSet() {
  return std::make_shared<DeviceSet>(simulator_.devices());
}

VirtualSimulator& theSimulator() {
  // Never destroyed: render threads and queued completions may outlive main.
  static VirtualSimulator* simulator = new VirtualSimulator();
  return *simulator;
}

}  // namespace

SimulatorPlatform& virtualSimulatorPlatform() { return theSimulator(); }

void renderDueFramesForTesting() {
  for (const auto& device : theSimulator().virtualDevices()) device->renderDue();
}

void resetVirtualSimulatorForTesting() {
  theSimulator().reset();
  setVirtualClockForTesting(nullptr);
}

}  // namespace platform
