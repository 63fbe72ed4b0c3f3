#!/usr/bin/env bash
# Builds and runs the test suite under AddressSanitizer+UndefinedBehaviorSanitizer
# (build-asan/) and under ThreadSanitizer (build-tsan/). Fails on any test failure and
# on any sanitizer report, including reports from the bridge processes that the
# end-to-end tests start (every report is written to a log directory that must stay empty).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

run_tree() {
  local kind=$1 dir=$2
  local reports
  reports=$(mktemp -d)
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE="$kind" \
    -DCORVANE_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  echo "== test suite under $kind sanitizer =="
  local status=0
  ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$reports/asan" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan" \
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "== $kind sanitizer reports ==" >&2
    cat "$reports"/* >&2
    status=1
  fi
  rm -rf "$reports"
  return $status
}

run_tree address build-asan
run_tree thread build-tsan
