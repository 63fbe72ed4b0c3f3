#include "tests/support/h264_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace testing_support {

std::vector<NalUnit> splitNalUnits(const uint8_t* data, size_t length) {
  std::vector<NalUnit> units;
  size_t i = 0;
  auto startCodeAt = [&](size_t at) -> size_t {
    if (at + 3 <= length && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1) return 3;
    if (at + 4 <= length && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 0 && data[at + 3] == 1)
      return 4;
    return 0;
  };
  while (i < length && startCodeAt(i) == 0) ++i;
  while (i < length) {
    const size_t codeLength = startCodeAt(i);
    const size_t begin = i + codeLength;
    size_t end = begin;
    while (end < length && startCodeAt(end) == 0) ++end;
    if (begin < end) {
      units.push_back({data[begin] & 0x1F, begin, end - begin, codeLength});
    }
    i = end;
  }
  return units;
}

AccessUnitInfo inspectAccessUnit(const uint8_t* data, size_t length) {
  AccessUnitInfo info;
  info.startsWithStartCode = length >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
  const std::vector<NalUnit> units = splitNalUnits(data, length);
  info.allStartCodesFourBytes = !units.empty();
  bool sliceSeen = false;
  bool setAfterSlice = false;
  for (const NalUnit& unit : units) {
    info.nalTypes.push_back(unit.type);
    info.allStartCodesFourBytes = info.allStartCodesFourBytes && unit.startCodeLength == 4;
    info.hasSps = info.hasSps || unit.type == kNalSps;
    info.hasPps = info.hasPps || unit.type == kNalPps;
    info.hasIdr = info.hasIdr || unit.type == kNalIdrSlice;
    if (unit.type == kNalIdrSlice || unit.type == kNalNonIdrSlice) sliceSeen = true;
    if ((unit.type == kNalSps || unit.type == kNalPps) && sliceSeen) setAfterSlice = true;
  }
  info.parameterSetsFirst = info.hasSps && info.hasPps && !setAfterSlice;
  return info;
}

std::vector<std::vector<uint8_t>> splitAccessUnits(const uint8_t* data, size_t length) {
  std::vector<std::vector<uint8_t>> units;
  const std::vector<NalUnit> nals = splitNalUnits(data, length);
  size_t auBegin = nals.empty() ? 0 : nals.front().offset - nals.front().startCodeLength;
  bool sliceSeen = false;
  for (const NalUnit& nal : nals) {
    const bool isSlice = nal.type == kNalIdrSlice || nal.type == kNalNonIdrSlice;
    const bool startsPicture =
        isSlice && nal.size > 1 && (data[nal.offset + 1] & 0x80) != 0;  // first_mb_in_slice == 0
    const bool opensUnit =
        nal.type == kNalAud || nal.type == kNalSps || nal.type == kNalPps || nal.type == kNalSei;
    const size_t nalBegin = nal.offset - nal.startCodeLength;
    if (sliceSeen && (opensUnit || startsPicture)) {
      units.emplace_back(data + auBegin, data + nalBegin);
      auBegin = nalBegin;
      sliceSeen = false;
    }
    sliceSeen = sliceSeen || isSlice;
  }
  if (!nals.empty() && auBegin < length) units.emplace_back(data + auBegin, data + length);
  return units;
}

namespace {
int clamp255(int v) { return std::clamp(v, 0, 255); }

Rgb yuvToRgb(int y, int u, int v) {
  const int c = y - 16, d = u - 128, e = v - 128;
  return {clamp255((298 * c + 409 * e + 128) >> 8), clamp255((298 * c - 100 * d - 208 * e + 128) >> 8),
          clamp255((298 * c + 516 * d + 128) >> 8)};
}
}  // namespace

Rgb DecodedFrame::rgbAt(int x, int yPos) const {
  const int cw = (width + 1) / 2;
  return yuvToRgb(y[static_cast<size_t>(yPos) * width + x], u[static_cast<size_t>(yPos / 2) * cw + x / 2],
                  v[static_cast<size_t>(yPos / 2) * cw + x / 2]);
}

Rgb DecodedFrame::averageRgb(int x, int yPos, int w, int h) const {
  const int x0 = std::max(0, x), y0 = std::max(0, yPos);
  const int x1 = std::min(width, x + w), y1 = std::min(height, yPos + h);
  long long r = 0, g = 0, b = 0, n = 0;
  for (int j = y0; j < y1; ++j)
    for (int i = x0; i < x1; ++i) {
      const Rgb c = rgbAt(i, j);
      r += c.r, g += c.g, b += c.b, ++n;
    }
  if (n == 0) return {};
  return {static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)};
}

struct H264Decoder::State {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  mutable std::mutex errorLock;
  int errors = 0;          // guarded by errorLock
  std::string lastError;   // guarded by errorLock

  void noteError(std::string text) {
    std::lock_guard<std::mutex> hold(errorLock);
    ++errors;
    lastError = std::move(text);
  }
};

namespace {
// libavcodec's log goes through one process-wide callback: error messages are routed to
// the decoder whose context raised them; everything else is dropped.
std::mutex g_decodersLock;
std::map<const void*, H264Decoder::State*> g_decoders;  // guarded by g_decodersLock

void avLogCallback(void* avcl, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::lock_guard<std::mutex> hold(g_decodersLock);
  auto it = g_decoders.find(avcl);
  if (it != g_decoders.end()) it->second->noteError(text);
}
}  // namespace

H264Decoder::H264Decoder() : state_(std::make_unique<State>()) {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(avLogCallback); });
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  state_->context = avcodec_alloc_context3(codec);
  state_->context->thread_count = 1;
  state_->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (avcodec_open2(state_->context, codec, nullptr) < 0) state_->noteError("avcodec_open2 failed");
  state_->packet = av_packet_alloc();
  state_->frame = av_frame_alloc();
  std::lock_guard<std::mutex> hold(g_decodersLock);
  g_decoders[state_->context] = state_.get();
}

H264Decoder::~H264Decoder() {
  {
    std::lock_guard<std::mutex> hold(g_decodersLock);
    g_decoders.erase(state_->context);
  }
  av_frame_free(&state_->frame);
  av_packet_free(&state_->packet);
  avcodec_free_context(&state_->context);
}

namespace {
bool receiveFrames(H264Decoder::State* s, std::vector<DecodedFrame>* frames) {
  bool ok = true;
  for (;;) {
    const int ret = avcodec_receive_frame(s->context, s->frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
    if (ret < 0) {
      s->noteError("avcodec_receive_frame failed");
      ok = false;
      break;
    }
    AVFrame* f = s->frame;
    if ((f->flags & AV_FRAME_FLAG_CORRUPT) != 0 || f->decode_error_flags != 0) {
      s->noteError("corrupt picture");
      ok = false;
    }
    DecodedFrame out;
    out.width = f->width;
    out.height = f->height;
    out.keyFrame = f->key_frame != 0;
    out.pictureType = av_get_picture_type_char(f->pict_type);
    const int cw = (f->width + 1) / 2, ch = (f->height + 1) / 2;
    out.y.resize(static_cast<size_t>(f->width) * f->height);
    out.u.resize(static_cast<size_t>(cw) * ch);
    out.v.resize(static_cast<size_t>(cw) * ch);
    for (int row = 0; row < f->height; ++row)
      std::copy_n(f->data[0] + static_cast<ptrdiff_t>(row) * f->linesize[0], f->width,
                  out.y.data() + static_cast<size_t>(row) * f->width);
    for (int row = 0; row < ch; ++row) {
      std::copy_n(f->data[1] + static_cast<ptrdiff_t>(row) * f->linesize[1], cw,
                  out.u.data() + static_cast<size_t>(row) * cw);
      std::copy_n(f->data[2] + static_cast<ptrdiff_t>(row) * f->linesize[2], cw,
                  out.v.data() + static_cast<size_t>(row) * cw);
    }
    frames->push_back(std::move(out));
    av_frame_unref(f);
  }
  return ok;
}
}  // namespace

bool H264Decoder::decodeAccessUnit(const uint8_t* data, size_t length, std::vector<DecodedFrame>* frames) {
  const int errorsBefore = errorCount();
  AVPacket* packet = state_->packet;
  if (av_new_packet(packet, static_cast<int>(length)) < 0) {
    state_->noteError("av_new_packet failed");
    return false;
  }
  std::copy_n(data, length, packet->data);
  const int ret = avcodec_send_packet(state_->context, packet);
  av_packet_unref(packet);
  if (ret < 0 && ret != AVERROR(EAGAIN)) {
    char text[128];
    av_strerror(ret, text, sizeof text);
    state_->noteError(std::string("avcodec_send_packet: ") + text);
  }
  receiveFrames(state_.get(), frames);
  return errorCount() == errorsBefore;
}

bool H264Decoder::decodeStream(const uint8_t* data, size_t length, std::vector<DecodedFrame>* frames) {
  bool ok = true;
  for (const auto& au : splitAccessUnits(data, length)) ok = decodeAccessUnit(au, frames) && ok;
  return ok;
}

void H264Decoder::flush(std::vector<DecodedFrame>* frames) {
  avcodec_send_packet(state_->context, nullptr);
  receiveFrames(state_.get(), frames);
  avcodec_flush_buffers(state_->context);
}

int H264Decoder::errorCount() const {
  std::lock_guard<std::mutex> hold(state_->errorLock);
  return state_->errors;
}

std::string H264Decoder::lastError() const {
  std::lock_guard<std::mutex> hold(state_->errorLock);
  return state_->lastError;
}

}  // namespace testing_support
