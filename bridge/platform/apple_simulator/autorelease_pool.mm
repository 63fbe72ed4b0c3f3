// The autorelease pool around every message the simulator platform sends (objc_support.h).
//
// This file must hold no @try: clang gives every function of a file with an Objective-C
// @catch the Objective-C runtime's exception personality, and GCC's runtime (Linux) then
// skips the destructors of those frames while a C++ exception passes. Here the pool's
// destructor runs under C++'s own personality on both systems.
#import <Foundation/Foundation.h>

#include "bridge/platform/apple_simulator/objc_support.h"

namespace platform::apple {
namespace {

// One pool on the current thread, drained when the holder goes.
class AutoreleasePool {
 public:
  AutoreleasePool() : pool_([[NSAutoreleasePool alloc] init]) {}
  ~AutoreleasePool() { [pool_ drain]; }
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;

 private:
  NSAutoreleasePool* pool_;
};

}  // namespace

void inAutoreleasePool(void (*body)(void*), void* context) {
  AutoreleasePool pool;
  body(context);
}

}  // namespace platform::apple
