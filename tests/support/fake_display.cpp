#include "tests/support/fake_display.h"

namespace testing_support {

platform::SurfaceRef FakeDisplayDescriptor::framebufferSurface() {
  surfaceCalls.fetch_add(1);
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> hold(lock_);
    hook = onSurfaceCall_;
  }
  if (hook) hook();
  std::lock_guard<std::mutex> hold(lock_);
  if (surfaceThrows_) throw platform::SimException(*surfaceThrows_);
  return surface_;
}

std::optional<platform::SimScreenProperties> FakeDisplayDescriptor::screenProperties() {
  std::lock_guard<std::mutex> hold(lock_);
  if (propertiesThrows_) throw platform::SimException(*propertiesThrows_);
  return properties_;
}

void FakeDisplayDescriptor::setOnSurfaceCall(std::function<void()> hook) {
  std::lock_guard<std::mutex> hold(lock_);
  onSurfaceCall_ = std::move(hook);
}

void FakeDisplayDescriptor::setSurface(platform::SurfaceRef surface) {
  std::lock_guard<std::mutex> hold(lock_);
  surface_ = std::move(surface);
}

void FakeDisplayDescriptor::setSurfaceThrows(std::optional<std::string> reason) {
  std::lock_guard<std::mutex> hold(lock_);
  surfaceThrows_ = std::move(reason);
}

void FakeDisplayDescriptor::setScreenProperties(std::optional<platform::SimScreenProperties> properties) {
  std::lock_guard<std::mutex> hold(lock_);
  properties_ = properties;
}

void FakeDisplayDescriptor::setScreenPropertiesThrows(std::optional<std::string> reason) {
  std::lock_guard<std::mutex> hold(lock_);
  propertiesThrows_ = std::move(reason);
}

std::string FakeIOPort::portIdentifier() {
  if (identifierThrows) throw platform::SimException(*identifierThrows);
  return identifier;
}

platform::SimDisplayDescriptorRef FakeIOPort::descriptor() {
  if (descriptorThrows) throw platform::SimException(*descriptorThrows);
  return descriptorValue;
}

std::vector<platform::SimIOPortRef> FakeIOClient::ioPorts() { return ports_; }

platform::SimIOClientRef FakeIOClientClass::initWithDevice(const platform::SimDeviceRef& device,
                                                           platform::GlobalQueue& errorQueue,
                                                           std::function<void(platform::SimErrorRef)> errorHandler) {
  std::lock_guard<std::mutex> hold(lock_);
  ++initCalls_;
  if (returnsNull_) return nullptr;
  auto client = std::make_shared<FakeIOClient>(ports_);
  client->device = device;
  client->errorHandler = std::move(errorHandler);
  client->errorQueue = &errorQueue;
  clients_.push_back(client);
  return client;
}

void FakeIOClientClass::setPorts(std::vector<platform::SimIOPortRef> ports) {
  std::lock_guard<std::mutex> hold(lock_);
  ports_ = std::move(ports);
}

void FakeIOClientClass::setReturnsNull(bool returnsNull) {
  std::lock_guard<std::mutex> hold(lock_);
  returnsNull_ = returnsNull;
}

std::vector<std::shared_ptr<FakeIOClient>> FakeIOClientClass::clients() const {
  std::lock_guard<std::mutex> hold(lock_);
  return clients_;
}

int FakeIOClientClass::initCalls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return initCalls_;
}

}  // namespace testing_support
