// The session's pixel transfer: one BGRA surface to one I420 picture at the output size.
//
// The surface is read in place under its read-only lock; nothing of it is copied first.
// When the sizes differ the source is scaled with libyuv, in Trim mode (keep the aspect
// ratio, scale to cover the output, cut the excess evenly on both sides) or, without
// Trim, stretched to the output. Scaling goes through one BGRA scratch picture at the
// output size, band by band: each band of rows is converted to I420 right after it is
// scaled, while it is still in the cache. Large pictures are converted in two halves at
// once: the upper on the caller's thread, the lower on a helper thread of the transfer's
// own, which convert returns only after.
//
// One PixelTransfer per session; used by one thread at a time (the session's caller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "bridge/platform/surface.h"
#include "bridge/platform/x264/helper_thread.h"

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
  PixelTransfer(int outputWidth, int outputHeight);
  ~PixelTransfer();

  // Locks the surface read-only, converts it into `out` and unlocks it. Returns 0, or the
  // lock's failure status, or kMediaErrorParameter for a surface without pixels.
  int32_t convert(Surface& surface, bool trim, const I420Planes& out);

 private:
  // Rows first..last of the output from the source rectangle `rect`; 0 or libyuv's failure.
  int convertRows(const uint8_t* source, int stride, const SourceRect& rect, int first, int last,
                  const I420Planes& out);

  const int outputWidth_;
  const int outputHeight_;
  // BGRA at the output size, reused from frame to frame. Sized by convert before the
  // helper starts; during a split conversion each thread writes only its own rows.
  std::vector<uint8_t> scaled_;
  std::unique_ptr<HelperThread> helper_;  // converts the lower half of large pictures
};

}  // namespace platform::x264impl
