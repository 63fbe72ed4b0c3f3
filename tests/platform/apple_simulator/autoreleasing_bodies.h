// Bodies for objc_support.h's helpers that autorelease an object and then throw a C++
// exception, written in Objective-C++ (autoreleasing_bodies.mm) for the C++ test that
// catches what they throw: on Linux's Objective-C runtime only a C++ file can.
#pragma once

namespace autoreleasing_bodies {

// Objects of the counting class deallocated so far in this process.
int deallocated();
// Sends `raising` (or `orElse`) a body that autoreleases one counting object and then
// throws std::bad_alloc, which these functions let through.
void throwThroughRaising();
void throwThroughOrElse();

}  // namespace autoreleasing_bodies
