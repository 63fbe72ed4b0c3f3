#!/usr/bin/env bash
# Boots an iPhone simulator device on an iOS runtime of the given major version (17 by
# default), waits until it has finished booting and prints its UDID on standard output.
# Picks the newest such runtime and, within it, the first available iPhone that
# `xcrun simctl list` shows. macOS with Xcode only.
#
# Usage: scripts/boot-simulator.sh [ios-major-version]
set -euo pipefail

major=${1:-17}

udid=$(xcrun simctl list devices available -j | python3 -c '
import json, re, sys
major = sys.argv[1]
pattern = re.compile(r"^com\.apple\.CoreSimulator\.SimRuntime\.iOS-" + major + r"-(\d+)(?:-(\d+))?$")
found = []
for runtime, devices in json.load(sys.stdin)["devices"].items():
    match = pattern.match(runtime)
    if not match:
        continue
    version = tuple(int(part or 0) for part in match.groups())
    for device in devices:
        if device.get("isAvailable", False) and device.get("name", "").startswith("iPhone"):
            found.append((version, device["udid"]))
if not found:
    sys.exit("boot-simulator.sh: no available iPhone on an iOS " + major + " runtime")
found.sort(key=lambda entry: entry[0], reverse=True)
print(found[0][1])
' "$major")

echo "boot-simulator.sh: booting $udid" >&2
# -b boots the device if it is not booted yet, then waits until booting has finished.
xcrun simctl bootstatus "$udid" -b >&2
echo "$udid"
