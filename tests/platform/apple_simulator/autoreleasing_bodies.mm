#include "tests/platform/apple_simulator/autoreleasing_bodies.h"

#import <Foundation/Foundation.h>

#include <atomic>
#include <new>

#include "bridge/platform/apple_simulator/objc_support.h"

namespace {
std::atomic<int> g_deallocated{0};
}  // namespace

@interface CorvaneCountedObject : NSObject
@end

@implementation CorvaneCountedObject
- (void)dealloc {
  ++g_deallocated;
  [super dealloc];
}
@end

namespace autoreleasing_bodies {

int deallocated() { return g_deallocated.load(); }

void throwThroughRaising() {
  platform::apple::raising([]() -> int {
    [[[CorvaneCountedObject alloc] init] autorelease];
    throw std::bad_alloc();
  });
}

void throwThroughOrElse() {
  platform::apple::orElse(0, []() -> int {
    [[[CorvaneCountedObject alloc] init] autorelease];
    throw std::bad_alloc();
  });
}

}  // namespace autoreleasing_bodies
