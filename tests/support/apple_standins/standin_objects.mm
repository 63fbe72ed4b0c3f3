#include "tests/support/apple_standins/standin_objects.h"

#include <objc/runtime.h>

#include "tests/support/apple_standins/standin_support.h"

namespace standin {

const platform::SimDeviceRef* backingDevice(id device) {
  return [device respondsToSelector:@selector(standinBacking)] ? [device standinBacking] : nullptr;
}

NSError* nsError(const platform::SimErrorRef& error) {
  if (!error) return nil;
  NSDictionary* info = @{NSLocalizedDescriptionKey : nsString(error->localizedDescription)};
  return [NSError errorWithDomain:nsString(error->domain) code:error->code userInfo:info];
}

void raiseReason(const std::string& reason) {
  [NSException raise:NSInternalInconsistencyException format:@"%@", nsString(reason)];
  __builtin_unreachable();
}

void registerPublicName(Class implementation, const char* name) {
  if (faultSet(std::string("missing:") + name)) return;
  Class cls = objc_allocateClassPair(implementation, name, 0);
  if (cls != Nil) objc_registerClassPair(cls);
}

NSString* nsString(const std::string& text) { return [NSString stringWithUTF8String:text.c_str()]; }

std::string stdString(NSString* text) { return text != nil ? std::string([text UTF8String]) : std::string(); }

}  // namespace standin
