#include "bridge/platform/virtual_simulator/device/indigo_message.h"

#include <cstdlib>
#include <cstring>

namespace platform::virtual_sim {
namespace {

constexpr int64_t kKeyDownEventType = 10;
constexpr int64_t kKeyUpEventType = 11;

IndigoMessage blankMessage(IndigoKind kind, uint32_t target) {
  IndigoMessage message;
  std::memset(&message, 0, sizeof message);
  message.magic = kIndigoMagic;
  message.kind = static_cast<uint32_t>(kind);
  message.target = target;
  return message;
}

// The caller owns the returned block (free it with free).
void* toHeap(const IndigoMessage& message) {
  void* block = std::malloc(sizeof message);
  if (block != nullptr) std::memcpy(block, &message, sizeof message);
  return block;
}

}  // namespace

std::optional<IndigoMessage> decodeIndigoMessage(const void* block) {
  if (block == nullptr) return std::nullopt;
  IndigoMessage message;
  std::memcpy(&message, block, sizeof message);
  if (message.magic != kIndigoMagic) return std::nullopt;
  if (message.kind < static_cast<uint32_t>(IndigoKind::Pointer) || message.kind > static_cast<uint32_t>(IndigoKind::HIDUsage))
    return std::nullopt;
  return message;
}

void* indigoMessageForMouseNSEvent(const double* position, const void*, int32_t target, int32_t eventType,
                                   int32_t direction, double a, double b, double c, double d) {
  if (position == nullptr) return nullptr;
  IndigoMessage message = blankMessage(IndigoKind::Pointer, static_cast<uint32_t>(target));
  message.op = static_cast<uint32_t>(direction);
  message.eventType = eventType;
  message.x = position[0];
  message.y = position[1];
  message.extra[0] = a;
  message.extra[1] = b;
  message.extra[2] = c;
  message.extra[3] = d;
  return toHeap(message);
}

void* indigoMessageForKeyboardNSEvent(const KeyEvent* event) {
  if (event == nullptr || (event->type != kKeyDownEventType && event->type != kKeyUpEventType)) return nullptr;
  IndigoMessage message = blankMessage(IndigoKind::Keyboard, 0);
  message.op = event->type == kKeyDownEventType ? kIndigoOpPress : kIndigoOpRelease;
  message.code = event->keyCode;
  message.eventType = static_cast<int32_t>(event->type);
  message.modifierFlags = event->modifierFlags;
  message.timestamp = event->timestamp;
  return toHeap(message);
}

void* indigoMessageForButton(uint32_t keyCode, uint32_t op, uint32_t target) {
  IndigoMessage message = blankMessage(IndigoKind::Button, target);
  message.op = op;
  message.code = keyCode;
  return toHeap(message);
}

void* indigoMessageForHIDArbitrary(uint32_t target, uint32_t page, uint32_t usage, uint32_t op) {
  IndigoMessage message = blankMessage(IndigoKind::HIDUsage, target);
  message.op = op;
  message.code = usage;
  message.page = page;
  return toHeap(message);
}

}  // namespace platform::virtual_sim
