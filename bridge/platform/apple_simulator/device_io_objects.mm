// The device I/O objects of display discovery and capture: the I/O client class and
// its clients, their ports and the display descriptors with their surfaces.
#include <dispatch/dispatch.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/platform/apple_simulator/apple_objects.h"
#include "bridge/platform/apple_simulator/private_methods.h"
#include "bridge/platform/apple_surface/io_surface_surface.h"

namespace platform::apple {
namespace {

class AppleDisplayDescriptor final : public SimDisplayDescriptor {
 public:
  explicit AppleDisplayDescriptor(ObjcRef descriptor) : descriptor_(std::move(descriptor)) {}
  SurfaceRef framebufferSurface() override {
    // The surface is borrowed from the descriptor; the wrapper retains it.
    return raising([&]() -> SurfaceRef { return IOSurfaceSurface::retaining([descriptor_.get() framebufferSurface]); });
  }
  std::optional<SimScreenProperties> screenProperties() override {
    return raising([&]() -> std::optional<SimScreenProperties> {
      id properties = [descriptor_.get() screenProperties];
      if (properties == nil) return std::nullopt;
      return SimScreenProperties{[properties uiOrientation], [properties screenID]};
    });
  }

 private:
  const ObjcRef descriptor_;
};

class AppleIOPort final : public SimIOPort {
 public:
  explicit AppleIOPort(ObjcRef port) : port_(std::move(port)) {}
  std::string portIdentifier() override {
    return raising([&] { return stringFrom([port_.get() portIdentifier]); });
  }
  SimDisplayDescriptorRef descriptor() override {
    return raising([&]() -> SimDisplayDescriptorRef {
      id descriptor = [port_.get() descriptor];
      if (descriptor == nil) return nullptr;
      return std::make_shared<AppleDisplayDescriptor>(ObjcRef::retaining(descriptor));
    });
  }

 private:
  const ObjcRef port_;
};

class AppleIOClient final : public SimIOClient {
 public:
  explicit AppleIOClient(ObjcRef client) : client_(std::move(client)) {}
  std::vector<SimIOPortRef> ioPorts() override {
    return orElse(std::vector<SimIOPortRef>{}, [&] {
      return wrappedElements<SimIOPort, AppleIOPort>([client_.get() valueForKey:@"ioPorts"])
          .value_or(std::vector<SimIOPortRef>{});
    });
  }

 private:
  const ObjcRef client_;
};

class AppleIOClientClass final : public AppleClass<SimIOClientClass> {
 public:
  using AppleClass::AppleClass;

  SimIOClientRef initWithDevice(const SimDeviceRef& device, GlobalQueue& errorQueue,
                                std::function<void(SimErrorRef)> errorHandler) override {
    id deviceObj = deviceObject(device);
    if (deviceObj == nil) return nullptr;
    auto handler = std::make_shared<std::function<void(SimErrorRef)>>(std::move(errorHandler));
    GlobalQueue* queue = &errorQueue;
    // The client copies the block if it keeps it; the block holds the handler.
    void (^block)(NSError*) = ^(NSError* error) {
      deliverOn(*queue, handler, simErrorFrom(error));
    };
    return orElse(SimIOClientRef{}, [&]() -> SimIOClientRef {
      id client = [[object() alloc] initWithDevice:deviceObj
                                          errorQueue:dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0)
                                        errorHandler:block];
      if (client == nil) return nullptr;
      return std::make_shared<AppleIOClient>(ObjcRef::adopting(client));
    });
  }
};

}  // namespace

SimClassRef ioClientClass(Class cls, const std::string& name) { return std::make_shared<AppleIOClientClass>(cls, name); }

}  // namespace platform::apple
