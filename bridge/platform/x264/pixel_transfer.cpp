#include "bridge/platform/x264/pixel_transfer.h"

#include <libyuv/convert.h>
#include <libyuv/scale_argb.h>

#include <algorithm>

#include "bridge/platform/media_platform.h"
#include "bridge/platform/x264/x264_settings.h"

namespace platform::x264impl {
namespace {
// Output rows scaled and converted in one go: their BGRA (about 230 KB for a phone-wide
// picture) is still in the cache when it is converted, rather than written out to
// memory and read back. Even, so that each band starts on a chroma row.
constexpr int kBandRows = 64;
}  // namespace

// Large outputs, the ones x264 also encodes in slices, are converted in two halves on two
// threads, which takes about two fifths off a phone-sized picture's conversion and so
// off the frame's hand-in.
PixelTransfer::PixelTransfer(int outputWidth, int outputHeight) : outputWidth_(outputWidth), outputHeight_(outputHeight) {
  if (usesTwoThreads(outputWidth, outputHeight)) helper_ = std::make_unique<HelperThread>();
}
PixelTransfer::~PixelTransfer() = default;

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
  const SourceRect rect = trim ? trimRect(sourceWidth, sourceHeight, outputWidth_, outputHeight_)
                               : SourceRect{0, 0, sourceWidth, sourceHeight};
  const uint8_t* source = base + static_cast<size_t>(rect.y) * stride + static_cast<size_t>(rect.x) * 4;
  if (rect.width != outputWidth_ || rect.height != outputHeight_)
    scaled_.resize(static_cast<size_t>(outputWidth_) * 4 * outputHeight_);
  // Large pictures: the helper converts the lower half while this thread does the upper.
  const int split = helper_ ? outputHeight_ / 2 / kBandRows * kBandRows : 0;
  int result = 0;
  if (split > 0) {
    int lowerResult = 0;
    helper_->start([&] { lowerResult = convertRows(source, stride, rect, split, outputHeight_, out); });
    result = convertRows(source, stride, rect, 0, split, out);
    helper_->finish();
    if (result == 0) result = lowerResult;
  } else {
    result = convertRows(source, stride, rect, 0, outputHeight_, out);
  }
  surface.unlockReadOnly();
  return result == 0 ? kMediaOk : kMediaErrorParameter;
}

int PixelTransfer::convertRows(const uint8_t* source, int stride, const SourceRect& rect, int first, int last,
                               const I420Planes& out) {
  auto rowOf = [](uint8_t* plane, int planeStride, int row) { return plane + static_cast<size_t>(row) * planeStride; };
  if (rect.width == outputWidth_ && rect.height == outputHeight_) {
    return libyuv::ARGBToI420(source + static_cast<size_t>(first) * stride, stride, rowOf(out.y, out.strideY, first),
                              out.strideY, rowOf(out.u, out.strideU, first / 2), out.strideU,
                              rowOf(out.v, out.strideV, first / 2), out.strideV, outputWidth_, last - first);
  }
  const int scaledStride = outputWidth_ * 4;
  // Each band is the same part of the one whole scaled picture (libyuv scales a clipped
  // part of the output exactly as it scales the whole).
  for (int y = first; y < last; y += kBandRows) {
    const int rows = std::min(kBandRows, last - y);
    int result = libyuv::ARGBScaleClip(source, stride, rect.width, rect.height, scaled_.data(), scaledStride,
                                       outputWidth_, outputHeight_, 0, y, outputWidth_, rows, libyuv::kFilterBilinear);
    if (result == 0)
      result = libyuv::ARGBToI420(scaled_.data() + static_cast<size_t>(y) * scaledStride, scaledStride,
                                  rowOf(out.y, out.strideY, y), out.strideY, rowOf(out.u, out.strideU, y / 2),
                                  out.strideU, rowOf(out.v, out.strideV, y / 2), out.strideV, outputWidth_, rows);
    if (result != 0) return result;  // the first failing band's status; later bands would hide it
  }
  return 0;
}

}  // namespace platform::x264impl
