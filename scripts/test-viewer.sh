#!/usr/bin/env bash
# The web viewer's tests: installs what is missing (Node.js, npm, Chromium), builds the
# bridge into build/ if needed, installs the viewer's npm packages from its lock file
# and runs its tests with node's test runner (headless Chromium against the real bridge).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh viewer
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane-sim-bridge
cd examples/web-viewer
npm ci --no-audit --no-fund
node --test test/*_test.js
