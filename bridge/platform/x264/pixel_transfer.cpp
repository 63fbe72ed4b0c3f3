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

bool splitTransfer(int outputWidth, int outputHeight, unsigned cores) {
  // Below about a quarter of a megapixel the conversion takes well under a millisecond.
  return cores > 1 && static_cast<int64_t>(outputWidth) * outputHeight >= 256 * 1024;
}

PixelTransfer::PixelTransfer(int outputWidth, int outputHeight, bool split)
    : outputWidth_(outputWidth),
      outputHeight_(outputHeight),
      // Two bands need at least two rows each (whole chroma rows).
      worker_(split && outputHeight >= 4 ? std::make_unique<BandWorker>() : nullptr) {}

bool PixelTransfer::convertRows(const Source& source, const I420Planes& out, int y0, int y1) {
  const uint8_t* rows = source.pixels + static_cast<size_t>(y0) * source.stride;
  int stride = source.stride;
  if (source.scaled) {
    const size_t scaledStride = static_cast<size_t>(outputWidth_) * 4;
    if (libyuv::ARGBScaleClip(source.pixels, source.stride, source.width, source.height, scaled_.data(),
                              static_cast<int>(scaledStride), outputWidth_, outputHeight_, 0, y0, outputWidth_,
                              y1 - y0, libyuv::kFilterBilinear) != 0)
      return false;
    rows = scaled_.data() + static_cast<size_t>(y0) * scaledStride;
    stride = static_cast<int>(scaledStride);
  }
  const size_t chromaRow = static_cast<size_t>(y0 / 2);
  return libyuv::ARGBToI420(rows, stride, out.y + static_cast<size_t>(y0) * out.strideY, out.strideY,
                            out.u + chromaRow * out.strideU, out.strideU, out.v + chromaRow * out.strideV,
                            out.strideV, outputWidth_, y1 - y0) == 0;
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
  Source source{base, stride, sourceWidth, sourceHeight, false};
  if (sourceWidth != outputWidth_ || sourceHeight != outputHeight_) {
    const SourceRect rect = trim ? trimRect(sourceWidth, sourceHeight, outputWidth_, outputHeight_)
                                 : SourceRect{0, 0, sourceWidth, sourceHeight};
    scaled_.resize(static_cast<size_t>(outputWidth_) * outputHeight_ * 4);
    source = {base + static_cast<size_t>(rect.y) * stride + static_cast<size_t>(rect.x) * 4, stride, rect.width,
              rect.height, true};
  }
  bool ok = true;
  if (worker_) {
    // The upper band here, the lower one on the helper; the split row is even so that
    // each band has whole chroma rows.
    const int middle = (outputHeight_ / 2) & ~1;
    bool lowerOk = true;
    worker_->run([&] { lowerOk = convertRows(source, out, middle, outputHeight_); });
    ok = convertRows(source, out, 0, middle);
    worker_->wait();
    ok = ok && lowerOk;
  } else {
    ok = convertRows(source, out, 0, outputHeight_);
  }
  surface.unlockReadOnly();
  return ok ? kMediaOk : kMediaErrorParameter;
}

}  // namespace platform::x264impl
