// The four input commands: "touch", "keyboard", "hw_button" and "button".
//
// Each reads its fields, calls the injection entries and writes one response. They run
// on the command thread; a press-and-release pair waits between its two events on that
// thread (0.04 s remote, 0.05 s hardware, 0.015 s key), so no other command runs in
// between. Values outside a field's range (a "type" beyond signed 32 bits, a "keyboard"
// "keyCode" outside 0..65535, "hw_button" values outside 0..4294967295) answer the
// command's "missing required field(s)" message and nothing is sent.
#pragma once

#include <functional>

#include <nlohmann/json.hpp>

// Hold times between a press and its release, in seconds.
inline constexpr double kRemoteHoldSeconds = 0.04;
inline constexpr double kHardwareHoldSeconds = 0.05;
inline constexpr double kKeyHoldSeconds = 0.015;

void handleTouch(const nlohmann::json& request);
void handleKeyboard(const nlohmann::json& request);
void handleHwButton(const nlohmann::json& request);
void handleButton(const nlohmann::json& request);

// Test seam: the hold between press and release goes through this sleeper, called on
// the command thread with the hold time in seconds. Tests install one that records the
// waits (and the order relative to the injection calls) instead of sleeping. Pass an
// empty function to restore real sleeping. Call only while no command runs.
void setHoldSleeperForTesting(std::function<void(double seconds)> sleeper);
