// The Indigo HID messages of the virtual SimulatorKit image: the four message functions
// it exports and the decoding its HID client does.
//
// A message is a malloc'ed block of exactly kIndigoMessageSize (192) bytes laid out as
// IndigoMessage below, all fields in host byte order, unused bytes zero:
//
//   offset  size  field
//        0     4  magic          kIndigoMagic ("IDGO")
//        4     4  kind           IndigoKind
//        8     4  target         Indigo target (50 touch screen, 51 buttons, 21 TV remote)
//       12     4  op             1 press / finger down, 2 release / finger up, 0 finger moved
//       16     4  code           key code (keyboard), button code (button) or usage (HID usage)
//       20     4  page           HID usage page (HID usage messages)
//       24     4  eventType      NSEvent type (pointer: 1 down, 6 dragged, 2 up; key: 10, 11)
//       28     4  reserved
//       32     8  modifierFlags  NSEvent modifier flags (keyboard)
//       40     8  x              pointer position, fraction of the screen width (0..1)
//       48     8  y              pointer position, fraction of the screen height (0..1)
//       56    32  extra[4]       the pointer function's four trailing doubles
//       88     8  timestamp      key event time, seconds
//       96    96  reserved
//
// Callable from any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "bridge/platform/simulator_platform.h"

namespace platform::virtual_sim {

inline constexpr uint32_t kIndigoMagic = 0x4F474449;  // "IDGO" in memory order

enum class IndigoKind : uint32_t { Pointer = 1, Keyboard = 2, Button = 3, HIDUsage = 4 };

struct IndigoMessage {
  uint32_t magic;
  uint32_t kind;
  uint32_t target;
  uint32_t op;
  uint32_t code;
  uint32_t page;
  int32_t eventType;
  uint32_t reserved0;
  uint64_t modifierFlags;
  double x;
  double y;
  double extra[4];
  double timestamp;
  uint8_t reserved[96];
};
static_assert(sizeof(IndigoMessage) == kIndigoMessageSize, "the message layout is 192 bytes");

inline constexpr uint32_t kIndigoOpPress = 1;
inline constexpr uint32_t kIndigoOpRelease = 2;
inline constexpr uint32_t kIndigoOpMoved = 0;

// Reads a message; nothing when the block does not carry the magic or a known kind.
// `message` must point at kIndigoMessageSize readable bytes.
std::optional<IndigoMessage> decodeIndigoMessage(const void* message);

// The exported functions (the IndigoXxxMessageFn types of simulator_platform.h).
// Null position or event gives null; everything else a message.
void* indigoMessageForMouseNSEvent(const double* position, const void* unused, int32_t target, int32_t eventType,
                                   int32_t direction, double a, double b, double c, double d);
// Null for no event or an event that is neither key down (10) nor key up (11).
void* indigoMessageForKeyboardNSEvent(const KeyEvent* event);
void* indigoMessageForButton(uint32_t keyCode, uint32_t op, uint32_t target);
void* indigoMessageForHIDArbitrary(uint32_t target, uint32_t page, uint32_t usage, uint32_t op);

}  // namespace platform::virtual_sim
