// Developer directory, framework loading and device lookup.
//
// Before the bridge can touch a simulated device it finds the active developer
// directory, loads CoreSimulator and SimulatorKit once per process through the simulator
// platform, and turns a command's UDID into a SimDevice.
//
// Threads: every function here is called on the command thread only, and may block
// while "/usr/bin/xcode-select" runs (xcodeDevDir, simKitFrameworkPath on its first
// call, findSimDevice on every call). The load flags and the path cache are plain
// process-wide values without a lock: they belong to the command thread.
//
// Each framework load is attempted at most once per process and a failed load is final;
// the lookup itself is made afresh on every call.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "bridge/platform/simulator_platform.h"

// The active developer directory, from "/usr/bin/xcode-select -p". Not cached.
std::string xcodeDevDir();
// The SimulatorKit image to load, chosen once and cached.
std::string simKitFrameworkPath();
// True when SimulatorKit is loaded; makes the one CoreSimulator attempt too.
bool ensureSimKitLoaded();
// The device whose UDID matches (case-insensitively), or null.
platform::SimDeviceRef findSimDevice(const std::string& udid);

// --- Internals, declared for the subsystem's own files and for tests ------------------

inline constexpr const char* kXcodeSelectPath = "/usr/bin/xcode-select";
inline constexpr const char* kDefaultDeveloperDir = "/Applications/Xcode.app/Contents/Developer";
inline constexpr const char* kCoreSimulatorPath =
    "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator";

// Runs `toolPath -p` as a child process and returns its standard output as the developer
// directory: the default directory when the output is not valid UTF-8, otherwise the
// output without surrounding white space and line breaks (empty output gives ""). A tool
// that cannot be started counts as one that printed nothing. Blocks until the child has
// closed its output and exited. Any thread.
std::string xcodeDevDirFromTool(const std::string& toolPath);

// Strict UTF-8 check: no overlong forms, surrogates, or code points past U+10FFFF.
bool _isValidUtf8(std::string_view bytes);
// Removes Unicode white space and line breaks from both ends of valid UTF-8 text.
std::string _trimWhitespaceAndNewlines(std::string_view text);

// The two SimulatorKit candidates for a developer directory, in order of preference.
std::array<std::string, 2> _simKitCandidates(const std::string& developerDir);

// Makes the one CoreSimulator load if it has not been attempted yet; returns whether
// CoreSimulator is loaded. Command thread only.
bool _ensureCoreSimAttempted();

// Points xcodeDevDir at another tool (a test script). Command thread only.
void setDeveloperDirToolForTesting(const std::string& toolPath);

// Forgets every load attempt, the SimulatorKit path, the Apple TV answers and any tool
// override, as at process start. Tests only; command thread only.
void resetSimRuntimeForTesting();
