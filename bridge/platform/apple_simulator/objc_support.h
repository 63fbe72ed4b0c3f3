// Objective-C++ helpers shared by the simulator platform's sources: a holder that owns
// one reference to an object, string and error conversion, and the two ways a message
// that may raise is sent.
//
// Exceptions: an Objective-C exception is caught by @try in the helper's own frame, and
// SimException is thrown only after that frame has returned, so it is never thrown from
// inside an @catch. A C++ exception from the body is not caught here: it passes through
// to the C++ callers, as SimException does (GCC's Objective-C runtime, used on Linux,
// cannot catch a C++ exception in an Objective-C++ function, nor runs the destructors of
// a file with an @catch while one passes; there, of what the body holds, only the pool
// is sure to go).
#pragma once

#import <Foundation/Foundation.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/platform/simulator_platform.h"

namespace platform::apple {

// Owns one reference to an Objective-C object (manual retain/release); nil is allowed.
class ObjcRef {
 public:
  ObjcRef() = default;
  // Takes over a reference the caller owns (from alloc/init, new, copy).
  static ObjcRef adopting(id object) { return ObjcRef(object); }
  // Adds a reference of its own to a borrowed object.
  static ObjcRef retaining(id object) { return ObjcRef([object retain]); }
  ObjcRef(const ObjcRef& other) : object_([other.object_ retain]) {}
  ObjcRef(ObjcRef&& other) noexcept : object_(std::exchange(other.object_, nil)) {}
  ObjcRef& operator=(ObjcRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ObjcRef() { [object_ release]; }

  id get() const { return object_; }
  // Gives the reference up to the caller, who now owns it.
  id release() { return std::exchange(object_, nil); }
  explicit operator bool() const { return object_ != nil; }

 private:
  explicit ObjcRef(id object) : object_(object) {}
  id object_ = nil;
};

// UTF-8 of a string; "" for nil or a value that is not a string.
std::string stringFrom(id value);
// An autoreleased NSString of UTF-8 text; nil when the text is not valid UTF-8.
NSString* nsString(const std::string& text);
// The error's domain, code and localized description; null for nil.
SimErrorRef simErrorFrom(NSError* error);
// The reason of a raised object: an NSException's reason, "" otherwise.
std::string reasonOf(id raised);

// Each element of an array in a `Wrapper` of its own, which retains it; nullopt when
// `value` is not an array.
template <typename Interface, typename Wrapper>
std::optional<std::vector<std::shared_ptr<Interface>>> wrappedElements(id value) {
  if (![value isKindOfClass:[NSArray class]]) return std::nullopt;
  std::vector<std::shared_ptr<Interface>> wrapped;
  for (id element in (NSArray*)value) wrapped.push_back(std::make_shared<Wrapper>(ObjcRef::retaining(element)));
  return wrapped;
}

// Runs body(context) inside an autorelease pool of its own and drains the pool however
// the body ends, also when a C++ exception (std::bad_alloc, say) leaves it. The pool is
// drained by a destructor in a file that holds no @try (autorelease_pool.mm): GCC's
// Objective-C runtime, used on Linux, runs no destructor of a frame with an @catch while
// a C++ exception passes, and @autoreleasepool pops nothing on any exception.
void inAutoreleasePool(void (*body)(void*), void* context);

template <typename Body>
void inAutoreleasePool(Body& body) {
  inAutoreleasePool([](void* context) { (*static_cast<Body*>(context))(); }, &body);
}

// Sends what `body` sends inside @try and an autorelease pool; an Objective-C exception
// becomes SimException with its reason. For operations that may throw. A C++ exception
// from `body` passes through unchanged.
template <typename Body>
auto raising(Body&& body) -> decltype(body()) {
  std::optional<decltype(body())> result;
  bool raised = false;
  std::string reason;
  auto attempt = [&] {
    @try {
      result.emplace(body());
    } @catch (id thrown) {
      raised = true;
      reason = reasonOf(thrown);
    }
  };
  inAutoreleasePool(attempt);
  if (raised) throw SimException(reason);
  return std::move(*result);
}

// As raising, but an exception gives `fallback`. For operations whose "nothing" result
// stands for a failure of any kind. A C++ exception from `body` passes through unchanged.
template <typename Body, typename Result>
Result orElse(Result fallback, Body&& body) {
  auto attempt = [&] {
    @try {
      fallback = body();
    } @catch (id) {
      // `fallback` stays as it was.
    }
  };
  inAutoreleasePool(attempt);
  return fallback;
}

}  // namespace platform::apple
