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
# The TAP report goes to the terminal and into a file, whose summary must count at least
# one passed test: a run that passes no test at all fails.
tap=$(mktemp)
trap 'rm -f "$tap"' EXIT
node --test --test-reporter=tap test/*_test.js | tee "$tap"
if ! grep -Eq '^# pass [1-9]' "$tap"; then
  echo "test-viewer.sh: no test passed" >&2
  exit 1
fi
