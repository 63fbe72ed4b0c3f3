#include "bridge/platform/apple_simulator/core_simulator_platform.h"

#import <AppKit/AppKit.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "bridge/platform/apple_simulator/apple_objects.h"

namespace platform {
namespace {

using apple::ObjcRef;
using apple::orElse;

// A key event with the NSEvent it was made from, which the keyboard message function
// of SimulatorKit takes.
struct AppleKeyEvent final : KeyEvent {
  ObjcRef event;
};

// SimulatorKit's IndigoHIDMessageForKeyboardNSEvent, which takes an NSEvent. Set by
// lookupSymbol (atomic: release store / acquire load).
using NSEventKeyboardMessageFn = void* (*)(NSEvent* event);
std::atomic<NSEventKeyboardMessageFn> g_keyboardMessageFunction{nullptr};

// What the bridge calls for IndigoHIDMessageForKeyboardNSEvent: the key events it
// passes are the ones keyEvent made, so their NSEvent goes to SimulatorKit's function.
void* keyboardMessageForKeyEvent(const KeyEvent* event) {
  NSEventKeyboardMessageFn function = g_keyboardMessageFunction.load(std::memory_order_acquire);
  if (event == nullptr || function == nullptr) return nullptr;
  auto* nsEvent = static_cast<NSEvent*>(static_cast<const AppleKeyEvent*>(event)->event.get());
  return orElse(static_cast<void*>(nullptr), [&] { return function(nsEvent); });
}

std::string imagePath(const std::string& path) {
#ifdef CORVANE_APPLE_LINUX_FRAMEWORK_ROOT
  // Linux test builds only: the Objective-C stand-ins of the frameworks are laid out at
  // their Apple paths below this directory of the build tree. A Mac build has no root.
  if (!path.empty() && path.front() == '/') return CORVANE_APPLE_LINUX_FRAMEWORK_ROOT + path;
#endif
  return path;
}

class CoreSimulatorPlatform final : public SimulatorPlatform {
 public:
  void* openImage(const std::string& path, int mode) override { return ::dlopen(imagePath(path).c_str(), mode); }

  void* lookupSymbol(void* image, const std::string& symbol) override {
    void* address = ::dlsym(image, symbol.c_str());
    if (address == nullptr || symbol != kIndigoKeyboardMessageSymbol) return address;
    g_keyboardMessageFunction.store(reinterpret_cast<NSEventKeyboardMessageFn>(address), std::memory_order_release);
    return reinterpret_cast<void*>(&keyboardMessageForKeyEvent);
  }

  SimClassRef classNamed(const std::string& name) override {
    Class cls = orElse(Class{Nil}, [&] { return NSClassFromString(apple::nsString(name)); });
    if (cls == nil) return nullptr;
    if (name == "SimServiceContext") return apple::serviceContextClass(cls, name);
    if (name == "SimDeviceIOClient") return apple::ioClientClass(cls, name);
    if (name == "SimulatorKit.SimDeviceLegacyHIDClient" || name == "SimDeviceLegacyHIDClient") {
      return apple::hidClientClass(cls, name);
    }
    return apple::plainClass(cls, name);
  }

  KeyEventRef keyEvent(int64_t type, double locationX, double locationY, uint64_t modifierFlags, double timestamp,
                       int64_t windowNumber, const void*, const std::string& characters,
                       const std::string& charactersIgnoringModifiers, bool isARepeat, uint16_t keyCode) override {
    auto made = std::make_shared<AppleKeyEvent>();
    made->event = orElse(ObjcRef{}, [&] {
      // Looked up by name: AppKit is linked on a Mac, and a stand-in on Linux.
      Class eventClass = NSClassFromString(@"NSEvent");
      NSString* chars = apple::nsString(characters);
      NSString* ignoring = apple::nsString(charactersIgnoringModifiers);
      if (eventClass == nil || chars == nil || ignoring == nil) return ObjcRef{};
      return ObjcRef::retaining([eventClass keyEventWithType:static_cast<NSEventType>(type)
                                                    location:NSMakePoint(locationX, locationY)
                                               modifierFlags:static_cast<NSEventModifierFlags>(modifierFlags)
                                                   timestamp:timestamp
                                                windowNumber:static_cast<NSInteger>(windowNumber)
                                                     context:nil
                                                  characters:chars
                                 charactersIgnoringModifiers:ignoring
                                                   isARepeat:isARepeat ? YES : NO
                                                     keyCode:keyCode]);
    });
    if (!made->event) return nullptr;
    *static_cast<KeyEvent*>(made.get()) = KeyEvent{type, locationX, locationY, modifierFlags, timestamp, windowNumber,
                                                   nullptr, characters, charactersIgnoringModifiers, isARepeat, keyCode};
    return made;
  }
};

}  // namespace

SimulatorPlatform& coreSimulatorPlatform() {
  static CoreSimulatorPlatform* instance = new CoreSimulatorPlatform();
  return *instance;
}

}  // namespace platform
