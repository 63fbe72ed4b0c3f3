// The simulator platform: everything the bridge does with the Simulator's frameworks
// (on a Mac: CoreSimulator and SimulatorKit, reached through the dynamic loader and the
// Objective-C runtime, plus AppKit's key events). Images are opened by path, classes
// looked up by name, and the Indigo message functions found by symbol name; the objects
// the frameworks hand out are shared references to the abstract classes below.
//
// Ownership: every object is a std::shared_ptr; holding one keeps the object alive.
// A null shared_ptr stands for nil. Indigo messages are malloc'ed blocks: a message
// function's result belongs to its caller (free it with free); a message handed to
// SimHIDClient::sendWithMessage with freeWhenDone true belongs to the client.
//
// Exceptions: where the Simulator's objects may raise, an operation throws SimException
// carrying the reason. Callers catch it at the call; it never travels further.
//
// Order of calls: openImage before lookupSymbol on its handle; the CoreSimulator classes
// exist once the CoreSimulator image is open, the SimulatorKit class once the
// SimulatorKit image is open. Otherwise operations may be called in any order.
//
// Threads: operations are called from the command thread and the capture queue; an
// implementation must be safe for that. Handlers passed in run on the GlobalQueue given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/platform/global_queue.h"
#include "bridge/platform/surface.h"

namespace platform {

// An exception raised by a Simulator object.
class SimException : public std::runtime_error {
 public:
  explicit SimException(const std::string& reason) : std::runtime_error(reason) {}
  std::string reason() const { return what(); }
};

// An error object (NSError) handed to error slots and completion handlers.
struct SimError {
  std::string domain;
  long code = 0;
  std::string localizedDescription;

  // The standard rendering, as %@ shows it:
  // Error Domain=<domain> Code=<code> "<text>" UserInfo={NSLocalizedDescription=<text>}
  std::string description() const;
};
using SimErrorRef = std::shared_ptr<const SimError>;

// The rendering of an optional error for a %@ placeholder: "(null)" when there is none.
std::string describe(const SimErrorRef& error);

// --- CoreSimulator ------------------------------------------------------------------

class SimDeviceType {
 public:
  virtual ~SimDeviceType() = default;
  virtual bool respondsToProductFamilyID() const = 0;
  // 32-bit family: 1 phone, 2 tablet, 3 TV. May throw SimException.
  virtual int32_t productFamilyID() = 0;
};

class SimDevice {
 public:
  virtual ~SimDevice() = default;
  // Key "UDID": the UUIDString of the value, or nothing when the key is absent or the
  // value is not a UUID.
  virtual std::optional<std::string> udidString() = 0;
  // `deviceType`; null when there is none. May throw SimException.
  virtual std::shared_ptr<SimDeviceType> deviceType() = 0;
  virtual bool respondsToSetHardwareKeyboardEnabled() const = 0;
  // setHardwareKeyboardEnabled:keyboardType:error:. *error receives an error or stays null.
  virtual bool setHardwareKeyboardEnabled(bool enabled, uint32_t keyboardType, SimErrorRef* error) = 0;
  // How %@ shows the device.
  virtual std::string description() const = 0;
};
using SimDeviceRef = std::shared_ptr<SimDevice>;

class SimDeviceSet {
 public:
  virtual ~SimDeviceSet() = default;
  // Key "devices": nothing when the key is absent or not an array of objects.
  virtual std::optional<std::vector<SimDeviceRef>> devices() = 0;
};

class SimServiceContext {
 public:
  virtual ~SimServiceContext() = default;
  // defaultDeviceSetWithError: with no error slot; null on failure.
  virtual std::shared_ptr<SimDeviceSet> defaultDeviceSet() = 0;
};

// A class found by name. Callers cast to the kind of class they expect; a class of
// another kind counts as absent.
class SimClass {
 public:
  virtual ~SimClass() = default;
  virtual std::string name() const = 0;
};
using SimClassRef = std::shared_ptr<SimClass>;

// "SimServiceContext"
class SimServiceContextClass : public SimClass {
 public:
  // sharedServiceContextForDeveloperDir:error: with no error slot; null on failure.
  virtual std::shared_ptr<SimServiceContext> sharedServiceContextForDeveloperDir(const std::string& developerDir) = 0;
};

// --- Device I/O and displays ----------------------------------------------------------

struct SimScreenProperties {
  uint32_t uiOrientation = 0;
  uint32_t screenID = 0;
};

class SimDisplayDescriptor {
 public:
  virtual ~SimDisplayDescriptor() = default;
  // The display's current surface, or null. May throw SimException.
  virtual SurfaceRef framebufferSurface() = 0;
  // `screenProperties`, or nothing. May throw SimException.
  virtual std::optional<SimScreenProperties> screenProperties() = 0;
};
using SimDisplayDescriptorRef = std::shared_ptr<SimDisplayDescriptor>;

// The port identifier that marks a framebuffer display.
inline constexpr const char* kFramebufferDisplayPortIdentifier = "com.apple.framebuffer.display";

class SimIOPort {
 public:
  virtual ~SimIOPort() = default;
  virtual std::string portIdentifier() = 0;                 // may throw SimException
  virtual SimDisplayDescriptorRef descriptor() = 0;         // null for none; may throw
};
using SimIOPortRef = std::shared_ptr<SimIOPort>;

class SimIOClient {
 public:
  virtual ~SimIOClient() = default;
  // Key "ioPorts", in port order.
  virtual std::vector<SimIOPortRef> ioPorts() = 0;
};
using SimIOClientRef = std::shared_ptr<SimIOClient>;

// "SimDeviceIOClient"
class SimIOClientClass : public SimClass {
 public:
  // alloc + initWithDevice:errorQueue:errorHandler:. The handler may later run on
  // `errorQueue` with an error. Null when no client could be made.
  virtual SimIOClientRef initWithDevice(const SimDeviceRef& device, GlobalQueue& errorQueue,
                                        std::function<void(SimErrorRef)> errorHandler) = 0;
};

// --- SimulatorKit HID ---------------------------------------------------------------

// Every Indigo message is this many bytes.
constexpr size_t kIndigoMessageSize = 192;

class SimHIDClient {
 public:
  virtual ~SimHIDClient() = default;
  // sendWithMessage:freeWhenDone:completionQueue:completion:. With freeWhenDone the
  // client takes the malloc'ed message over and frees it. The completion runs exactly
  // once on `completionQueue`, with an error when the send failed and null otherwise.
  // Returns without waiting for the completion.
  virtual void sendWithMessage(void* message, bool freeWhenDone, GlobalQueue& completionQueue,
                               std::function<void(SimErrorRef)> completion) = 0;
};
using SimHIDClientRef = std::shared_ptr<SimHIDClient>;

// The result of `alloc` on the HID client class, waiting for its init message.
class SimHIDClientAllocation {
 public:
  virtual ~SimHIDClientAllocation() = default;
  // initWithDevice:error: with no error slot; null on failure.
  virtual SimHIDClientRef initWithDevice(const SimDeviceRef& device) = 0;
};

// "SimulatorKit.SimDeviceLegacyHIDClient" (or "SimDeviceLegacyHIDClient")
class SimHIDClientClass : public SimClass {
 public:
  virtual std::shared_ptr<SimHIDClientAllocation> alloc() = 0;   // null on failure
};

// An AppKit key event (NSEvent), made by SimulatorPlatform::keyEvent.
struct KeyEvent {
  int64_t type = 0;               // 10 key down, 11 key up
  double locationX = 0;
  double locationY = 0;
  uint64_t modifierFlags = 0;
  double timestamp = 0;           // seconds
  int64_t windowNumber = 0;
  const void* context = nullptr;  // graphics context; always null here
  std::string characters;
  std::string charactersIgnoringModifiers;
  bool isARepeat = false;
  uint16_t keyCode = 0;
};
using KeyEventRef = std::shared_ptr<KeyEvent>;

// The four Indigo message functions exported by the SimulatorKit image. Each returns a
// malloc'ed message of kIndigoMessageSize bytes that the caller owns, or null.
using IndigoMouseMessageFn = void* (*)(const double* position, const void* unused, int32_t target,
                                       int32_t eventType, int32_t direction, double a, double b,
                                       double c, double d);
using IndigoKeyboardMessageFn = void* (*)(const KeyEvent* event);
using IndigoButtonMessageFn = void* (*)(uint32_t keyCode, uint32_t op, uint32_t target);
using IndigoArbitraryMessageFn = void* (*)(uint32_t target, uint32_t page, uint32_t usage, uint32_t op);

inline constexpr const char* kIndigoMouseMessageSymbol = "IndigoHIDMessageForMouseNSEvent";
inline constexpr const char* kIndigoKeyboardMessageSymbol = "IndigoHIDMessageForKeyboardNSEvent";
inline constexpr const char* kIndigoButtonMessageSymbol = "IndigoHIDMessageForButton";
inline constexpr const char* kIndigoArbitraryMessageSymbol = "IndigoHIDMessageForHIDArbitrary";

// --- The platform -------------------------------------------------------------------

class SimulatorPlatform {
 public:
  virtual ~SimulatorPlatform() = default;

  // dlopen: a handle, or null when the image cannot be opened. `mode` is dlopen's.
  virtual void* openImage(const std::string& path, int mode) = 0;
  // dlsym on a handle from openImage: the symbol's address, or null.
  virtual void* lookupSymbol(void* image, const std::string& symbol) = 0;
  // NSClassFromString: the class of that name, or null.
  virtual SimClassRef classNamed(const std::string& name) = 0;
  // NSEvent keyEventWithType:location:modifierFlags:timestamp:windowNumber:context:
  // characters:charactersIgnoringModifiers:isARepeat:keyCode:, or null.
  virtual KeyEventRef keyEvent(int64_t type, double locationX, double locationY, uint64_t modifierFlags,
                               double timestamp, int64_t windowNumber, const void* context,
                               const std::string& characters, const std::string& charactersIgnoringModifiers,
                               bool isARepeat, uint16_t keyCode) = 0;
};

// The process-wide instance. installSimulatorPlatform is called by main before the first
// command (and by tests); the platform is not owned and must outlive its use.
SimulatorPlatform& simulatorPlatform();
void installSimulatorPlatform(SimulatorPlatform* platform);

}  // namespace platform
