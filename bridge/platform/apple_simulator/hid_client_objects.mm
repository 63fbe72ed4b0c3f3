// The SimulatorKit HID client: its class, an allocation waiting for init, and the
// client that sends Indigo messages.
#include <dispatch/dispatch.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "bridge/platform/apple_simulator/apple_objects.h"
#include "bridge/platform/apple_simulator/private_methods.h"

namespace platform::apple {
namespace {

class AppleHIDClient final : public SimHIDClient {
 public:
  explicit AppleHIDClient(ObjcRef client) : client_(std::move(client)) {}

  void sendWithMessage(void* message, bool freeWhenDone, GlobalQueue& completionQueue,
                       std::function<void(SimErrorRef)> completion) override {
    auto handler = std::make_shared<std::function<void(SimErrorRef)>>(std::move(completion));
    GlobalQueue* queue = &completionQueue;
    void (^block)(NSError*) = ^(NSError* error) {
      deliverOn(*queue, handler, simErrorFrom(error));
    };
    // A send that raises never calls its completion, so it is reported here, once, as
    // a failed send. The message stays where it is: whether the client already took it
    // over is unknown, and freeing it twice would be worse than keeping 192 bytes.
    bool raised = orElse(true, [&] {
      [client_.get() sendWithMessage:message
                        freeWhenDone:freeWhenDone ? YES : NO
                     completionQueue:dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0)
                          completion:block];
      return false;
    });
    if (raised) {
      // Queued like any completion, never run here: the caller may hold locks (the
      // injection lock) that a completion must not run under.
      SimErrorRef error = std::make_shared<const SimError>(SimError{
          "NSInternalInconsistencyException", 0, "sendWithMessage:freeWhenDone:completionQueue:completion: raised"});
      completionQueue.async([handler, error] { (*handler)(error); });
    }
  }

 private:
  const ObjcRef client_;
};

class AppleHIDClientAllocation final : public SimHIDClientAllocation {
 public:
  explicit AppleHIDClientAllocation(ObjcRef allocated) : allocated_(std::move(allocated)) {}

  SimHIDClientRef initWithDevice(const SimDeviceRef& device) override {
    id deviceObj = deviceObject(device);
    if (deviceObj == nil || !allocated_) return nullptr;
    // init takes the allocation's reference over and answers with one of its own (or
    // nil, having released the allocation), so the allocation is used up here.
    id allocated = allocated_.release();
    return orElse(SimHIDClientRef{}, [&]() -> SimHIDClientRef {
      id client = [allocated initWithDevice:deviceObj error:nullptr];
      if (client == nil) return nullptr;
      return std::make_shared<AppleHIDClient>(ObjcRef::adopting(client));
    });
  }

 private:
  ObjcRef allocated_;  // nil once init was sent; the caller's thread only
};

class AppleHIDClientClass final : public AppleClass<SimHIDClientClass> {
 public:
  using AppleClass::AppleClass;
  std::shared_ptr<SimHIDClientAllocation> alloc() override {
    return orElse(std::shared_ptr<SimHIDClientAllocation>{}, [&]() -> std::shared_ptr<SimHIDClientAllocation> {
      id allocated = [object() alloc];
      if (allocated == nil) return nullptr;
      return std::make_shared<AppleHIDClientAllocation>(ObjcRef::adopting(allocated));
    });
  }
};

}  // namespace

SimClassRef hidClientClass(Class cls, const std::string& name) { return std::make_shared<AppleHIDClientClass>(cls, name); }

}  // namespace platform::apple
