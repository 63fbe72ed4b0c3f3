#include "bridge/platform/virtual_simulator/device/input_effects.h"

#include <cctype>
#include <cstdio>

namespace platform::virtual_sim {
namespace {

// Mac virtual key codes of the ANSI (US) keyboard that type a character: the
// character without and with Shift, indexed by key code. 0: no character.
struct TypedKey {
  char plain;
  char shifted;
};
constexpr TypedKey kTypedKeys[0x33] = {
    {'a', 'A'}, {'s', 'S'}, {'d', 'D'}, {'f', 'F'}, {'h', 'H'}, {'g', 'G'}, {'z', 'Z'}, {'x', 'X'},   // 0x00
    {'c', 'C'}, {'v', 'V'}, {0, 0},     {'b', 'B'}, {'q', 'Q'}, {'w', 'W'}, {'e', 'E'}, {'r', 'R'},   // 0x08
    {'y', 'Y'}, {'t', 'T'}, {'1', '!'}, {'2', '@'}, {'3', '#'}, {'4', '$'}, {'6', '^'}, {'5', '%'},   // 0x10
    {'=', '+'}, {'9', '('}, {'7', '&'}, {'-', '_'}, {'8', '*'}, {'0', ')'}, {']', '}'}, {'o', 'O'},   // 0x18
    {'u', 'U'}, {'[', '{'}, {'i', 'I'}, {'p', 'P'}, {0, 0},     {'l', 'L'}, {'j', 'J'}, {'\'', '"'},  // 0x20
    {'k', 'K'}, {';', ':'}, {'\\', '|'}, {',', '<'}, {'/', '?'}, {'n', 'N'}, {'m', 'M'}, {'.', '>'},  // 0x28
    {0, 0},     {' ', ' '}, {'`', '~'},                                                               // 0x30
};

constexpr uint16_t kReturnKey = 0x24;
constexpr uint16_t kKeypadEnterKey = 0x4C;
constexpr uint16_t kDeleteKey = 0x33;

std::string hex(const char* format, uint32_t a, uint32_t b = 0) {
  char text[48];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

KeyEffect keyEffect(uint16_t keyCode, uint64_t modifierFlags) {
  if (keyCode == kReturnKey || keyCode == kKeypadEnterKey) return {KeyEffect::Kind::Return, 0};
  if (keyCode == kDeleteKey) return {KeyEffect::Kind::Delete, 0};
  if (keyCode >= sizeof kTypedKeys / sizeof kTypedKeys[0] || kTypedKeys[keyCode].plain == 0) return {};
  const TypedKey& key = kTypedKeys[keyCode];
  bool shift = (modifierFlags & kShiftFlag) != 0;
  // Caps Lock turns letters (only) to upper case, and Shift back.
  if ((modifierFlags & kCapsLockFlag) != 0 && std::isalpha(static_cast<unsigned char>(key.plain))) shift = !shift;
  return {KeyEffect::Kind::Insert, shift ? key.shifted : key.plain};
}

std::string keyName(uint16_t keyCode) {
  switch (keyCode) {
    case 0x30: return "Tab";
    case 0x35: return "Escape";
    case 0x73: return "Home";
    case 0x77: return "End";
    case 0x74: return "Page Up";
    case 0x79: return "Page Down";
    case 0x75: return "Forward Delete";
    case 0x7B: return "Left Arrow";
    case 0x7C: return "Right Arrow";
    case 0x7D: return "Down Arrow";
    case 0x7E: return "Up Arrow";
    default: return hex("Key %u", keyCode);
  }
}

std::string usageName(uint32_t page, uint32_t usage) {
  if (page == kConsumerPage) {
    switch (usage) {
      case kUsagePower: return "Power";
      case kUsageMenu: return "Menu";
      case kUsageMenuPick: return "Menu Pick";
      case kUsageMenuUp: return "Menu Up";
      case kUsageMenuDown: return "Menu Down";
      case kUsageMenuLeft: return "Menu Left";
      case kUsageMenuRight: return "Menu Right";
      case kUsagePlayPause: return "Play/Pause";
      case 0xE2: return "Mute";
      case 0xE9: return "Volume Up";
      case 0xEA: return "Volume Down";
      case 0x223: return "AC Home";
      default: break;
    }
  }
  return hex("Usage 0x%02X:0x%02X", page, usage);
}

std::string buttonName(uint32_t code) {
  switch (code) {
    case 1: return "Home";
    default: return hex("Button %u", code);
  }
}

}  // namespace platform::virtual_sim
