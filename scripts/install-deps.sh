#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs. Installs only what is missing;
# needs root (or sudo) when something is missing.
#
# Usage: scripts/install-deps.sh [group ...]
#   build  compilers, CMake and the libraries the two programs link
#   test   build, plus GoogleTest and FFmpeg's decoding libraries (the test suite)
#   fuzz   build, plus clang and its sanitizer runtimes (the fuzz targets)
#   tools  the ffmpeg command line (the demo's video and picture, the encode benchmark)
#   lint   Node.js and npm (the workflow linter, scripts/lint-workflows.sh) and Python (the
#          layer check, scripts/check-layers.sh)
#   viewer build, plus Node.js with npm (the web viewer) and Chromium (its tests)
#   apple  test, plus clang, GNUstep's Foundation and the blocks runtime (the Apple
#          platform sources built and tested on Linux, scripts/test-apple-linux.sh)
#   docs   Graphviz (the architecture diagram, scripts/render-docs.sh)
#   includes  apple, plus include-what-you-use (the include check, scripts/check-includes.sh)
# Node.js and npm are installed only when node or npm is missing from the PATH: a Node.js
# installed from elsewhere brings its own npm and conflicts with Debian's npm package.
# Without a group: build, test, fuzz and tools (lint, viewer, apple, docs and includes only when named).
set -euo pipefail

build=(build-essential cmake pkg-config git libx264-dev libyuv-dev nlohmann-json3-dev)
test=(libgtest-dev libgmock-dev libavcodec-dev libavutil-dev)
fuzz=(clang libclang-rt-dev)
tools=(ffmpeg)
node=()
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then node=(nodejs npm); fi
lint=(python3 "${node[@]}")
viewer=(chromium "${node[@]}")
apple=(clang libgnustep-base-dev libblocksruntime-dev)
docs=(graphviz)
includes=(iwyu python3)

groups=("$@")
if ((${#groups[@]} == 0)); then groups=(build test fuzz tools); fi

packages=("${build[@]}")
for group in "${groups[@]}"; do
  case $group in
    build) ;;
    test) packages+=("${test[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    tools) packages+=("${tools[@]}") ;;
    apple) packages+=("${test[@]}" "${apple[@]}") ;;
    lint) packages+=("${lint[@]}") ;;
    viewer) packages+=("${viewer[@]}") ;;
    docs) packages+=("${docs[@]}") ;;
    includes) packages+=("${test[@]}" "${apple[@]}" "${includes[@]}") ;;
    *) echo "install-deps.sh: unknown group '$group' (build, test, fuzz, tools, lint, viewer, apple, docs, includes)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
