#include "tests/support/apple_standins/standin_support.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <vector>

#include "bridge/platform/virtual_simulator/virtual_simulator.h"

namespace standin {
namespace {

// The virtual simulator opens any path that ends in its framework's name.
constexpr const char* kBackingCoreSimulator = "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator";
constexpr const char* kBackingSimulatorKit = "/standin/SimulatorKit.framework/SimulatorKit";

std::mutex g_faultsLock;
std::vector<std::string>* g_faults = nullptr;  // guarded by g_faultsLock; read from the environment on first use

std::vector<std::string> parseFaults(const std::string& list) {
  std::vector<std::string> faults;
  std::stringstream stream(list);
  for (std::string fault; std::getline(stream, fault, ',');)
    if (!fault.empty()) faults.push_back(fault);
  return faults;
}

}  // namespace

bool catchingSimException(const std::function<void()>& body, std::string& reason) {
  try {
    body();
    return true;
  } catch (const platform::SimException& raised) {
    reason = raised.reason();
    return false;
  }
}

template <typename Kind>
std::shared_ptr<Kind> backingClass(const std::string& name) {
  auto& backing = platform::virtualSimulatorPlatform();
  backing.openImage(kBackingCoreSimulator, RTLD_NOW);
  backing.openImage(kBackingSimulatorKit, RTLD_NOW);
  return std::dynamic_pointer_cast<Kind>(backing.classNamed(name));
}
template std::shared_ptr<platform::SimServiceContextClass> backingClass(const std::string&);
template std::shared_ptr<platform::SimIOClientClass> backingClass(const std::string&);
template std::shared_ptr<platform::SimHIDClientClass> backingClass(const std::string&);

void* backingSimulatorKit() { return platform::virtualSimulatorPlatform().openImage(kBackingSimulatorKit, RTLD_NOW); }

bool faultSet(std::string_view fault) {
  std::lock_guard<std::mutex> hold(g_faultsLock);
  if (g_faults == nullptr) {
    const char* list = std::getenv("CORVANE_STANDIN_FAULTS");
    g_faults = new std::vector<std::string>(parseFaults(list != nullptr ? list : ""));
  }
  for (const auto& set : *g_faults)
    if (set == fault) return true;
  return false;
}

void setFaultsForTesting(const std::string& faults) {
  std::lock_guard<std::mutex> hold(g_faultsLock);
  delete g_faults;
  g_faults = new std::vector<std::string>(parseFaults(faults));
}

}  // namespace standin
