// CFRef<T>: holds one reference to a CoreFoundation object (or to a CF-based object such
// as a VTCompressionSession or CVPixelBuffer) and releases it with CFRelease when it
// goes away. Null is allowed and never released.
//
// Ownership: adopt() takes over a reference the caller owns (from a ...Create... or
// ...Copy... call); retain() takes a new reference to a borrowed object (from a ...Get...
// call). Copying retains, moving transfers.
//
// Threads: a CFRef itself is not synchronised; share one only under the owner's lock.
// CFRetain and CFRelease are thread-safe, so separate CFRefs to one object may live on
// different threads.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace platform::vtimpl {

template <typename T>
class CFRef {
 public:
  CFRef() = default;
  // Takes over the caller's reference.
  static CFRef adopt(T object) { return CFRef(object); }
  // Takes a reference of its own to a borrowed object.
  static CFRef retain(T object) {
    if (object != nullptr) CFRetain(object);
    return CFRef(object);
  }

  ~CFRef() { reset(); }
  CFRef(const CFRef& other) : object_(other.object_) {
    if (object_ != nullptr) CFRetain(object_);
  }
  CFRef(CFRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  CFRef& operator=(CFRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }

  T get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // For out-parameters of ...Create... calls: releases what is held and returns the slot.
  T* receive() {
    reset();
    return &object_;
  }
  void reset() {
    if (object_ != nullptr) CFRelease(object_);
    object_ = nullptr;
  }

 private:
  explicit CFRef(T object) : object_(object) {}
  T object_ = nullptr;
};

}  // namespace platform::vtimpl
