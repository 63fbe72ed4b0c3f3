#!/usr/bin/env bash
# Installs what is missing, builds, and runs the bridge on this terminal: type JSON
# commands, one per line; end with Ctrl-D.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane-sim-bridge
exec build/bridge/corvane-sim-bridge
