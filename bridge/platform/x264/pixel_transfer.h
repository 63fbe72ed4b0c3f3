// The session's pixel transfer: one BGRA surface to one I420 picture at the output size.
//
// The surface is read in place under its read-only lock; nothing of it is copied first.
// When the sizes differ the source is scaled with libyuv, in Trim mode (keep the aspect
// ratio, scale to cover the output, cut the excess evenly on both sides) or, without
// Trim, stretched to the output. Scaling goes through one BGRA scratch picture at the
// output size, then a single conversion to I420.
//
// Split: with `split`, the picture is converted in two bands of rows side by side, the
// upper one on the caller's thread and the lower one on a helper thread of the
// transfer's own (BandWorker); the result is the same picture, sooner. Each band scales
// only its own output rows (libyuv's clipped scale reads the source rows they need).
//
// One PixelTransfer per session; used by one thread at a time (the session's caller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "bridge/platform/surface.h"
#include "bridge/platform/x264/band_worker.h"

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

// Whether a transfer to width x height output on a machine with `cores` cores is worth
// splitting: more than one core and a picture large enough to outweigh the hand-over.
bool splitTransfer(int outputWidth, int outputHeight, unsigned cores);

class PixelTransfer {
 public:
  PixelTransfer(int outputWidth, int outputHeight, bool split);

  // Locks the surface read-only, converts it into `out` and unlocks it. Returns 0, or the
  // lock's failure status, or kMediaErrorParameter for a surface without pixels.
  int32_t convert(Surface& surface, bool trim, const I420Planes& out);

 private:
  struct Source {
    const uint8_t* pixels;  // first pixel of the part that is scaled onto the output
    int stride;
    int width;
    int height;
    bool scaled;            // the part differs from the output size
  };
  // Converts output rows [y0, y1) (y0 even). Returns false when libyuv refuses.
  bool convertRows(const Source& source, const I420Planes& out, int y0, int y1);

  const int outputWidth_;
  const int outputHeight_;
  std::vector<uint8_t> scaled_;         // BGRA at the output size; reused from frame to frame
  std::unique_ptr<BandWorker> worker_;  // converts the lower band; null without split
};

}  // namespace platform::x264impl
