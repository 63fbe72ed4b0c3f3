// The C++ faces of the frameworks' objects, made by the simulator platform's sources
// (Objective-C++ only). Each holds one reference to its Objective-C object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "bridge/platform/apple_simulator/objc_support.h"

namespace platform::apple {

// A SimDevice; the I/O and HID client classes need its object back.
class AppleDevice final : public SimDevice {
 public:
  explicit AppleDevice(ObjcRef device) : device_(std::move(device)) {}
  id object() const { return device_.get(); }

  std::optional<std::string> udidString() override;
  std::shared_ptr<SimDeviceType> deviceType() override;
  bool respondsToSetHardwareKeyboardEnabled() const override;
  bool setHardwareKeyboardEnabled(bool enabled, uint32_t keyboardType, SimErrorRef* error) override;
  std::string description() const override;

 private:
  const ObjcRef device_;
};

// A class found by name, of the kind the bridge asks for.
template <typename Kind>
class AppleClass : public Kind {
 public:
  AppleClass(Class cls, std::string name) : class_(cls), name_(std::move(name)) {}
  std::string name() const override { return name_; }

 protected:
  id object() const { return (id)class_; }

 private:
  Class class_;  // classes live as long as their image; never released
  const std::string name_;
};

// The object of a device made by this platform; nil for any other device.
id deviceObject(const SimDeviceRef& device);

// The class objects, by the kind the name stands for.
SimClassRef serviceContextClass(Class cls, const std::string& name);
SimClassRef ioClientClass(Class cls, const std::string& name);
SimClassRef hidClientClass(Class cls, const std::string& name);
// A class of no kind the bridge uses.
SimClassRef plainClass(Class cls, const std::string& name);

// Runs `handler` with `error` on `queue`: at once when the frameworks already run it on
// the default global queue that `queue` stands for, otherwise queued there.
void deliverOn(GlobalQueue& queue, const std::shared_ptr<std::function<void(SimErrorRef)>>& handler,
               SimErrorRef error);

}  // namespace platform::apple
