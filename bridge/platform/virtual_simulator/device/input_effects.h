// How the virtual devices read keys, buttons and HID usages: the US keyboard layout for
// the text line, and the names shown on banners. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform::virtual_sim {

inline constexpr uint64_t kCapsLockFlag = 1ull << 16;  // NSEventModifierFlagCapsLock
inline constexpr uint64_t kShiftFlag = 1ull << 17;     // NSEventModifierFlagShift

// HID consumer page and the TV remote's usages on it.
inline constexpr uint32_t kConsumerPage = 0x0C;
inline constexpr uint32_t kUsagePower = 0x30;
inline constexpr uint32_t kUsageMenu = 0x40;
inline constexpr uint32_t kUsageMenuPick = 0x41;
inline constexpr uint32_t kUsageMenuUp = 0x42;
inline constexpr uint32_t kUsageMenuDown = 0x43;
inline constexpr uint32_t kUsageMenuLeft = 0x44;
inline constexpr uint32_t kUsageMenuRight = 0x45;
inline constexpr uint32_t kUsagePlayPause = 0xCD;

struct KeyEffect {
  enum class Kind { Insert, Return, Delete, Other };
  Kind kind = Kind::Other;
  char character = 0;  // for Insert
};

// What a key-down of a Mac virtual key code does to a text line.
KeyEffect keyEffect(uint16_t keyCode, uint64_t modifierFlags);

// Banner texts.
std::string keyName(uint16_t keyCode);
std::string usageName(uint32_t page, uint32_t usage);
std::string buttonName(uint32_t code);

}  // namespace platform::virtual_sim
