#include "bridge/platform/x264/pixel_transfer.h"

#include <libyuv/convert.h>
#include <libyuv/scale_argb.h>

#include <algorithm>

#include "bridge/platform/media_platform.h"

namespace platform::x264impl {

SourceRect trimRect(int sourceWidth, int sourceHeight, int outputWidth, int outputHeight) {
  // Cover: the source is scaled by the larger of the two ratios, so the crop keeps the
  // output's aspect ratio. Compare in 64-bit cross products to stay exact.
  SourceRect rect{0, 0, sourceWidth, sourceHeight};
  const int64_t lhs = static_cast<int64_t>(sourceWidth) * outputHeight;
  const int64_t rhs = static_cast<int64_t>(sourceHeight) * outputWidth;
  if (lhs > rhs) {
    // Source is wider than the output: cut left and right.
    rect.width = static_cast<int>(std::max<int64_t>(1, (rhs + outputHeight / 2) / outputHeight));
    rect.x = (sourceWidth - rect.width) / 2;
  } else if (lhs < rhs) {
    // Source is taller: cut top and bottom.
    rect.height = static_cast<int>(std::max<int64_t>(1, (lhs + outputWidth / 2) / outputWidth));
    rect.y = (sourceHeight - rect.height) / 2;
  }
  return rect;
}

int32_t PixelTransfer::convert(Surface& surface, bool trim, const I420Planes& out) {
  const int sourceWidth = static_cast<int>(surface.width());
  const int sourceHeight = static_cast<int>(surface.height());
  if (sourceWidth <= 0 || sourceHeight <= 0) return kMediaErrorParameter;
  if (const int32_t status = surface.lockReadOnly(); status != 0) return status;
  const uint8_t* base = surface.baseAddress();
  const int stride = static_cast<int>(surface.bytesPerRow());
  if (base == nullptr || stride < 4 * sourceWidth) {
    surface.unlockReadOnly();
    return kMediaErrorParameter;
  }
  // Surfaces hold BGRA bytes, which is libyuv's "ARGB" (a little-endian 32-bit word).
  const uint8_t* source = base;
  int width = sourceWidth;
  int height = sourceHeight;
  int strideOut = stride;
  if (sourceWidth != outputWidth_ || sourceHeight != outputHeight_) {
    const SourceRect rect = trim ? trimRect(sourceWidth, sourceHeight, outputWidth_, outputHeight_)
                                 : SourceRect{0, 0, sourceWidth, sourceHeight};
    scaled_.resize(static_cast<size_t>(outputWidth_) * outputHeight_ * 4);
    libyuv::ARGBScale(base + static_cast<size_t>(rect.y) * stride + static_cast<size_t>(rect.x) * 4, stride,
                      rect.width, rect.height, scaled_.data(), outputWidth_ * 4, outputWidth_, outputHeight_,
                      libyuv::kFilterBilinear);
    source = scaled_.data();
    width = outputWidth_;
    height = outputHeight_;
    strideOut = outputWidth_ * 4;
  }
  const int result = libyuv::ARGBToI420(source, strideOut, out.y, out.strideY, out.u, out.strideU, out.v,
                                        out.strideV, width, height);
  surface.unlockReadOnly();
  return result == 0 ? kMediaOk : kMediaErrorParameter;
}

}  // namespace platform::x264impl
