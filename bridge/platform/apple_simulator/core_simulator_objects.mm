// The CoreSimulator objects of device lookup and device traits: the service context,
// the device set, devices and device types.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/platform/apple_simulator/apple_objects.h"
#include "bridge/platform/apple_simulator/private_methods.h"

namespace platform::apple {
namespace {

class AppleDeviceType final : public SimDeviceType {
 public:
  explicit AppleDeviceType(ObjcRef type) : type_(std::move(type)) {}
  bool respondsToProductFamilyID() const override {
    return orElse(false, [&] { return bool([type_.get() respondsToSelector:@selector(productFamilyID)]); });
  }
  int32_t productFamilyID() override {
    return raising([&] { return int32_t{[type_.get() productFamilyID]}; });
  }

 private:
  const ObjcRef type_;
};

class AppleDeviceSet final : public SimDeviceSet {
 public:
  explicit AppleDeviceSet(ObjcRef set) : set_(std::move(set)) {}
  std::optional<std::vector<SimDeviceRef>> devices() override {
    using Devices = std::optional<std::vector<SimDeviceRef>>;
    return orElse(Devices{}, [&] { return wrappedElements<SimDevice, AppleDevice>([set_.get() valueForKey:@"devices"]); });
  }

 private:
  const ObjcRef set_;
};

class AppleServiceContext final : public SimServiceContext {
 public:
  explicit AppleServiceContext(ObjcRef context) : context_(std::move(context)) {}
  std::shared_ptr<SimDeviceSet> defaultDeviceSet() override {
    return orElse(std::shared_ptr<SimDeviceSet>{}, [&]() -> std::shared_ptr<SimDeviceSet> {
      id set = [context_.get() defaultDeviceSetWithError:nullptr];
      if (set == nil) return nullptr;
      return std::make_shared<AppleDeviceSet>(ObjcRef::retaining(set));
    });
  }

 private:
  const ObjcRef context_;
};

class AppleServiceContextClass final : public AppleClass<SimServiceContextClass> {
 public:
  using AppleClass::AppleClass;
  std::shared_ptr<SimServiceContext> sharedServiceContextForDeveloperDir(const std::string& developerDir) override {
    return orElse(std::shared_ptr<SimServiceContext>{}, [&]() -> std::shared_ptr<SimServiceContext> {
      NSString* dir = nsString(developerDir);
      if (dir == nil) return nullptr;
      id context = [object() sharedServiceContextForDeveloperDir:dir error:nullptr];
      if (context == nil) return nullptr;
      return std::make_shared<AppleServiceContext>(ObjcRef::retaining(context));
    });
  }

};

class PlainClass final : public SimClass {
 public:
  explicit PlainClass(std::string name) : name_(std::move(name)) {}
  std::string name() const override { return name_; }

 private:
  const std::string name_;
};

}  // namespace

std::optional<std::string> AppleDevice::udidString() {
  using Text = std::optional<std::string>;
  return orElse(Text{}, [&]() -> Text {
    id value = [device_.get() valueForKey:@"UDID"];
    if (![value isKindOfClass:[NSUUID class]]) return std::nullopt;
    return stringFrom([(NSUUID*)value UUIDString]);
  });
}

std::shared_ptr<SimDeviceType> AppleDevice::deviceType() {
  return raising([&]() -> std::shared_ptr<SimDeviceType> {
    id type = [device_.get() deviceType];
    if (type == nil) return nullptr;
    return std::make_shared<AppleDeviceType>(ObjcRef::retaining(type));
  });
}

bool AppleDevice::respondsToSetHardwareKeyboardEnabled() const {
  return orElse(false, [&] {
    return bool([device_.get() respondsToSelector:@selector(setHardwareKeyboardEnabled:keyboardType:error:)]);
  });
}

bool AppleDevice::setHardwareKeyboardEnabled(bool enabled, uint32_t keyboardType, SimErrorRef* error) {
  return raising([&] {
    NSError* failure = nil;
    BOOL done = [device_.get() setHardwareKeyboardEnabled:enabled ? YES : NO keyboardType:keyboardType error:&failure];
    if (error != nullptr) *error = simErrorFrom(failure);
    return done == YES;
  });
}

std::string AppleDevice::description() const {
  return orElse(std::string(), [&] { return stringFrom([device_.get() description]); });
}

id deviceObject(const SimDeviceRef& device) {
  auto* apple = dynamic_cast<AppleDevice*>(device.get());
  return apple != nullptr ? apple->object() : nil;
}

SimClassRef serviceContextClass(Class cls, const std::string& name) {
  return std::make_shared<AppleServiceContextClass>(cls, name);
}

SimClassRef plainClass(Class, const std::string& name) { return std::make_shared<PlainClass>(name); }

}  // namespace platform::apple
