#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test and benchmark.
# Installs only what is missing; needs root (or sudo) when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libx264-dev libyuv-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  libavcodec-dev libavutil-dev ffmpeg
  clang libclang-rt-dev
)

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
