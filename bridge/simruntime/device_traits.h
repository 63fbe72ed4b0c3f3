// Device traits: product family, Apple TV test, button target, hardware keyboard.
// Command thread only.
#pragma once

#include <cstdint>
#include <string>

#include "bridge/platform/simulator_platform.h"

int32_t SHProductFamilyID(const platform::SimDeviceRef& device);
bool isAppleTV(const std::string& udid);
uint32_t buttonTargetForDevice(const std::string& udid);
void SHEnableHardwareKeyboard(const platform::SimDeviceRef& device);
