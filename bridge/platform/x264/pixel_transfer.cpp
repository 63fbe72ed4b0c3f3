#include "bridge/platform/x264/pixel_transfer.h"

#include <libyuv/convert.h>
#include <libyuv/scale_argb.h>

#include <algorithm>

#include "bridge/platform/media_platform.h"

namespace platform::x264impl {
namespace {
// Output rows scaled and converted in one go: their BGRA (about 230 KB for a phone-wide
// picture) is still in the cache when it is converted, rather than written out to
// memory and read back. Even, so that each band starts on a chroma row.
constexpr int kBandRows = 64;
}  // namespace

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
  int result = 0;
  if (sourceWidth == outputWidth_ && sourceHeight == outputHeight_) {
    result = libyuv::ARGBToI420(base, stride, out.y, out.strideY, out.u, out.strideU, out.v, out.strideV,
                                sourceWidth, sourceHeight);
  } else {
    const SourceRect rect = trim ? trimRect(sourceWidth, sourceHeight, outputWidth_, outputHeight_)
                                 : SourceRect{0, 0, sourceWidth, sourceHeight};
    const uint8_t* source = base + static_cast<size_t>(rect.y) * stride + static_cast<size_t>(rect.x) * 4;
    const int scaledStride = outputWidth_ * 4;
    scaled_.resize(static_cast<size_t>(scaledStride) * outputHeight_);
    // Each band is the same part of the one whole scaled picture (libyuv scales a
    // clipped part of the output exactly as it scales the whole).
    for (int y = 0; y < outputHeight_ && result == 0; y += kBandRows) {
      const int rows = std::min(kBandRows, outputHeight_ - y);
      result = libyuv::ARGBScaleClip(source, stride, rect.width, rect.height, scaled_.data(), scaledStride,
                                     outputWidth_, outputHeight_, 0, y, outputWidth_, rows, libyuv::kFilterBilinear);
      if (result != 0) break;
      result = libyuv::ARGBToI420(scaled_.data() + static_cast<size_t>(y) * scaledStride, scaledStride,
                                  out.y + static_cast<size_t>(y) * out.strideY, out.strideY,
                                  out.u + static_cast<size_t>(y / 2) * out.strideU, out.strideU,
                                  out.v + static_cast<size_t>(y / 2) * out.strideV, out.strideV, outputWidth_, rows);
    }
  }
  surface.unlockReadOnly();
  return result == 0 ? kMediaOk : kMediaErrorParameter;
}

}  // namespace platform::x264impl
