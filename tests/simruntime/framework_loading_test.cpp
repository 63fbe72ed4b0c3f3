#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "bridge/simruntime/sim_runtime.h"
#include "tests/simruntime/sim_runtime_fixture.h"

namespace {

using simruntime_test::SimRuntimeTest;
using Lines = std::vector<std::string>;

constexpr const char* kPrivateSimKit = "/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit";
constexpr const char* kSharedSimKit = "SharedFrameworks/SimulatorKit.framework/SimulatorKit";

TEST(SimKitCandidates, FollowTheDeveloperDirectoryAndItsParent) {
  auto defaults = _simKitCandidates(kDefaultDeveloperDir);
  EXPECT_EQ(defaults[0],
            "/Applications/Xcode.app/Contents/Developer/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit");
  EXPECT_EQ(defaults[1], "/Applications/Xcode.app/Contents/SharedFrameworks/SimulatorKit.framework/SimulatorKit");

  // An empty directory stands for the root, so both candidates stay absolute.
  auto empty = _simKitCandidates("");
  EXPECT_EQ(empty[0], kPrivateSimKit);
  EXPECT_EQ(empty[1], "/SharedFrameworks/SimulatorKit.framework/SimulatorKit");

  EXPECT_EQ(_simKitCandidates("/opt/Xcode/Developer/")[1], "/opt/Xcode/SharedFrameworks/SimulatorKit.framework/SimulatorKit");
  EXPECT_EQ(_simKitCandidates("/Developer")[1], "/SharedFrameworks/SimulatorKit.framework/SimulatorKit");
  EXPECT_EQ(_simKitCandidates("/")[1], "/SharedFrameworks/SimulatorKit.framework/SimulatorKit");
}

TEST_F(SimRuntimeTest, DefaultDirectoryWithANewlineGivesTheFirstCandidateWhenNothingExists) {
  // Neither candidate exists here: the first one is chosen and kept.
  EXPECT_EQ(simKitFrameworkPath(),
            "/Applications/Xcode.app/Contents/Developer/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit");
  EXPECT_FALSE(ensureSimKitLoaded());
  EXPECT_EQ(fake.openedPaths.back(),
            "/Applications/Xcode.app/Contents/Developer/Library/PrivateFrameworks/SimulatorKit.framework/SimulatorKit");
  EXPECT_EQ(log.count("[SimKit] Failed to load SimulatorKit from "
                      "/Applications/Xcode.app/Contents/Developer/Library/PrivateFrameworks/"
                      "SimulatorKit.framework/SimulatorKit"),
            1u);
}

TEST_F(SimRuntimeTest, EmptyToolOutputPutsTheRootFrameworkFirst) {
  useTool("exit 0");
  EXPECT_EQ(simKitFrameworkPath(), kPrivateSimKit);
}

TEST_F(SimRuntimeTest, FirstExistingCandidateIsChosenAndKept) {
  std::string developer = scratch.path() + "/Xcode.app/Contents/Developer";
  std::string shared = scratch.touch(std::string("Xcode.app/Contents/") + kSharedSimKit);
  useTool("printf '%s\\n' '" + developer + "'");
  EXPECT_EQ(simKitFrameworkPath(), shared);

  // Once chosen, the path stays, even when the first candidate appears later and the
  // tool names another directory.
  scratch.touch(std::string("Xcode.app/Contents/Developer") + kPrivateSimKit);
  useTool("printf '/elsewhere\\n'");
  EXPECT_EQ(simKitFrameworkPath(), shared);
}

TEST_F(SimRuntimeTest, FirstCandidateWinsWhenBothExist) {
  std::string first = scratch.touch(std::string("Contents/Developer") + kPrivateSimKit);
  scratch.touch(std::string("Contents/") + kSharedSimKit);
  useTool("printf '%s\\n' '" + scratch.path() + "/Contents/Developer'");
  EXPECT_EQ(simKitFrameworkPath(), first);
}

TEST_F(SimRuntimeTest, SuccessfulLoadsAreMadeOnceWithImmediateGlobalBinding) {
  allowCoreSimulator();
  fake.allowImage(simKitFrameworkPath());
  EXPECT_TRUE(ensureSimKitLoaded());
  EXPECT_EQ(log.lines(), (Lines{"[CoreSim] Loaded CoreSimulator", "[SimKit] Loaded SimulatorKit"}));
  EXPECT_EQ(fake.openedPaths, (Lines{testing_support::kCoreSimulatorImagePath, simKitFrameworkPath()}));
  EXPECT_EQ(fake.openModes, (std::vector<int>{RTLD_NOW | RTLD_GLOBAL, RTLD_NOW | RTLD_GLOBAL}));

  log.clear();
  EXPECT_TRUE(ensureSimKitLoaded());
  EXPECT_TRUE(ensureSimKitLoaded());
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(fake.openedPaths.size(), 2u);
}

TEST_F(SimRuntimeTest, FailedSimulatorKitLoadIsFinalAndSilent) {
  allowCoreSimulator();
  EXPECT_FALSE(ensureSimKitLoaded());
  EXPECT_EQ(log.count("[SimKit] Failed to load SimulatorKit from " + simKitFrameworkPath()), 1u);

  // Even once the image could be opened, no new attempt is made.
  fake.allowImage(simKitFrameworkPath());
  log.clear();
  EXPECT_FALSE(ensureSimKitLoaded());
  EXPECT_FALSE(ensureSimKitLoaded());
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(fake.openedPaths.size(), 2u);
}

TEST_F(SimRuntimeTest, FailedCoreSimulatorLoadLogsOnceAndSimulatorKitIsStillTried) {
  fake.allowImage(simKitFrameworkPath());
  EXPECT_TRUE(ensureSimKitLoaded());
  EXPECT_EQ(log.lines(), (Lines{"[CoreSim] Failed to load CoreSimulator from "
                                "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator",
                                "[SimKit] Loaded SimulatorKit"}));

  // Later lookups find nothing, silently, and never retry the load.
  log.clear();
  allowCoreSimulator();
  fake.addDevice(testing_support::FakeDevice::make("AAAA"));
  EXPECT_EQ(findSimDevice("AAAA"), nullptr);
  EXPECT_EQ(findSimDevice("AAAA"), nullptr);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(fake.classLookups.empty());
  EXPECT_EQ(fake.openedPaths.size(), 2u);
}

TEST_F(SimRuntimeTest, LookupMakesTheCoreSimulatorLoadWhenItComesFirst) {
  EXPECT_EQ(findSimDevice("AAAA"), nullptr);
  EXPECT_EQ(log.lines(), (Lines{"[CoreSim] Failed to load CoreSimulator from "
                                "/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator"}));
  // ensureSimKitLoaded does not try CoreSimulator again.
  log.clear();
  EXPECT_FALSE(ensureSimKitLoaded());
  EXPECT_EQ(log.lines(), (Lines{"[SimKit] Failed to load SimulatorKit from " + simKitFrameworkPath()}));
  EXPECT_EQ(fake.openedPaths, (Lines{testing_support::kCoreSimulatorImagePath, simKitFrameworkPath()}));
}

}  // namespace

TEST_F(SimRuntimeTest, CommandLineToolsAreNamedOnceWithTheFailedLoadAndTheResultIsUnchanged) {
  const std::string tools = "/Library/Developer/CommandLineTools";
  const std::string hint = "[SimKit] The developer directory " + tools +
                           " is the Command Line Tools, which have no SimulatorKit: install Xcode and select it "
                           "with: sudo xcode-select -s /Applications/Xcode.app";
  for (const std::string& printed : {tools, tools + "/"}) {
    resetSimRuntimeForTesting();
    useTool("printf '%s\\n' '" + printed + "'");
    allowCoreSimulator();
    log.clear();
    EXPECT_FALSE(ensureSimKitLoaded());
    EXPECT_FALSE(ensureSimKitLoaded());
    EXPECT_EQ(log.lines(), (Lines{"[CoreSim] Loaded CoreSimulator",
                                  "[SimKit] Failed to load SimulatorKit from " + printed + kPrivateSimKit, hint}));
  }
  // A directory that only ends in the same letters is not the Command Line Tools.
  resetSimRuntimeForTesting();
  useTool("printf '/opt/MyCommandLineTools\\n'");
  log.clear();
  EXPECT_FALSE(ensureSimKitLoaded());
  EXPECT_EQ(log.count(hint), 0u);
  EXPECT_EQ(log.lines().size(), 2u);
}
