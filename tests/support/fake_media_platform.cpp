#include "tests/support/fake_media_platform.h"

#include <algorithm>

namespace testing_support {

using platform::CompressionProperty;

int32_t FakeFormatDescription::h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                                       size_t* count) const {
  if (countStatus != 0) return countStatus;
  if (count != nullptr) *count = parameterSets.size();
  if (pointer == nullptr && size == nullptr) return 0;
  if (index >= parameterSets.size()) return platform::kMediaErrorParameter;
  if (std::find(failingSets.begin(), failingSets.end(), index) != failingSets.end())
    return platform::kMediaErrorParameter;
  if (pointer != nullptr) *pointer = parameterSets[index].data();
  if (size != nullptr) *size = parameterSets[index].size();
  return 0;
}

int32_t FakeEncodedSample::dataPointer(const uint8_t** pointer, size_t* totalLength) const {
  if (dataStatus != 0) return dataStatus;
  *pointer = nullData ? nullptr : data.data();
  *totalLength = data.size();
  return 0;
}

void FakeEncodedSample::appendNalUnit(const std::vector<uint8_t>& unit) {
  const auto n = static_cast<uint32_t>(unit.size());
  data.push_back(static_cast<uint8_t>(n >> 24));
  data.push_back(static_cast<uint8_t>(n >> 16));
  data.push_back(static_cast<uint8_t>(n >> 8));
  data.push_back(static_cast<uint8_t>(n));
  data.insert(data.end(), unit.begin(), unit.end());
}

std::shared_ptr<FakeEncodedSample> makeDefaultSample(bool key) {
  auto sample = std::make_shared<FakeEncodedSample>();
  sample->setKeyFrame(key);
  sample->format = FakeFormatDescription({{0x67, 0x4D, 0x00, 0x1F}, {0x68, 0xEE, 0x3C, 0x80}});
  sample->appendNalUnit({static_cast<uint8_t>(key ? 0x65 : 0x41), 0x88, 1, 2, 3, 4, 5, 6});
  return sample;
}

// ---- FakeCompressionSession ----

FakeCompressionSession::FakeCompressionSession(FakeMediaPlatform* platform, int32_t width, int32_t height,
                                               uint32_t codecType, platform::CompressionOutputCallback callback,
                                               void* outputContext)
    : width(width),
      height(height),
      codecType(codecType),
      platform_(platform),
      callback_(callback),
      outputContext_(outputContext) {
  if (platform->delivery.load() == FakeMediaPlatform::Delivery::OutputThread)
    outputThread_ = std::thread([this] { outputLoop(); });
}

FakeCompressionSession::~FakeCompressionSession() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (outputThread_.joinable()) outputThread_.join();
}

int32_t FakeCompressionSession::setProperty(CompressionProperty key, const platform::PropertyValue& value) {
  std::lock_guard<std::mutex> hold(lock_);
  properties_.push_back({key, value});
  return platform_->propertyStatus(key);
}

int32_t FakeCompressionSession::prepareToEncodeFrames() {
  std::lock_guard<std::mutex> hold(lock_);
  ++prepares_;
  return 0;
}

int32_t FakeCompressionSession::encodeFrame(const platform::PixelBuffer& buffer, platform::MediaTime presentationTime,
                                            platform::MediaTime duration,
                                            const platform::EncodeFrameOptions* options) {
  EncodeCall call{presentationTime, duration, options != nullptr, options != nullptr && options->forceKeyFrame,
                  buffer.surface};
  size_t index;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (invalidates_ > 0) return platform::kMediaErrorInvalidSession;
    index = encodes_.size();
    encodes_.push_back(call);
    if (outputThread_.joinable()) pending_.push_back(index);
  }
  changed_.notify_all();
  if (platform_->delivery.load() == FakeMediaPlatform::Delivery::Synchronous) deliverFrame(call, index);
  return 0;
}

int32_t FakeCompressionSession::completeFrames(platform::MediaTime) {
  std::unique_lock<std::mutex> hold(lock_);
  ++completes_;
  changed_.wait(hold, [this] { return (pending_.empty() && !busy_) || stopping_; });
  return 0;
}

void FakeCompressionSession::invalidate() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++invalidates_;
    stopping_ = true;
    pending_.clear();
  }
  changed_.notify_all();
  if (outputThread_.joinable() && outputThread_.get_id() != std::this_thread::get_id()) outputThread_.join();
}

void FakeCompressionSession::deliver(int32_t status, uint32_t infoFlags, const platform::EncodedSample* sample) {
  delivered_.fetch_add(1);
  callback_(outputContext_, nullptr, status, infoFlags, sample);
}

void FakeCompressionSession::deliverFrame(const EncodeCall& call, size_t index) {
  std::shared_ptr<platform::EncodedSample> sample =
      platform_->sampleFactory ? platform_->sampleFactory(call, index)
                               : makeDefaultSample(call.forceKeyFrame || index == 0);
  deliver(0, 0, sample.get());
}

void FakeCompressionSession::outputLoop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stopping_ || !pending_.empty(); });
    if (stopping_) break;
    const size_t index = pending_.front();
    pending_.pop_front();
    const EncodeCall call = encodes_[index];
    busy_ = true;
    hold.unlock();
    deliverFrame(call, index);
    hold.lock();
    busy_ = false;
    changed_.notify_all();
  }
  busy_ = false;
  changed_.notify_all();
}

std::vector<FakeCompressionSession::PropertyCall> FakeCompressionSession::properties() const {
  std::lock_guard<std::mutex> hold(lock_);
  return properties_;
}

std::vector<CompressionProperty> FakeCompressionSession::propertyKeys() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<CompressionProperty> keys;
  for (const auto& p : properties_) keys.push_back(p.key);
  return keys;
}

std::optional<platform::PropertyValue> FakeCompressionSession::lastValue(CompressionProperty key) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = properties_.rbegin(); it != properties_.rend(); ++it)
    if (it->key == key) return it->value;
  return std::nullopt;
}

std::vector<FakeCompressionSession::EncodeCall> FakeCompressionSession::encodes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return encodes_;
}

int FakeCompressionSession::prepareCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return prepares_;
}

int FakeCompressionSession::completeCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return completes_;
}

int FakeCompressionSession::invalidateCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return invalidates_;
}

int FakeCompressionSession::deliveredCount() const { return delivered_.load(); }

// ---- FakeMediaPlatform ----

FakeMediaPlatform::~FakeMediaPlatform() {
  std::vector<std::shared_ptr<FakeCompressionSession>> sessions;
  {
    std::lock_guard<std::mutex> hold(lock_);
    sessions.swap(sessions_);
  }
  for (auto& session : sessions) session->invalidate();
}

int32_t FakeMediaPlatform::createCompressionSession(int32_t width, int32_t height, uint32_t codecType,
                                                    platform::CompressionOutputCallback callback, void* outputContext,
                                                    platform::CompressionSessionRef* session) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    createCalls_.push_back({width, height, codecType});
  }
  if (const int32_t status = createStatus.load(); status != 0) return status;
  if (createReturnsNull.load()) return 0;
  auto made = std::make_shared<FakeCompressionSession>(this, width, height, codecType, callback, outputContext);
  {
    std::lock_guard<std::mutex> hold(lock_);
    sessions_.push_back(made);
  }
  *session = made;
  return 0;
}

int32_t FakeMediaPlatform::createPixelBufferWithSurface(const platform::SurfaceRef& surface,
                                                        platform::PixelBufferRef* buffer) {
  if (const int32_t status = pixelBufferStatus.load(); status != 0) return status;
  if (!surface) return platform::kMediaErrorParameter;
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++pixelBuffers_;
  }
  *buffer = std::make_shared<platform::PixelBuffer>(platform::PixelBuffer{surface});
  return 0;
}

void FakeMediaPlatform::setPropertyStatus(CompressionProperty key, int32_t status) {
  std::lock_guard<std::mutex> hold(lock_);
  propertyStatus_[key] = status;
}

int32_t FakeMediaPlatform::propertyStatus(CompressionProperty key) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = propertyStatus_.find(key);
  return it == propertyStatus_.end() ? 0 : it->second;
}

std::vector<FakeMediaPlatform::CreateCall> FakeMediaPlatform::createCalls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return createCalls_;
}

std::vector<std::shared_ptr<FakeCompressionSession>> FakeMediaPlatform::sessions() const {
  std::lock_guard<std::mutex> hold(lock_);
  return sessions_;
}

std::shared_ptr<FakeCompressionSession> FakeMediaPlatform::lastSession() const {
  std::lock_guard<std::mutex> hold(lock_);
  return sessions_.empty() ? nullptr : sessions_.back();
}

int FakeMediaPlatform::pixelBufferCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return pixelBuffers_;
}

}  // namespace testing_support
