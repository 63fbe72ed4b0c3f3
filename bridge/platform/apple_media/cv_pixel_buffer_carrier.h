// How a compression session finds the CVPixelBuffer of a PixelBuffer: PixelBuffer
// (media_platform.h) is a plain record holding a surface, so the VideoToolbox platform
// makes its pixel buffers with a surface that also carries the CVPixelBuffer made over
// it. The session asks the surface for it and refuses a buffer whose surface carries
// none (one made by another media platform).
//
// Ownership: the carrier holds the CVPixelBuffer; what cvPixelBufferOf returns is
// borrowed for as long as the PixelBuffer lives.
//
// Threads: any thread.
#pragma once

#include <memory>

#include <CoreVideo/CoreVideo.h>

#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

class CVPixelBufferCarrier {
 public:
  virtual CVPixelBufferRef cvPixelBuffer() const = 0;

 protected:
  ~CVPixelBufferCarrier() = default;
};

// The CVPixelBuffer that `buffer`'s surface carries, or null when it carries none.
inline CVPixelBufferRef cvPixelBufferOf(const PixelBuffer& buffer) {
  const auto* carrier = dynamic_cast<const CVPixelBufferCarrier*>(buffer.surface.get());
  return carrier != nullptr ? carrier->cvPixelBuffer() : nullptr;
}

}  // namespace platform::vtimpl
