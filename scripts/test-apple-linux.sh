#!/usr/bin/env bash
# Builds every Apple platform source on Linux with clang against GNUstep's Foundation
# and the declarations in tests/support/apple_sdk_linux (build-apple/), then runs the
# tests labelled "apple": the Apple simulator platform over the Objective-C stand-ins of
# its frameworks (the Apple instances of the simulator-facing tests and the stand-in
# fault tests). Then the same tests under AddressSanitizer+UndefinedBehaviorSanitizer
# (build-apple-asan/) and ThreadSanitizer (build-apple-tsan/), which build only what
# those tests need (target corvane_apple_tests), with suppressions for what GCC's
# Objective-C runtime and GNUstep do inside themselves (tests/support/apple_standins/*.supp).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh apple

supp=$PWD/tests/support/apple_standins

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
    --test-dir "$dir" --output-on-failure -j"$(nproc)" -L apple --no-tests=error
}

run_tree build-apple ""
run_tree build-apple-asan address --target corvane_apple_tests
run_tree build-apple-tsan thread --target corvane_apple_tests
