// Loading CoreSimulator and SimulatorKit, once each per process.
#include <dlfcn.h>
#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "bridge/platform/log.h"
#include "bridge/simruntime/device_traits.h"
#include "bridge/simruntime/sim_runtime.h"

namespace {

// Both images bind every symbol at once and make them visible to later lookups. The
// handles are not kept: the HID client registry opens SimulatorKit again for its own.
constexpr int kFrameworkOpenMode = RTLD_NOW | RTLD_GLOBAL;

// Load state, all command thread only. An attempted flag is set before its attempt and
// never cleared (outside tests), so a failed load is final and is not logged again.
bool g_coreSimLoaded = false;  // a CoreSimulator load has been attempted
bool g_coreSimOk = false;      // ...and it succeeded
bool g_simKitLoaded = false;   // a SimulatorKit load has been attempted
bool g_simKitOk = false;       // ...and it succeeded
std::optional<std::string> g_simKitPathCache;  // fixed by the first simKitFrameworkPath
std::string g_developerDirTool = kXcodeSelectPath;  // replaced only by tests

bool pathExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// Appends a path component the way Foundation does: exactly one slash between the two.
std::string appendingPathComponent(const std::string& base, const std::string& component) {
  if (base.empty()) return component;
  if (base.back() == '/') return base + component;
  return base + "/" + component;
}

// The directory that holds `dir`, with Foundation's rules for non-empty paths: trailing
// slashes are ignored, the root is its own parent, and a bare name has the empty parent.
// An empty developer directory (the tool printed nothing) stands for the root: its first
// SimulatorKit candidate is already "/Library/...", so its parent is taken as "/" as
// well, which keeps the second candidate absolute instead of resolving against the
// bridge's working directory.
std::string parentDirectory(const std::string& dir) {
  if (dir.empty()) return "/";
  size_t end = dir.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  size_t slash = dir.rfind('/', end);
  if (slash == std::string::npos) return "";
  size_t parentEnd = dir.find_last_not_of('/', slash);
  if (parentEnd == std::string::npos) return "/";
  return dir.substr(0, parentEnd + 1);
}

// The developer directory whose first SimulatorKit candidate `simKitPath` is, when that
// directory is the Command Line Tools (what xcode-select names on a Mac that has only
// them, or once `xcode-select -s` chose them): they have no SimulatorKit, no Simulator.
std::optional<std::string> commandLineToolsOf(const std::string& simKitPath) {
  const std::string suffix = _simKitCandidates("")[0];  // the first candidate of the empty directory
  if (!simKitPath.ends_with(suffix)) return std::nullopt;
  std::string developerDir = simKitPath.substr(0, simKitPath.size() - suffix.size());
  while (developerDir.ends_with("/")) developerDir.pop_back();
  if (developerDir != "CommandLineTools" && !developerDir.ends_with("/CommandLineTools")) return std::nullopt;
  return developerDir;
}

}  // namespace

std::array<std::string, 2> _simKitCandidates(const std::string& developerDir) {
  return {developerDir + "/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit",
          appendingPathComponent(parentDirectory(developerDir),
                                 "SharedFrameworks/SimulatorKit.framework/SimulatorKit")};
}

std::string xcodeDevDir() { return xcodeDevDirFromTool(g_developerDirTool); }

std::string simKitFrameworkPath() {
  if (g_simKitPathCache) return *g_simKitPathCache;
  auto candidates = _simKitCandidates(xcodeDevDir());
  // The first candidate also when neither exists: the load then fails and names it.
  std::string chosen = candidates[0];
  if (!pathExists(candidates[0]) && pathExists(candidates[1])) chosen = candidates[1];
  g_simKitPathCache = chosen;
  return chosen;
}

bool _ensureCoreSimAttempted() {
  if (g_coreSimLoaded) return g_coreSimOk;
  g_coreSimLoaded = true;
  g_coreSimOk = platform::simulatorPlatform().openImage(kCoreSimulatorPath, kFrameworkOpenMode) != nullptr;
  if (g_coreSimOk) {
    bridgeLog("[CoreSim] Loaded CoreSimulator");
  } else {
    bridgeLog("[CoreSim] Failed to load CoreSimulator from %@", kCoreSimulatorPath);
  }
  return g_coreSimOk;
}

bool ensureSimKitLoaded() {
  if (g_simKitLoaded) return g_simKitOk;
  g_simKitLoaded = true;
  _ensureCoreSimAttempted();  // SimulatorKit is tried whatever CoreSimulator did
  std::string path = simKitFrameworkPath();
  g_simKitOk = platform::simulatorPlatform().openImage(path, kFrameworkOpenMode) != nullptr;
  if (g_simKitOk) {
    bridgeLog("[SimKit] Loaded SimulatorKit");
  } else {
    bridgeLog("[SimKit] Failed to load SimulatorKit from %@", path.c_str());
    // Said once, with the first failure: the load is never tried again.
    if (std::optional<std::string> tools = commandLineToolsOf(path)) {
      bridgeLog("[SimKit] The developer directory %@ is the Command Line Tools, which have no SimulatorKit: "
                "install Xcode and select it with: sudo xcode-select -s /Applications/Xcode.app",
                tools->c_str());
    }
  }
  return g_simKitOk;
}

void setDeveloperDirToolForTesting(const std::string& toolPath) { g_developerDirTool = toolPath; }

void resetSimRuntimeForTesting() {
  g_coreSimLoaded = false;
  g_coreSimOk = false;
  g_simKitLoaded = false;
  g_simKitOk = false;
  g_simKitPathCache.reset();
  g_developerDirTool = kXcodeSelectPath;
  _resetDeviceTraits();
}
