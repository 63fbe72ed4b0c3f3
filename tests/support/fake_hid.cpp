#include "tests/support/fake_hid.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace testing_support {
namespace {

// Builds the recorded call into a fresh 192-byte message, or records it and returns null.
void* _buildMessage(const FakeIndigoMessage& message) {
  FakeIndigo& indigo = FakeIndigo::shared();
  indigo.record(message);
  if (indigo.returnsNull(message.kind)) return nullptr;
  void* block = std::malloc(platform::kIndigoMessageSize);
  std::memset(block, 0xA5, platform::kIndigoMessageSize);
  std::memcpy(block, &message, sizeof message);
  return block;
}

void* fakeMouseMessage(const double* position, const void* unused, int32_t target, int32_t eventType,
                       int32_t direction, double a, double b, double c, double d) {
  FakeIndigoMessage message;
  message.kind = FakeIndigoKind::kMouse;
  message.x = position[0];
  message.y = position[1];
  message.unusedPointerWasNull = unused == nullptr;
  message.target = target;
  message.eventType = eventType;
  message.direction = direction;
  message.scale[0] = a;
  message.scale[1] = b;
  message.scale[2] = c;
  message.scale[3] = d;
  return _buildMessage(message);
}

void* fakeKeyboardMessage(const platform::KeyEvent* event) {
  FakeIndigoMessage message;
  message.kind = FakeIndigoKind::kKeyboard;
  message.keyCode = event->keyCode;
  message.keyEventType = event->type;
  message.modifierFlags = event->modifierFlags;
  return _buildMessage(message);
}

void* fakeButtonMessage(uint32_t keyCode, uint32_t op, uint32_t target) {
  FakeIndigoMessage message;
  message.kind = FakeIndigoKind::kButton;
  message.keyCode = keyCode;
  message.op = op;
  message.buttonTarget = target;
  return _buildMessage(message);
}

void* fakeArbitraryMessage(uint32_t target, uint32_t page, uint32_t usage, uint32_t op) {
  FakeIndigoMessage message;
  message.kind = FakeIndigoKind::kArbitrary;
  message.target = static_cast<int32_t>(target);
  message.page = page;
  message.usage = usage;
  message.op = op;
  return _buildMessage(message);
}

}  // namespace

FakeIndigo& FakeIndigo::shared() {
  static FakeIndigo* indigo = new FakeIndigo();
  return *indigo;
}

void FakeIndigo::install(FakeSimulatorPlatform& platform, const std::string& path) {
  platform.addSymbol(path, platform::kIndigoMouseMessageSymbol,
                     reinterpret_cast<void*>(static_cast<platform::IndigoMouseMessageFn>(fakeMouseMessage)));
  platform.addSymbol(path, platform::kIndigoKeyboardMessageSymbol,
                     reinterpret_cast<void*>(static_cast<platform::IndigoKeyboardMessageFn>(fakeKeyboardMessage)));
  platform.addSymbol(path, platform::kIndigoButtonMessageSymbol,
                     reinterpret_cast<void*>(static_cast<platform::IndigoButtonMessageFn>(fakeButtonMessage)));
  platform.addSymbol(path, platform::kIndigoArbitraryMessageSymbol,
                     reinterpret_cast<void*>(static_cast<platform::IndigoArbitraryMessageFn>(fakeArbitraryMessage)));
}

void FakeIndigo::reset() {
  std::lock_guard<std::mutex> hold(lock_);
  calls_.clear();
  for (bool& flag : nullFor_) flag = false;
}

void FakeIndigo::setReturnsNull(FakeIndigoKind kind, bool returnsNull) {
  std::lock_guard<std::mutex> hold(lock_);
  nullFor_[static_cast<size_t>(kind)] = returnsNull;
}

bool FakeIndigo::returnsNull(FakeIndigoKind kind) {
  std::lock_guard<std::mutex> hold(lock_);
  return nullFor_[static_cast<size_t>(kind)];
}

std::vector<FakeIndigoMessage> FakeIndigo::calls() {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

void FakeIndigo::record(const FakeIndigoMessage& message) {
  std::lock_guard<std::mutex> hold(lock_);
  calls_.push_back(message);
}

FakeHIDClient::~FakeHIDClient() = default;

void FakeHIDClient::sendWithMessage(void* message, bool freeWhenDone, platform::GlobalQueue& completionQueue,
                                    std::function<void(platform::SimErrorRef)> completion) {
  FakeIndigoMessage decoded;
  std::memcpy(&decoded, message, sizeof decoded);
  if (freeWhenDone) std::free(message);

  std::unique_lock<std::mutex> hold(lock_);
  sent_.push_back(decoded);
  allFreeWhenDone_ = allFreeWhenDone_ && freeWhenDone;
  FakeCompletion mode = mode_;
  if (!script_.empty()) {
    mode = script_.front();
    script_.pop_front();
  }
  switch (mode) {
    case FakeCompletion::kSucceed:
      completionQueue.async([completion] { completion(nullptr); });
      break;
    case FakeCompletion::kFail:
      completionQueue.async([completion, failure = error] { completion(failure); });
      break;
    case FakeCompletion::kHold:
      held_.push_back(Held{&completionQueue, std::move(completion)});
      break;
    case FakeCompletion::kNever:
      break;
  }
}

void FakeHIDClient::setMode(FakeCompletion mode) {
  std::lock_guard<std::mutex> hold(lock_);
  mode_ = mode;
}

void FakeHIDClient::scriptNext(FakeCompletion mode) {
  std::lock_guard<std::mutex> hold(lock_);
  script_.push_back(mode);
}

std::vector<FakeIndigoMessage> FakeHIDClient::sent() {
  std::lock_guard<std::mutex> hold(lock_);
  return sent_;
}

bool FakeHIDClient::allFreedWhenDone() {
  std::lock_guard<std::mutex> hold(lock_);
  return allFreeWhenDone_;
}

size_t FakeHIDClient::heldCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return held_.size();
}

void FakeHIDClient::completeHeld(platform::SimErrorRef failure) {
  Held held;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (held_.empty()) return;
    held = std::move(held_.front());
    held_.pop_front();
  }
  held.queue->async([completion = std::move(held.completion), failure] { completion(failure); });
}

namespace {
class FakeHIDClientAllocation : public platform::SimHIDClientAllocation {
 public:
  explicit FakeHIDClientAllocation(std::shared_ptr<FakeHIDClientClass> cls) : cls_(std::move(cls)) {}
  platform::SimHIDClientRef initWithDevice(const platform::SimDeviceRef& device) override {
    return cls_->makeClient(device);
  }

 private:
  std::shared_ptr<FakeHIDClientClass> cls_;
};
}  // namespace

std::shared_ptr<platform::SimHIDClientAllocation> FakeHIDClientClass::alloc() {
  if (failAlloc) return nullptr;
  return std::make_shared<FakeHIDClientAllocation>(shared_from_this());
}

platform::SimHIDClientRef FakeHIDClientClass::makeClient(const platform::SimDeviceRef& device) {
  initDevices.push_back(device);
  if (failInit) return nullptr;
  FakeCompletion mode = defaultMode;
  if (!nextClientModes.empty()) {
    mode = nextClientModes.front();
    nextClientModes.pop_front();
  }
  auto client = std::make_shared<FakeHIDClient>(mode);
  clients.push_back(client);
  return client;
}

}  // namespace testing_support
