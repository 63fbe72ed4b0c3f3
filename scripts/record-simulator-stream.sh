#!/usr/bin/env bash
# Starts the bridge, captures one device and has ffmpeg decode one second (30 pictures)
# of its local stream into an MP4 file, then checks with ffprobe that the file holds
# 30 decoded pictures. The macOS workflow runs it on a booted simulator device; on Linux
# it works the same way on a virtual device.
#
# Usage: scripts/record-simulator-stream.sh BRIDGE UDID OUTPUT.mp4
# Needs ffmpeg and ffprobe. Exits non-zero, with the bridge's log, when a step fails.
# Written for bash 3.2 as well (macOS's own): no coproc.
set -euo pipefail

if (($# != 3)); then
  echo "usage: $0 BRIDGE UDID OUTPUT.mp4" >&2
  exit 2
fi
bridge=$1
udid=$2
output=$3
readonly pictures=30

work=$(mktemp -d)
mkfifo "$work/in" "$work/out"
"$bridge" <"$work/in" >"$work/out" 2>"$work/bridge.log" &
bridge_pid=$!
cleanup() {
  kill "$bridge_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Opened in the order the bridge's redirections open them, so neither side blocks.
exec 3>"$work/in" 4<"$work/out"

fail() {
  echo "record-simulator-stream.sh: $1" >&2
  sed 's/^/bridge: /' "$work/bridge.log" >&2
  exit 1
}

# Sends one command line and prints the response line.
request() {
  printf '%s\n' "$1" >&3
  local response
  IFS= read -r -t 30 response <&4 || fail "no response to $1"
  printf '%s\n' "$response"
}

response=$(request "{\"cmd\":\"start_capture\",\"udid\":\"$udid\"}")
port=$(sed -n 's/.*"port":\([0-9][0-9]*\).*/\1/p' <<<"$response")
[[ -n "$port" ]] || fail "start_capture failed: $response"
request '{"cmd":"display_info"}' >&2

# The stream is raw H.264 at one picture per 33 ms tick; a unit or two before the first
# keyframe cannot be decoded and is skipped by the decoder.
ffmpeg -nostdin -hide_banner -loglevel error -y -f h264 -framerate 30 -i "tcp://127.0.0.1:$port" \
  -frames:v "$pictures" -c:v mpeg4 -q:v 4 "$output" || fail "ffmpeg could not decode the stream"

request '{"cmd":"stop_capture"}' >/dev/null
exec 3>&-  # end of input: the bridge exits
wait "$bridge_pid" || fail "the bridge exited with status $?"

decoded=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames,width,height -of default=noprint_wrappers=1 "$output")
echo "$decoded" >&2
grep -qx "nb_read_frames=$pictures" <<<"$decoded" || fail "expected $pictures decoded pictures in $output"
echo "record-simulator-stream.sh: $pictures pictures of $udid decoded into $output" >&2
