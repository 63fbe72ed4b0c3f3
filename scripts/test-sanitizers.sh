#!/usr/bin/env bash
# Builds and runs the test suite under AddressSanitizer+UndefinedBehaviorSanitizer
# (build-asan/) and under ThreadSanitizer (build-tsan/). Fails on any test failure and
# on any sanitizer report, including reports from the bridge processes that the
# end-to-end tests start (every report is written to a log directory that must stay empty).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

source scripts/sanitized-ctest.sh

run_tree() {
  local kind=$1 dir=$2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE="$kind" \
    -DCORVANE_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  echo "== test suite under $kind sanitizer =="
  sanitized_ctest "$PWD/tests/tsan.supp" "" --test-dir "$dir" --output-on-failure -j"$(nproc)" --no-tests=error
}

run_tree address build-asan
run_tree thread build-tsan
