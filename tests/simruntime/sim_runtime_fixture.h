// Helpers for the simulator-runtime tests: a scratch directory removed at the end, tool
// scripts written into it, and a fixture that installs a fake simulator platform and
// starts every test from fresh process-wide state.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "bridge/simruntime/sim_runtime.h"
#include "tests/support/fake_simulator_platform.h"
#include "tests/support/log_capture.h"

namespace simruntime_test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-simruntime-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }

  // Writes an executable shell script and returns its path.
  std::string script(const std::string& name, const std::string& body) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    ::chmod(file.c_str(), 0755);
    return file;
  }

  // Creates an empty file, with its parent directories, and returns its path.
  std::string touch(const std::string& relative) const {
    std::filesystem::path file = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file.string()) << "";
    return file.string();
  }

 private:
  std::string path_;
};

// A fake platform installed for the test, a log capture, and a tool script that prints
// the default developer directory.
class SimRuntimeTest : public ::testing::Test {
 protected:
  SimRuntimeTest() : installed_(fake) {
    resetSimRuntimeForTesting();
    useTool("printf '%s\\n' " + std::string(kDefaultDeveloperDir));
  }
  ~SimRuntimeTest() override { resetSimRuntimeForTesting(); }

  // Makes xcodeDevDir run a script with this body.
  void useTool(const std::string& body) { setDeveloperDirToolForTesting(scratch.script("tool-" + std::to_string(++scripts_), body)); }

  void allowCoreSimulator() { fake.allowImage(testing_support::kCoreSimulatorImagePath); }

  testing_support::FakeSimulatorPlatform fake;
  testing_support::LogCapture log;
  ScratchDir scratch;

 private:
  testing_support::ScopedSimulatorPlatform installed_;
  int scripts_ = 0;
};

}  // namespace simruntime_test
