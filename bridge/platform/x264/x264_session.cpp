#include "bridge/platform/x264/x264_session.h"

#include <chrono>
#include <cmath>

#include "bridge/platform/log.h"
#include "bridge/platform/x264/encode_turns.h"
#include "bridge/platform/x264/heap_policy.h"
#include "bridge/platform/x264/x264_sample.h"

namespace platform::x264impl {
namespace {
constexpr int64_t kTicksPerSecond = 90000;
// The longest a hand-in waits for its turn: longer than a phone-sized keyframe takes to
// encode here, short enough that a stalled session costs other sessions little.
constexpr std::chrono::milliseconds kTurnLimit{20};

int64_t toTicks(MediaTime time) {
  if (!time.valid || time.timescale <= 0) return -1;
  return time.value * kTicksPerSecond / time.timescale;
}
}  // namespace

X264Session::X264Session(int32_t width, int32_t height, CompressionOutputCallback callback, void* outputContext)
    : width_(width), height_(height), callback_(callback), outputContext_(outputContext), transfer_(width, height) {}

X264Session::~X264Session() { invalidate(); }

int32_t X264Session::setProperty(CompressionProperty key, const PropertyValue& value) {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopping_) return kMediaErrorInvalidSession;
  const int32_t status = settings_.apply(key, value);
  // Rate properties reach a live encoder through x264's reconfigure on the output thread,
  // before its next frame. Other properties only count before the encoder opens.
  if (status == kMediaOk && opened_ && SessionSettings::isRateProperty(key)) rateChanged_ = true;
  return status;
}

int32_t X264Session::prepareToEncodeFrames() { return opened_ ? kMediaOk : open(); }

int32_t X264Session::open() {
  SessionSettings settings;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return kMediaErrorInvalidSession;
    settings = settings_;
  }
  releaseEncoder();  // whatever a failed earlier attempt left behind
  if (!buildX264Params(settings, width_, height_, &param_)) return kMediaErrorParameter;
  encoder_ = x264_encoder_open(&param_);
  if (encoder_ == nullptr) return kMediaErrorAllocation;
  x264_encoder_parameters(encoder_, &param_);
  threads_ = param_.i_threads > 0 ? param_.i_threads : 1;

  x264_nal_t* nals = nullptr;
  int count = 0;
  if (x264_encoder_headers(encoder_, &nals, &count) < 0) return kMediaErrorAllocation;
  for (int i = 0; i < count; ++i)
    if (nals[i].i_type == NAL_SPS || nals[i].i_type == NAL_PPS)
      parameterSets_.insert(parameterSets_.end(), nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);

  for (size_t i = 0; i < pictures_.size(); ++i) {
    if (x264_picture_alloc(&pictures_[i].picture, X264_CSP_I420, width_, height_) < 0) return kMediaErrorAllocation;
    pictures_[i].allocated = true;
    freePictures_.push_back(i);
  }
  if (settings.maxKeyFrameIntervalSeconds > 0)
    keyInterval_ = static_cast<int64_t>(std::llround(settings.maxKeyFrameIntervalSeconds * kTicksPerSecond));
  bridgeLog("[Encoder] x264: %s", describeParams(param_, settings.maxKeyFrameIntervalSeconds).c_str());
  {
    std::lock_guard<std::mutex> hold(lock_);
    opened_ = true;
  }
  thread_ = std::thread([this] { outputLoop(); });
  return kMediaOk;
}

int32_t X264Session::encodeFrame(const PixelBuffer& buffer, MediaTime presentationTime, MediaTime,
                                 const EncodeFrameOptions* options) {
  if (!opened_) {
    if (const int32_t status = open(); status != kMediaOk) return status;
  }
  if (!buffer.surface) return kMediaErrorParameter;
  encodeTurns().await(this, threads_, kTurnLimit);
  int64_t pts = toTicks(presentationTime);
  if (pts <= lastPts_) pts = lastPts_ + 1;  // x264 needs strictly increasing times
  bool forceKeyFrame = options != nullptr && options->forceKeyFrame;
  size_t index;
  bool trim;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return kMediaErrorInvalidSession;
    trim = settings_.trimScaling;
    if (queue_.size() >= kMaxQueuedFrames) {
      // Behind: the oldest waiting picture goes, its keyframe request stays.
      index = queue_.front().picture;
      pendingKeyFrame_ = pendingKeyFrame_ || queue_.front().forceKeyFrame;
      queue_.pop_front();
      ++dropped_;
    } else {
      index = freePictures_.back();
      freePictures_.pop_back();
    }
  }
  x264_image_t& image = pictures_[index].picture.img;
  const int32_t status = transfer_.convert(
      *buffer.surface, trim,
      {image.plane[0], image.i_stride[0], image.plane[1], image.i_stride[1], image.plane[2], image.i_stride[2]});
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (status != kMediaOk || stopping_) {
      freePictures_.push_back(index);
      pendingKeyFrame_ = pendingKeyFrame_ || forceKeyFrame;
      return status != kMediaOk ? status : kMediaErrorInvalidSession;
    }
    queue_.push_back({index, pts, forceKeyFrame || pendingKeyFrame_});
    encodeTurns().setInFlight(this, threads_);
    pendingKeyFrame_ = false;
  }
  lastPts_ = pts;
  changed_.notify_all();
  return kMediaOk;
}

int32_t X264Session::completeFrames(MediaTime) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return stopping_ || (queue_.empty() && !busy_); });
  return stopping_ ? kMediaErrorInvalidSession : kMediaOk;
}

void X264Session::invalidate() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    for (const Job& job : queue_) freePictures_.push_back(job.picture);
    queue_.clear();
    if (!busy_) encodeTurns().setInFlight(this, 0);  // otherwise the output thread does, once out
  }
  changed_.notify_all();
  std::lock_guard<std::mutex> join(joinLock_);
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // misuse from the callback: the loop ends after it returns
      return;
    }
    thread_.join();
  }
  // Once per session: the heaps keep no pages of what it freed.
  if (releaseEncoder()) returnFreedHeapPages();
}

bool X264Session::releaseEncoder() {
  const bool released = encoder_ != nullptr;
  if (encoder_ != nullptr) x264_encoder_close(encoder_);
  encoder_ = nullptr;
  parameterSets_.clear();
  std::lock_guard<std::mutex> hold(lock_);
  freePictures_.clear();
  for (Picture& p : pictures_) {
    if (p.allocated) x264_picture_clean(&p.picture);
    p.allocated = false;
  }
  return released;
}

uint64_t X264Session::droppedFrames() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dropped_;
}

void X264Session::outputLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) break;
    const Job job = queue_.front();
    queue_.pop_front();
    busy_ = true;
    bool retune = rateChanged_;
    rateChanged_ = false;
    const SessionSettings settings = settings_;
    hold.unlock();

    retune = followFrameSpacing(job.pts) || retune;
    if (retune && settings.averageBitRate > 0) {
      applyRateSettings(settings, rateScale_, &param_);
      if (x264_encoder_reconfig(encoder_, &param_) < 0) bridgeLog("[Encoder] x264: reconfigure rejected");
    }
    encodeJob(job);

    hold.lock();
    freePictures_.push_back(job.picture);
    busy_ = false;
    if (queue_.empty()) encodeTurns().setInFlight(this, 0);
    changed_.notify_all();
  }
}

bool X264Session::followFrameSpacing(int64_t pts) {
  // A smoothed frame spacing; one late or dropped frame moves it by a tenth of its gap,
  // which stays below the threshold, while a lasting change of rate crosses it quickly.
  bool changed = false;
  if (previousPts_ >= 0 && pts > previousPts_) {
    const double gap = static_cast<double>(pts - previousPts_);
    spacing_ = spacing_ > 0 ? 0.9 * spacing_ + 0.1 * gap : gap;
    const double scale = param_.i_fps_num * spacing_ / (static_cast<double>(param_.i_fps_den) * kTicksPerSecond);
    if (std::abs(scale - rateScale_) > 0.15 * rateScale_) {
      rateScale_ = scale;
      changed = true;
    }
  }
  previousPts_ = pts;
  return changed;
}

void X264Session::encodeJob(const Job& job) {
  x264_picture_t& picture = pictures_[job.picture].picture;
  const bool keyDue = keyInterval_ > 0 && lastKeyPts_ >= 0 && job.pts - lastKeyPts_ >= keyInterval_;
  picture.i_type = (job.forceKeyFrame || keyDue) ? X264_TYPE_IDR : X264_TYPE_AUTO;
  picture.i_pts = job.pts;
  x264_picture_t out;
  x264_nal_t* nals = nullptr;
  int count = 0;
  const int size = x264_encoder_encode(encoder_, &nals, &count, &picture, &out);
  if (size <= 0 || count <= 0) return;
  const bool keyFrame = out.b_keyframe != 0;
  if (keyFrame) lastKeyPts_ = out.i_pts;
  // The payloads of one encode call lie one after another in memory.
  const X264FormatDescription format(parameterSets_);
  const X264EncodedSample sample(nals[0].p_payload, static_cast<size_t>(size), keyFrame, &format,
                                 MediaTime::make(out.i_pts, static_cast<int32_t>(kTicksPerSecond)));
  callback_(outputContext_, nullptr, kMediaOk, 0, &sample);
}

}  // namespace platform::x264impl
