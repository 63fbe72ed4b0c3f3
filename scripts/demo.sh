#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds, starts the bridge, starts
# capture of the Virtual Phone, records a few seconds of its local H.264 stream into a
# playable MP4 while it types and drags a finger on the device, saves one PNG still of
# the device, then prints where they are.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly udid="7E57DE71-CE00-4000-8000-000000000001"  # Virtual Phone
readonly seconds=4
readonly out_dir="$PWD/build/demo"

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane-sim-bridge

mkdir -p "$out_dir"
raw="$out_dir/virtual-phone.h264"
video="$out_dir/virtual-phone.mp4"
still="$out_dir/virtual-phone.png"
log="$out_dir/bridge.log"
rm -f "$raw" "$video" "$still"

coproc BRIDGE { exec build/bridge/corvane-sim-bridge 2>"$log"; }
bridge_pid=$BRIDGE_PID
trap 'kill "$bridge_pid" 2>/dev/null || true' EXIT

# Sends one command line and prints the response line; stops the demo when the bridge
# does not answer or answers with anything but success.
request() {
  printf '%s\n' "$1" >&"${BRIDGE[1]}"
  local response
  if ! IFS= read -r -t 20 response <&"${BRIDGE[0]}"; then
    echo "demo: no response from the bridge to $1 (log: $log)" >&2
    exit 1
  fi
  if [[ $response != *'"ok":true'* ]]; then
    echo "demo: the bridge refused $1: $response (log: $log)" >&2
    exit 1
  fi
  printf '%s\n' "$response"
}

response=$(request "{\"cmd\":\"start_capture\",\"udid\":\"$udid\"}") || exit 1
port=$(sed -n 's/.*"port":\([0-9][0-9]*\).*/\1/p' <<<"$response")
if [[ -z "$port" ]]; then
  echo "demo: start_capture failed: $response (log: $log)" >&2
  exit 1
fi
echo "Capturing the Virtual Phone; local stream on 127.0.0.1:$port" >&2
request '{"cmd":"display_info"}' >&2

# A stream client: the bridge sends a keyframe first, then one access unit per tick.
exec 3<>"/dev/tcp/127.0.0.1/$port"
timeout "$seconds" cat <&3 >"$raw" &
recorder_pid=$!

# Input while the recording runs: type "hello" into the text line, then touch and drag
# a finger across the screen and keep it down (the magenta disc follows it).
sleep 0.5
for key in 4 14 37 37 31; do  # Mac virtual key codes of h e l l o
  request "{\"cmd\":\"keyboard\",\"udid\":\"$udid\",\"keyCode\":$key,\"modifierFlags\":0,\"isDown\":true}" >/dev/null
  request "{\"cmd\":\"keyboard\",\"udid\":\"$udid\",\"keyCode\":$key,\"modifierFlags\":0,\"isDown\":false}" >/dev/null
  sleep 0.08
done
request "{\"cmd\":\"touch\",\"udid\":\"$udid\",\"x\":0.25,\"y\":0.45,\"type\":0}" >/dev/null
for step in $(seq 1 20); do
  sleep 0.03
  x=$(awk -v s="$step" 'BEGIN { printf "%.3f", 0.25 + 0.5 * s / 20 }')
  y=$(awk -v s="$step" 'BEGIN { printf "%.3f", 0.45 + 0.1 * s / 20 }')
  request "{\"cmd\":\"touch\",\"udid\":\"$udid\",\"x\":$x,\"y\":$y,\"type\":1}" >/dev/null
done
echo "Typed \"hello\" and dragged a finger across the screen" >&2

wait "$recorder_pid" || true
exec 3<&-
request "{\"cmd\":\"touch\",\"udid\":\"$udid\",\"x\":0.75,\"y\":0.55,\"type\":2}" >/dev/null

request '{"cmd":"stop_capture"}' >/dev/null
exec {BRIDGE[1]}>&-   # end of input: the bridge exits
wait "$bridge_pid" || true
trap - EXIT

if [[ ! -s "$raw" ]]; then
  echo "demo: no video arrived (log: $log)" >&2
  exit 1
fi
# The stream is raw Annex B at 30 frames per second; MP4 only re-wraps it.
ffmpeg -hide_banner -loglevel error -y -fflags +genpts -r 30 -f h264 -i "$raw" -c copy "$video"
# One still from about three seconds in, after the input (the first picture when the
# recording is shorter).
ffmpeg -hide_banner -loglevel error -y -f h264 -i "$raw" -vf 'select=gte(n\,90)' -frames:v 1 "$still" || true
if [[ ! -s "$still" ]]; then
  ffmpeg -hide_banner -loglevel error -y -f h264 -i "$raw" -frames:v 1 "$still"
fi

frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width,height \
  -of default=noprint_wrappers=1 "$video" | tr '\n' ' ')
echo
echo "Video ($seconds s of the local stream): $video"
echo "  $frames"
echo "Still picture of the device:      $still"
echo "Raw H.264 Annex B stream:         $raw"
echo "Bridge log:                       $log"
