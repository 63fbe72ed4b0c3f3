#include "bridge/control/button_names.h"

#include <array>
#include <utility>

namespace {

// macOS virtual key codes; no entry carries modifiers.
constexpr std::array<std::pair<std::string_view, uint16_t>, 8> kKeyTable{{
    {"up", 126},        // Up Arrow
    {"down", 125},      // Down Arrow
    {"left", 123},      // Left Arrow
    {"right", 124},     // Right Arrow
    {"select", 36},     // Return
    {"menu", 53},       // Escape
    {"playpause", 49},  // Space
    {"home", 115},      // Home
}};

// Consumer-page usages, named as in the HID Usage Tables.
constexpr std::array<std::pair<std::string_view, uint32_t>, 8> kRemoteTable{{
    {"menu", 0x40},       // Menu
    {"select", 0x41},     // Menu Pick
    {"up", 0x42},         // Menu Up
    {"down", 0x43},       // Menu Down
    {"left", 0x44},       // Menu Left
    {"right", 0x45},      // Menu Right
    {"home", 0x30},       // Power
    {"playpause", 0xCD},  // Play/Pause
}};

template <typename Table>
auto lookup(const Table& table, std::string_view name)
    -> std::optional<typename Table::value_type::second_type> {
  for (const auto& [entryName, value] : table) {
    if (entryName == name) return value;
  }
  return std::nullopt;
}

}  // namespace

std::optional<KeyMapping> buttonToKey(std::string_view name) {
  auto keyCode = lookup(kKeyTable, name);
  if (!keyCode) return std::nullopt;
  return KeyMapping{*keyCode, 0};
}

std::optional<uint32_t> remoteButtonToUsage(std::string_view name) { return lookup(kRemoteTable, name); }
