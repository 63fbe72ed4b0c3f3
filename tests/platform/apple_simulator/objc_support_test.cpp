// The Objective-C++ helpers of the Apple simulator platform when a C++ exception leaves
// the body they wrap: it passes through, and the autorelease pool they opened is drained
// (its object deallocated) on the way out.
#include <gtest/gtest.h>

#include <new>

#include "tests/platform/apple_simulator/autoreleasing_bodies.h"

namespace {

TEST(ObjcSupport, ACppExceptionLeavingTheBodyPassesThroughAndThePoolIsDrained) {
  const int before = autoreleasing_bodies::deallocated();
  EXPECT_THROW(autoreleasing_bodies::throwThroughRaising(), std::bad_alloc);
  EXPECT_EQ(autoreleasing_bodies::deallocated(), before + 1);
  EXPECT_THROW(autoreleasing_bodies::throwThroughOrElse(), std::bad_alloc);
  EXPECT_EQ(autoreleasing_bodies::deallocated(), before + 2);
}

}  // namespace
