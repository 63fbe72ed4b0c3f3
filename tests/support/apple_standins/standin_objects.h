// Objective-C helpers of the stand-in images (Objective-C++ only): the backing a
// stand-in device hands to the other image, error and exception conversion, and the
// registration of the frameworks' public class names.
#pragma once

#import <Foundation/Foundation.h>

#include <string>

#include "bridge/platform/simulator_platform.h"

@interface NSObject (CorvaneStandinDevice)
// The virtual device behind a stand-in SimDevice; borrowed from the device.
- (const platform::SimDeviceRef*)standinBacking;
@end

namespace standin {

// The virtual device behind a stand-in SimDevice, borrowed from it; null for any other object.
const platform::SimDeviceRef* backingDevice(id device);
// An autoreleased NSError with the error's domain, code and description; nil for null.
NSError* nsError(const platform::SimErrorRef& error);
// Raises what the virtual simulator threw, as the frameworks raise.
[[noreturn]] void raiseReason(const std::string& reason);
// Registers `name` as a subclass of `implementation`, unless the faults say "missing:<name>".
void registerPublicName(Class implementation, const char* name);
// An autoreleased NSString of UTF-8 text.
NSString* nsString(const std::string& text);
std::string stdString(NSString* text);

}  // namespace standin
