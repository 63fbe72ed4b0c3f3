#!/usr/bin/env bash
# The web viewer's benchmark: installs what is missing, builds the bridge and the two
# benchmark programs it runs beside the viewer (input_latency_bench, the bridge's own
# input-to-photon time, and host_speed_bench) into build/ (RelWithDebInfo), installs the
# viewer's npm packages once, and runs examples/web-viewer/bench/touch_latency_bench.js
# with the arguments given: the viewer's touch-to-picture time against the bridge's own,
# measured in turns in the same run, with their ratio and the viewer's stages, as RESULT
# lines like the bridge's benchmarks print. About three minutes on an idle 2-core
# machine; --soak 600 adds ten minutes of streaming for each device.
#
# Usage: scripts/bench-viewer.sh [--touches N] [--rounds R] [--devices phone,animated]
#                                [--soak SECONDS] [--full-resolution] [--viewer DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh viewer test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target corvane-sim-bridge input_latency_bench host_speed_bench >&2
cd examples/web-viewer
if [[ ! -d node_modules/puppeteer-core ]]; then npm ci --no-audit --no-fund >&2; fi
exec node bench/touch_latency_bench.js "$@"
