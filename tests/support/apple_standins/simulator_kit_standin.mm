// A stand-in of the SimulatorKit framework: the legacy HID client over the virtual
// simulator's, and the four Indigo message functions, the keyboard one taking an
// NSEvent as SimulatorKit's does.
#import <AppKit/AppKit.h>
#include <Block.h>
#include <dispatch/dispatch.h>

#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#include "tests/support/apple_standins/standin_objects.h"
#include "tests/support/apple_standins/standin_support.h"

namespace {

template <typename Fn>
Fn backingFunction(const char* symbol) {
  return reinterpret_cast<Fn>(platform::virtualSimulatorPlatform().lookupSymbol(standin::backingSimulatorKit(), symbol));
}

}  // namespace

@interface CorvaneStandinLegacyHIDClient : NSObject {
  platform::SimHIDClientRef* backing_;
}
@end

@implementation CorvaneStandinLegacyHIDClient
+ (void)load {
  standin::registerPublicName(self, "SimDeviceLegacyHIDClient");
  standin::registerPublicName(self, "SimulatorKit.SimDeviceLegacyHIDClient");
}
- (id)initWithDevice:(id)device error:(NSError**)error {
  auto cls = standin::backingClass<platform::SimHIDClientClass>("SimulatorKit.SimDeviceLegacyHIDClient");
  const platform::SimDeviceRef* backingDevice = standin::backingDevice(device);
  auto allocation = cls && backingDevice != nullptr ? cls->alloc() : nullptr;
  auto client = allocation ? allocation->initWithDevice(*backingDevice) : nullptr;
  if (!client || !(self = [super init])) {
    [self release];
    return nil;
  }
  backing_ = new platform::SimHIDClientRef(std::move(client));
  return self;
}
- (void)dealloc {
  delete backing_;
  [super dealloc];
}
- (void)sendWithMessage:(void*)message
           freeWhenDone:(BOOL)freeWhenDone
        completionQueue:(dispatch_queue_t)queue
             completion:(void (^)(NSError*))completion {
  if (standin::faultSet("raise-on-send")) {
    [NSException raise:NSInternalInconsistencyException format:@"HID connection interrupted"];
  }
  if (completion == nil) completion = ^(NSError*) {};
  void (^kept)(NSError*) = Block_copy(completion);
  (*backing_)->sendWithMessage(message, freeWhenDone == YES, platform::GlobalQueue::shared(),
                               [kept](platform::SimErrorRef error) {
                                 @autoreleasepool {
                                   kept(standin::nsError(error));
                                 }
                                 Block_release(kept);
                               });
}
@end

extern "C" {

void* IndigoHIDMessageForMouseNSEvent(const double* position, const void* unused, int32_t target, int32_t eventType,
                                      int32_t direction, double a, double b, double c, double d) {
  auto function = backingFunction<platform::IndigoMouseMessageFn>(platform::kIndigoMouseMessageSymbol);
  return function != nullptr ? function(position, unused, target, eventType, direction, a, b, c, d) : nullptr;
}

void* IndigoHIDMessageForKeyboardNSEvent(NSEvent* event) {
  auto function = backingFunction<platform::IndigoKeyboardMessageFn>(platform::kIndigoKeyboardMessageSymbol);
  if (function == nullptr || event == nil) return nullptr;
  NSPoint location = [event locationInWindow];
  const platform::KeyEvent keyEvent{static_cast<int64_t>([event type]),
                                    location.x,
                                    location.y,
                                    static_cast<uint64_t>([event modifierFlags]),
                                    [event timestamp],
                                    static_cast<int64_t>([event windowNumber]),
                                    nullptr,
                                    standin::stdString([event characters]),
                                    standin::stdString([event charactersIgnoringModifiers]),
                                    [event isARepeat] == YES,
                                    [event keyCode]};
  return function(&keyEvent);
}

void* IndigoHIDMessageForButton(uint32_t keyCode, uint32_t op, uint32_t target) {
  auto function = backingFunction<platform::IndigoButtonMessageFn>(platform::kIndigoButtonMessageSymbol);
  return function != nullptr ? function(keyCode, op, target) : nullptr;
}

void* IndigoHIDMessageForHIDArbitrary(uint32_t target, uint32_t page, uint32_t usage, uint32_t op) {
  auto function = backingFunction<platform::IndigoArbitraryMessageFn>(platform::kIndigoArbitraryMessageSymbol);
  return function != nullptr ? function(target, page, usage, op) : nullptr;
}

}  // extern "C"
