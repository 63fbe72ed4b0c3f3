#!/usr/bin/env bash
# Starts the web viewer: installs what is missing (on Debian), builds the bridge if
# needed, installs the viewer's npm packages once, then serves the page on 127.0.0.1 and
# prints its address. Arguments go to server.js: --port N (default 8421, 0 for any),
# --device UDID (open it at once), --bridge PATH.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [[ $(uname) == Linux ]]; then scripts/install-deps.sh viewer; fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(getconf _NPROCESSORS_ONLN)" --target corvane-sim-bridge
cd examples/web-viewer
if [[ ! -d node_modules/ws ]]; then npm ci --omit=dev --no-audit --no-fund; fi
exec node server.js "$@"
