#include "bridge/platform/apple_simulator/objc_support.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "bridge/platform/apple_simulator/apple_objects.h"

namespace platform::apple {

std::string stringFrom(id value) {
  if (![value isKindOfClass:[NSString class]]) return "";
  const char* utf8 = [(NSString*)value UTF8String];
  return utf8 != nullptr ? std::string(utf8) : std::string();
}

NSString* nsString(const std::string& text) {
  return [[[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding] autorelease];
}

SimErrorRef simErrorFrom(NSError* error) {
  if (error == nil) return nullptr;
  return std::make_shared<const SimError>(
      SimError{stringFrom([error domain]), static_cast<long>([error code]), stringFrom([error localizedDescription])});
}

std::string reasonOf(id raised) {
  if (![raised isKindOfClass:[NSException class]]) return "";
  return stringFrom([(NSException*)raised reason]);
}

void deliverOn(GlobalQueue& queue, const std::shared_ptr<std::function<void(SimErrorRef)>>& handler,
               SimErrorRef error) {
  if (&queue == &GlobalQueue::shared()) {
    (*handler)(std::move(error));
  } else {
    queue.async([handler, error] { (*handler)(error); });
  }
}

}  // namespace platform::apple
