// The session's pixel transfer: one BGRA surface to one I420 picture at the output size.
//
// The surface is read in place under its read-only lock; nothing of it is copied first.
// When the sizes differ the source is scaled with libyuv, in Trim mode (keep the aspect
// ratio, scale to cover the output, cut the excess evenly on both sides) or, without
// Trim, stretched to the output. Scaling goes through one BGRA scratch picture at the
// output size, band by band: each band of rows is converted to I420 right after it is
// scaled, while it is still in the cache.
//
// One PixelTransfer per session; used by one thread at a time (the session's caller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bridge/platform/surface.h"

namespace platform::x264impl {

// The part of a source that is scaled onto the output (whole pixels).
struct SourceRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
// Trim: the centred rectangle of the source with the output's aspect ratio.
SourceRect trimRect(int sourceWidth, int sourceHeight, int outputWidth, int outputHeight);

// Destination planes of an I420 picture.
struct I420Planes {
  uint8_t* y;
  int strideY;
  uint8_t* u;
  int strideU;
  uint8_t* v;
  int strideV;
};

class PixelTransfer {
 public:
  PixelTransfer(int outputWidth, int outputHeight) : outputWidth_(outputWidth), outputHeight_(outputHeight) {}

  // Locks the surface read-only, converts it into `out` and unlocks it. Returns 0, or the
  // lock's failure status, or kMediaErrorParameter for a surface without pixels.
  int32_t convert(Surface& surface, bool trim, const I420Planes& out);

 private:
  const int outputWidth_;
  const int outputHeight_;
  std::vector<uint8_t> scaled_;  // BGRA at the output size; reused from frame to frame
};

}  // namespace platform::x264impl
