#!/usr/bin/env bash
# Installs what is missing, builds everything into build/, runs the whole test suite and
# checks that cmake --install gives two working programs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" --no-tests=error

# The install: both programs in bin/ under the prefix, each answering a request there.
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build --prefix "$prefix" >/dev/null
echo '{"cmd":"bogus"}' | "$prefix/bin/corvane-sim-bridge" 2>/dev/null | grep -qF '"error":"unknown command '"'"'bogus'"'"'"'
echo '{"cmd":"key","page":7,"usage":4,"down":true}' | "$prefix/bin/corvane-sim-input" | grep -qF '{"ok":true}'
echo "test.sh: cmake --install put corvane-sim-bridge and corvane-sim-input in bin/, and both answer there"
