// Fakes of SimulatorKit's HID side for unit tests: the HID client class, its allocation
// and clients, and the four Indigo message functions.
//
// A FakeHIDClient records every message it is handed (decoded, see FakeIndigoMessage)
// and completes each send as scripted: at once with success or with an error, or not
// until the test releases it (late), or never. The Indigo functions are plain C
// functions over one process-wide FakeIndigo recorder, which can make any of them
// return null.
//
// Threads: the test thread scripts and inspects; the code under test calls in on its
// own thread; completions run on the global queue. Every recorded field is guarded by
// the owning object's lock; read them through the accessors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bridge/platform/simulator_platform.h"
#include "tests/support/fake_simulator_platform.h"

namespace testing_support {

enum class FakeIndigoKind : uint32_t { kMouse = 1, kKeyboard = 2, kButton = 3, kArbitrary = 4 };

// What a fake Indigo function writes at the start of its 192-byte message.
struct FakeIndigoMessage {
  FakeIndigoKind kind{};
  int32_t target = 0;  // mouse: its target argument; arbitrary: its target
  int32_t eventType = 0;
  int32_t direction = 0;
  double x = 0;
  double y = 0;
  double scale[4] = {};
  uint32_t keyCode = 0;       // keyboard and button
  uint32_t op = 0;            // button and arbitrary
  uint32_t buttonTarget = 0;  // button
  uint32_t page = 0;
  uint32_t usage = 0;
  int64_t keyEventType = 0;   // keyboard: the event's type
  uint64_t modifierFlags = 0;
  bool unusedPointerWasNull = true;  // mouse: its second argument
};
static_assert(sizeof(FakeIndigoMessage) <= platform::kIndigoMessageSize);

// The recorder behind the four fake Indigo functions.
class FakeIndigo {
 public:
  static FakeIndigo& shared();

  // Registers the four functions as symbols of the image at `path`.
  void install(FakeSimulatorPlatform& platform, const std::string& path);
  // Forgets the calls and makes every function build messages again.
  void reset();

  void setReturnsNull(FakeIndigoKind kind, bool returnsNull);
  bool returnsNull(FakeIndigoKind kind);
  // Every message built or asked for, in call order (also the ones refused with null).
  std::vector<FakeIndigoMessage> calls();
  void record(const FakeIndigoMessage& message);

 private:
  std::mutex lock_;
  std::vector<FakeIndigoMessage> calls_;  // guarded by lock_
  bool nullFor_[5] = {};                  // by kind; guarded by lock_
};

enum class FakeCompletion {
  kSucceed,  // completes at once (on the queue) without error
  kFail,     // completes at once with `error`
  kHold,     // completes only when the test calls completeHeld
  kNever,    // never completes
};

class FakeHIDClient : public platform::SimHIDClient {
 public:
  explicit FakeHIDClient(FakeCompletion mode) : mode_(mode) {}
  ~FakeHIDClient() override;

  void sendWithMessage(void* message, bool freeWhenDone, platform::GlobalQueue& completionQueue,
                       std::function<void(platform::SimErrorRef)> completion) override;

  // How later sends complete; the script (one entry per send) goes first.
  void setMode(FakeCompletion mode);
  void scriptNext(FakeCompletion mode);

  std::vector<FakeIndigoMessage> sent();
  bool allFreedWhenDone();
  size_t heldCount();
  // Completes the oldest held send, on its queue, with `error` (null: success).
  void completeHeld(platform::SimErrorRef error);

  platform::SimErrorRef error = std::make_shared<platform::SimError>(
      platform::SimError{"NSMachErrorDomain", 268435459, "(ipc/send) invalid destination port"});

 private:
  struct Held {
    platform::GlobalQueue* queue;
    std::function<void(platform::SimErrorRef)> completion;
  };
  std::mutex lock_;
  FakeCompletion mode_;                 // guarded by lock_
  std::deque<FakeCompletion> script_;   // guarded by lock_
  std::vector<FakeIndigoMessage> sent_; // guarded by lock_
  bool allFreeWhenDone_ = true;         // guarded by lock_
  std::deque<Held> held_;               // guarded by lock_
};

// The HID client class, registered under a name of the test's choice.
class FakeHIDClientClass : public platform::SimHIDClientClass,
                           public std::enable_shared_from_this<FakeHIDClientClass> {
 public:
  explicit FakeHIDClientClass(std::string name = "SimulatorKit.SimDeviceLegacyHIDClient") : name_(std::move(name)) {}
  std::string name() const override { return name_; }
  std::shared_ptr<platform::SimHIDClientAllocation> alloc() override;

  // Called by the allocation's init; makes a client or null.
  platform::SimHIDClientRef makeClient(const platform::SimDeviceRef& device);

  // Scripting: alloc or init fail; modes of the next clients made (then `defaultMode`).
  bool failAlloc = false;
  bool failInit = false;
  FakeCompletion defaultMode = FakeCompletion::kSucceed;
  std::deque<FakeCompletion> nextClientModes;

  // Every client made, oldest first, and the devices their inits were given.
  std::vector<std::shared_ptr<FakeHIDClient>> clients;
  std::vector<platform::SimDeviceRef> initDevices;

 private:
  std::string name_;
};

}  // namespace testing_support
