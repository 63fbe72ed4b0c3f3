#!/usr/bin/env bash
# Builds every Apple platform source on Linux with clang against GNUstep's Foundation
# and the declarations in bridge/platform/apple_sdk_linux (build-apple/), then runs the
# Apple simulator platform over the Objective-C stand-ins of its frameworks: the
# simulator-facing tests' Apple instances and the stand-in fault tests. Then the same
# tests under AddressSanitizer+UndefinedBehaviorSanitizer (build-apple-asan/) and
# ThreadSanitizer (build-apple-tsan/), with suppressions for what GCC's Objective-C
# runtime and GNUstep do inside themselves (tests/apple_standins/*.supp).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh apple

# The Apple instances of the parametrised tests (the virtual ones run in the main
# suite) and every test of the stand-ins; the sanitizer trees build only these.
export GTEST_FILTER='*/apple:AppleSimulatorFaults.*:AppleBridgeFaults.*'
tests='apple_standins\.|virtual_device_traits|end_to_end'
targets=(corvane-sim-bridge corvane-sim-bridge-apple apple_standins_apple_simulator_faults_test
  simruntime_virtual_device_traits_test capture_capture_end_to_end_test input_input_end_to_end_test
  input_input_picture_end_to_end_test)
supp=$PWD/tests/apple_standins

source scripts/sanitized-ctest.sh

run_tree() {
  local dir=$1 sanitize=$2
  shift 2
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_APPLE_ON_LINUX=ON \
    -DCORVANE_SANITIZE="$sanitize" -DCORVANE_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)" "$@"
  echo "== Apple platform tests on Linux${sanitize:+ under $sanitize sanitizer} =="
  # Whole stacks for the leak check, so that the suppressions match only the
  # Objective-C runtime's own allocations.
  LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
    sanitized_ctest "$supp/tsan.supp" "fast_unwind_on_malloc=0" \
    --test-dir "$dir" --output-on-failure -j"$(nproc)" -R "$tests"
}

run_tree build-apple ""
run_tree build-apple-asan address --target "${targets[@]}"
run_tree build-apple-tsan thread --target "${targets[@]}"
