// A scriptable fake of the simulator platform for unit tests. It records what was called
// and can be told to fail, raise or return nothing at each step. Further fake objects
// (I/O clients, displays, HID clients) live in files of their own beside this one and
// are registered through `classes`.
//
// Use: construct a FakeSimulatorPlatform, script it, then hold a ScopedSimulatorPlatform
// to install it as the process-wide instance for the test.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/platform/simulator_platform.h"

namespace testing_support {

inline constexpr const char* kCoreSimulatorImagePath =
    "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator";

class FakeDeviceType : public platform::SimDeviceType {
 public:
  explicit FakeDeviceType(int32_t family) : family(family) {}
  bool respondsToProductFamilyID() const override { return respondsToFamily; }
  int32_t productFamilyID() override;

  int32_t family;
  bool respondsToFamily = true;
  std::optional<std::string> throwReason;  // productFamilyID raises with it
};

class FakeDevice : public platform::SimDevice {
 public:
  explicit FakeDevice(std::optional<std::string> udid, int32_t family = 1);
  static std::shared_ptr<FakeDevice> make(const std::string& udid, int32_t family = 1) {
    return std::make_shared<FakeDevice>(udid, family);
  }

  std::optional<std::string> udidString() override { return udid; }
  std::shared_ptr<platform::SimDeviceType> deviceType() override;
  bool respondsToSetHardwareKeyboardEnabled() const override { return respondsToKeyboard; }
  bool setHardwareKeyboardEnabled(bool enabled, uint32_t keyboardType, platform::SimErrorRef* error) override;
  std::string description() const override { return "<FakeDevice " + udid.value_or("?") + ">"; }

  std::optional<std::string> udid;
  std::shared_ptr<FakeDeviceType> type;     // null: no device type
  std::optional<std::string> deviceTypeThrows;
  bool respondsToKeyboard = true;
  bool keyboardResult = true;
  platform::SimErrorRef keyboardError;
  int keyboardCalls = 0;
  uint32_t lastKeyboardType = 99;
  bool lastKeyboardEnabled = false;
};

class FakeDeviceSet : public platform::SimDeviceSet {
 public:
  std::optional<std::vector<platform::SimDeviceRef>> devices() override { return deviceList; }
  std::optional<std::vector<platform::SimDeviceRef>> deviceList = std::vector<platform::SimDeviceRef>{};
};

class FakeServiceContext : public platform::SimServiceContext {
 public:
  std::shared_ptr<platform::SimDeviceSet> defaultDeviceSet() override { return deviceSet; }
  std::shared_ptr<FakeDeviceSet> deviceSet = std::make_shared<FakeDeviceSet>();
};

class FakeServiceContextClass : public platform::SimServiceContextClass {
 public:
  std::string name() const override { return "SimServiceContext"; }
  std::shared_ptr<platform::SimServiceContext> sharedServiceContextForDeveloperDir(const std::string& dir) override;

  std::shared_ptr<FakeServiceContext> context = std::make_shared<FakeServiceContext>();
  std::vector<std::string> developerDirs;  // one per call
};

class FakeSimulatorPlatform : public platform::SimulatorPlatform {
 public:
  FakeSimulatorPlatform();

  void* openImage(const std::string& path, int mode) override;
  void* lookupSymbol(void* image, const std::string& symbol) override;
  platform::SimClassRef classNamed(const std::string& name) override;
  platform::KeyEventRef keyEvent(int64_t type, double locationX, double locationY, uint64_t modifierFlags,
                                 double timestamp, int64_t windowNumber, const void* context,
                                 const std::string& characters, const std::string& charactersIgnoringModifiers,
                                 bool isARepeat, uint16_t keyCode) override;

  // Scripting helpers.
  // Makes `path` openable; returns its handle.
  void* allowImage(const std::string& path);
  void addSymbol(const std::string& path, const std::string& symbol, void* address);
  void addClass(platform::SimClassRef cls) { classes[cls->name()] = std::move(cls); }
  // Appends a device to the service context's device set.
  void addDevice(platform::SimDeviceRef device);

  // Everything below is plain state for the test thread, guarded by `lock` where the
  // code under test may call in from another thread.
  std::mutex lock;
  std::map<std::string, int> images;                       // openable path -> handle id
  std::map<std::string, std::map<std::string, void*>> symbols;  // path -> symbol -> address
  std::map<std::string, platform::SimClassRef> classes;
  std::vector<std::string> openedPaths;                    // every openImage call
  std::vector<int> openModes;
  std::vector<std::string> classLookups;                   // every classNamed call
  bool keyEventFails = false;
  std::vector<platform::KeyEvent> keyEvents;               // every event made
  std::shared_ptr<FakeServiceContextClass> serviceContextClass = std::make_shared<FakeServiceContextClass>();

 private:
  std::vector<std::unique_ptr<int>> handles_;  // stable addresses used as image handles
};

// Installs a platform as the process-wide simulator platform for the scope.
class ScopedSimulatorPlatform {
 public:
  explicit ScopedSimulatorPlatform(platform::SimulatorPlatform& platform) { platform::installSimulatorPlatform(&platform); }
  ~ScopedSimulatorPlatform() { platform::installSimulatorPlatform(nullptr); }
};

}  // namespace testing_support
