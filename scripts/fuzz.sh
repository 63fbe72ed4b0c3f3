#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one for a
# bounded time over a scratch copy of its seed corpus (fuzz/corpus/<target>/; the
# checked-in corpus is never written). Fails when any target reports a crash, a
# sanitizer finding, a failed check (abort), a leak, a time-out or running out of memory.
# The input that triggered a failure is kept under build-fuzz/artifacts/.
#
# Usage: scripts/fuzz.sh [seconds per target]
# The time per target is the argument, else $CORVANE_FUZZ_SECONDS, else 60.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${CORVANE_FUZZ_SECONDS:-60}}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: seconds per target must be a positive whole number, not '$seconds'" >&2
  exit 2
fi

scripts/install-deps.sh fuzz

targets=()
for corpus in fuzz/corpus/*/; do
  targets+=("$(basename "$corpus")")
done

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_FUZZ=ON \
  -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

artifacts=build-fuzz/artifacts
mkdir -p "$artifacts"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Each target runs single-threaded, so as many run side by side as there are cores.
fuzz_one() {
  local target=$1
  cp -r "fuzz/corpus/$target" "$scratch/$target"
  local status=0
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$scratch/$target" \
    >"$scratch/$target.log" 2>&1 || status=$?
  echo "$status" >"$scratch/$target.status"
}

slots=$(nproc)
running=0
for target in "${targets[@]}"; do
  if ((running >= slots)); then
    wait -n || true
    running=$((running - 1))
  fi
  echo "== fuzzing $target for ${seconds} s =="
  fuzz_one "$target" &
  running=$((running + 1))
done
wait

failed=()
for target in "${targets[@]}"; do
  log="$scratch/$target.log"
  status=$(cat "$scratch/$target.status" 2>/dev/null || echo 1)
  if ((status != 0)); then
    echo "== $target FAILED (exit $status) ==" >&2
    tail -n 60 "$log" >&2
    failed+=("$target")
  else
    echo "== $target =="
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || true
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  fi
done

if ((${#failed[@]} > 0)); then
  echo "fuzz.sh: failed: ${failed[*]} (inputs under $artifacts/)" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran ${seconds} s each without a finding"
