#include "tests/support/fake_simulator_platform.h"

#include <cstddef>

namespace testing_support {

int32_t FakeDeviceType::productFamilyID() {
  if (throwReason) throw platform::SimException(*throwReason);
  return family;
}

FakeDevice::FakeDevice(std::optional<std::string> udid, int32_t family)
    : udid(std::move(udid)), type(std::make_shared<FakeDeviceType>(family)) {}

std::shared_ptr<platform::SimDeviceType> FakeDevice::deviceType() {
  if (deviceTypeThrows) throw platform::SimException(*deviceTypeThrows);
  return type;
}

bool FakeDevice::setHardwareKeyboardEnabled(bool enabled, uint32_t keyboardType, platform::SimErrorRef* error) {
  ++keyboardCalls;
  lastKeyboardEnabled = enabled;
  lastKeyboardType = keyboardType;
  if (error != nullptr) *error = keyboardError;
  return keyboardResult;
}

std::shared_ptr<platform::SimServiceContext> FakeServiceContextClass::sharedServiceContextForDeveloperDir(
    const std::string& dir) {
  developerDirs.push_back(dir);
  return context;
}

FakeSimulatorPlatform::FakeSimulatorPlatform() {
  addClass(serviceContextClass);
}

void* FakeSimulatorPlatform::openImage(const std::string& path, int mode) {
  std::lock_guard<std::mutex> hold(lock);
  openedPaths.push_back(path);
  openModes.push_back(mode);
  auto it = images.find(path);
  if (it == images.end()) return nullptr;
  return handles_[static_cast<size_t>(it->second)].get();
}

void* FakeSimulatorPlatform::lookupSymbol(void* image, const std::string& symbol) {
  std::lock_guard<std::mutex> hold(lock);
  for (const auto& [path, id] : images) {
    if (handles_[static_cast<size_t>(id)].get() != image) continue;
    auto table = symbols.find(path);
    if (table == symbols.end()) return nullptr;
    auto entry = table->second.find(symbol);
    return entry == table->second.end() ? nullptr : entry->second;
  }
  return nullptr;
}

platform::SimClassRef FakeSimulatorPlatform::classNamed(const std::string& name) {
  std::lock_guard<std::mutex> hold(lock);
  classLookups.push_back(name);
  auto it = classes.find(name);
  return it == classes.end() ? nullptr : it->second;
}

platform::KeyEventRef FakeSimulatorPlatform::keyEvent(int64_t type, double locationX, double locationY,
                                                      uint64_t modifierFlags, double timestamp,
                                                      int64_t windowNumber, const void* context,
                                                      const std::string& characters,
                                                      const std::string& charactersIgnoringModifiers,
                                                      bool isARepeat, uint16_t keyCode) {
  std::lock_guard<std::mutex> hold(lock);
  if (keyEventFails) return nullptr;
  auto event = std::make_shared<platform::KeyEvent>(platform::KeyEvent{
      type, locationX, locationY, modifierFlags, timestamp, windowNumber, context, characters,
      charactersIgnoringModifiers, isARepeat, keyCode});
  keyEvents.push_back(*event);
  return event;
}

void* FakeSimulatorPlatform::allowImage(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock);
  auto it = images.find(path);
  if (it != images.end()) return handles_[static_cast<size_t>(it->second)].get();
  handles_.push_back(std::make_unique<int>(static_cast<int>(handles_.size())));
  images[path] = static_cast<int>(handles_.size() - 1);
  return handles_.back().get();
}

void FakeSimulatorPlatform::addSymbol(const std::string& path, const std::string& symbol, void* address) {
  allowImage(path);
  std::lock_guard<std::mutex> hold(lock);
  symbols[path][symbol] = address;
}

void FakeSimulatorPlatform::addDevice(platform::SimDeviceRef device) {
  serviceContextClass->context->deviceSet->deviceList->push_back(std::move(device));
}

}  // namespace testing_support
