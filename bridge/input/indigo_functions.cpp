#include "bridge/input/indigo_functions.h"

#include <dlfcn.h>

#include <string>

#include "bridge/platform/log.h"
#include "bridge/simruntime/sim_runtime.h"

namespace {

// Addresses (null until loaded) and attempted flags, all guarded by g_injectionLock.
void* indigoFnPtr = nullptr;
bool indigoLoaded = false;
void* indigoKeyboardFnPtr = nullptr;
bool indigoKeyboardLoaded = false;
void* indigoButtonFnPtr = nullptr;
bool indigoButtonLoaded = false;
void* indigoArbitraryFnPtr = nullptr;
bool indigoArbitraryLoaded = false;

struct IndigoFunctionSlot {
  void*& address;
  bool& attempted;
  const char* symbol;
  const char* openFailureLine;  // takes the image path
  const char* symbolLine;
  const char* loadedLine;
  const char* loadFailureLine;
};

IndigoFunctionSlot slotFor(IndigoFunction function) {
  switch (function) {
    case IndigoFunction::kMouse:
      return {indigoFnPtr, indigoLoaded, platform::kIndigoMouseMessageSymbol,
              "[IndigoHID] Failed to load SimulatorKit from %@",
              "[IndigoHID] IndigoHIDMessageForMouseNSEvent symbol not found",
              "[IndigoHID] IndigoHIDMessageForMouseNSEvent loaded", "[IndigoHID] ensureIndigoLoaded failed"};
    case IndigoFunction::kKeyboard:
      return {indigoKeyboardFnPtr, indigoKeyboardLoaded, platform::kIndigoKeyboardMessageSymbol,
              "[IndigoHID] Failed to load SimulatorKit for keyboard",
              "[IndigoHID] IndigoHIDMessageForKeyboardNSEvent symbol not found",
              "[IndigoHID] IndigoHIDMessageForKeyboardNSEvent loaded",
              "[IndigoHID] ensureIndigoKeyboardLoaded failed"};
    case IndigoFunction::kButton:
      return {indigoButtonFnPtr, indigoButtonLoaded, platform::kIndigoButtonMessageSymbol,
              "[IndigoHID] Failed to load SimulatorKit for button",
              "[IndigoHID] IndigoHIDMessageForButton symbol not found",
              "[IndigoHID] IndigoHIDMessageForButton loaded", "[IndigoHID] ensureIndigoButtonLoaded failed"};
    case IndigoFunction::kArbitrary:
      break;
  }
  return {indigoArbitraryFnPtr, indigoArbitraryLoaded, platform::kIndigoArbitraryMessageSymbol,
          "[IndigoHID] Failed to load SimulatorKit for arbitrary HID",
          "[IndigoHID] IndigoHIDMessageForHIDArbitrary symbol not found",
          "[IndigoHID] IndigoHIDMessageForHIDArbitrary loaded", "[IndigoHID] ensureIndigoArbitraryLoaded failed"};
}

}  // namespace

void* _ensureIndigoLoaded(IndigoFunction function) {
  IndigoFunctionSlot slot = slotFor(function);
  if (slot.attempted) {
    if (slot.address == nullptr) bridgeLog(slot.loadFailureLine);
    return slot.address;
  }
  slot.attempted = true;  // before trying: a failed load is never tried again

  if (!ensureSimKitLoaded()) {
    bridgeLog(slot.loadFailureLine);
    return nullptr;
  }
  const std::string path = simKitFrameworkPath();
  // The handle is kept open for good: the loaded address must stay valid.
  void* image = platform::simulatorPlatform().openImage(path, RTLD_NOW | RTLD_GLOBAL);
  if (image == nullptr) {
    bridgeLog(slot.openFailureLine, path.c_str());
    bridgeLog(slot.loadFailureLine);
    return nullptr;
  }
  void* address = platform::simulatorPlatform().lookupSymbol(image, slot.symbol);
  if (address == nullptr) {
    bridgeLog(slot.symbolLine);
    bridgeLog(slot.loadFailureLine);
    return nullptr;
  }
  bridgeLog(slot.loadedLine);
  slot.address = address;
  return address;
}

void* _indigoAddress(IndigoFunction function) { return slotFor(function).address; }

void _resetIndigoFunctionsForTesting() {
  for (IndigoFunction function :
       {IndigoFunction::kMouse, IndigoFunction::kKeyboard, IndigoFunction::kButton, IndigoFunction::kArbitrary}) {
    IndigoFunctionSlot slot = slotFor(function);
    slot.address = nullptr;
    slot.attempted = false;
  }
}
