#!/usr/bin/env bash
# Installs what is missing, builds the benchmark programs into build/ (RelWithDebInfo),
# runs each of them with settings that keep the whole run within a few minutes, and
# prints one table of every measurement at the end.
#
# Each program prints its own report and then machine-readable lines
#   RESULT<TAB>name<TAB>samples<TAB>value or p50<TAB>p99 or -<TAB>unit<TAB>what
# which this script collects. A program that is missing, fails to build, fails or times
# out shows up as "missing" rows; the run goes on. Exit status is non-zero only when no
# benchmark produced a result.
#
# Usage: scripts/bench.sh        (logs of each program in build/bench-logs/)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

scripts/install-deps.sh || exit 1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1

logs=build/bench-logs
mkdir -p "$logs"
results="$logs/results.tsv"
: >"$results"
started=$(date +%s)
ran=0

# program, arguments, time limit in seconds; a program may run more than once with other
# arguments (its log then carries a tag: program@tag)
programs=(
  "host_speed_bench||60"
  "roundtrip_bench|5000 3|120"
  "fanout_bench|500|120"
  "encode_bench|5 scrolling|150"
  "encode_bench@animated|5 animated|150"
  "frame_latency_bench||150"
  "input_latency_bench|60|300"
  "stream_footprint_bench|5|90"
  "stream_footprint_bench@switches|switches 60|180"
  "half_close_bench|20|60"
  "slow_client_bench|6|90"
  "virtual_device_cost_bench|3|90"
  "host_speed_bench@end|end|60"
)

cmake --build build -j2 --target corvane-sim-bridge >"$logs/build-bridge.log" 2>&1 ||
  echo "bench: building corvane-sim-bridge failed (see $logs/build-bridge.log)" >&2

for entry in "${programs[@]}"; do
  IFS='|' read -r run args limit <<<"$entry"
  name=${run%%@*}
  base="$logs/${run/@/-}"
  log="$base.log"
  if [[ ! -f bench/$name.cpp ]]; then
    echo "== $name: not in this tree, skipped" >&2
    continue
  fi
  echo "== $name $args" >&2
  if ! cmake --build build -j2 --target "$name" >"$logs/build-$name.log" 2>&1; then
    echo "== $name: build failed (see $logs/build-$name.log)" >&2
    continue
  fi
  # shellcheck disable=SC2086  # the arguments are meant to split
  timeout --kill-after=10 "$limit" "build/bench/$name" $args >"$log" 2>"$base.err"
  status=$?
  cat "$log"
  if ((status != 0)); then
    echo "== $name: exit status $status (see $base.err)" >&2
  fi
  if grep '^RESULT	' "$log" >>"$results"; then ran=$((ran + 1)); fi
done

# The rows of the table, in order, with what each measures when its program gave nothing.
rows=(
  "host_compute|host speed: fixed compute loop, one thread"
  "host_memory|host speed: 64 MB memory copies"
  "host_wakeup|host speed: thread wake-up after 10 ms idle"
  "roundtrip_lockstep|command round trip, one at a time"
  "roundtrip_pipelined|command throughput, pipelined"
  "fanout_1|fan-out to 1 client"
  "fanout_8|fan-out to 8 clients"
  "fanout_32|fan-out to 32 clients"
  "encode_call|encode call on the capture thread"
  "encode_local|local encode, submit to output"
  "encode_remote|remote encode, submit to output"
  "encode_cpu_bridge|CPU of both encoders at 30 fps"
  "encode_cpu_ffmpeg|CPU of the ffmpeg command line, same work"
  "encode_ssim|local stream quality (SSIM Y) against the source"
  "encode_psnr|local stream PSNR Y against the source"
  "encode_call_animated|encode call on the capture thread, Animated Phone pattern"
  "encode_local_animated|local encode, Animated Phone pattern"
  "encode_remote_animated|remote encode, Animated Phone pattern"
  "encode_cpu_bridge_animated|CPU of both encoders at 30 fps, Animated Phone pattern"
  "encode_cpu_ffmpeg_animated|CPU of the ffmpeg command line, Animated Phone pattern"
  "encode_ssim_animated|local stream quality (SSIM Y), Animated Phone pattern"
  "encode_psnr_animated|local stream PSNR Y, Animated Phone pattern"
  "frame_latency_phone|frame latency, Virtual Phone"
  "frame_latency_animated|frame latency, Animated Phone"
  "frame_latency_animated_handin|frame latency stage hand-in, Animated Phone"
  "frame_latency_animated_encode|frame latency stage encode, Animated Phone"
  "frame_latency_animated_delivery|frame latency stage delivery, Animated Phone"
  "frame_latency_animated_both|frame latency, Animated Phone with the remote stream"
  "input_latency_local|input-to-photon, local stream only"
  "input_latency_remote|input-to-photon, remote stream running"
  "input_latency_animated_local|input-to-photon, Animated Phone, local stream only"
  "input_latency_animated_remote|input-to-photon, Animated Phone, remote stream running"
  "frame_cpu_phone|bridge CPU streaming the Virtual Phone"
  "frame_cpu_animated|bridge CPU streaming the Animated Phone"
  "footprint_cpu_phone|bridge CPU streaming the Virtual Phone (decoding client)"
  "footprint_cpu_animated|bridge CPU streaming the Animated Phone (decoding client)"
  "footprint_rss_phone|bridge peak RSS streaming the Virtual Phone"
  "footprint_rss_animated|bridge peak RSS streaming the Animated Phone"
  "switch_rss_heaviest|bridge steady RSS of the heaviest device alone, both streams"
  "switch_rss_start|bridge RSS at the start of the device-switch cycle"
  "switch_rss_after|bridge RSS after 60 device switches, both streams"
  "switch_rss_stopped|bridge RSS after stop_capture ends the switch cycle"
  "half_close_phone|half-closed client closed after, Virtual Phone"
  "half_close_animated|half-closed client closed after, Animated Phone"
  "device_cost_animated|virtual device cost, Animated Phone"
  "device_cost_phone|virtual device cost, idle Virtual Phone"
  "device_cost_tv|virtual device cost, idle Virtual TV"
  "device_touch_draw|virtual device: touch send until drawn"
  "host_compute_end|host speed: fixed compute loop, one thread (end)"
  "host_memory_end|host speed: 64 MB memory copies (end)"
  "host_wakeup_end|host speed: thread wake-up after 10 ms idle (end)"
)

elapsed=$(($(date +%s) - started))
echo
echo "corvane-sim-bridge benchmarks — $(nproc) cores ($(uname -m)), load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u '+%Y-%m-%d %H:%M UTC'), run took ${elapsed} s"
fmt='%-36s %8s %12s %10s  %-12s %s\n'
# shellcheck disable=SC2059
printf "$fmt" "measurement" "samples" "p50/value" "p99" "unit" "what"
printf '%.0s-' {1..132}
echo
listed=" "
for row in "${rows[@]}"; do
  IFS='|' read -r key label <<<"$row"
  listed+="$key "
  line=$(grep -m1 "^RESULT	$key	" "$results")
  if [[ -z $line ]]; then
    # shellcheck disable=SC2059
    printf "$fmt" "$key" "-" "missing" "-" "-" "$label"
    continue
  fi
  IFS='	' read -r _ _ samples value p99 unit what <<<"$line"
  # shellcheck disable=SC2059
  printf "$fmt" "$key" "$samples" "$value" "$p99" "$unit" "$what"
done
# Anything a program reports that the list above does not know yet.
while IFS='	' read -r _ key samples value p99 unit what; do
  [[ $listed == *" $key "* ]] && continue
  # shellcheck disable=SC2059
  printf "$fmt" "$key" "$samples" "$value" "$p99" "$unit" "$what"
done <"$results"

((ran > 0))
