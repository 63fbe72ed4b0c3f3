#!/usr/bin/env bash
# Checks that the product's includes point one way: every folder of bridge/ and
# sim-input/ may include only the folders listed for it below, so no folder includes
# one of a layer above it, no platform implementation includes another's headers, and
# no include cycle crosses folders. Prints the include graph between folders (how many
# includes each arrow carries) and every include that breaks the rule; fails on any.
#
# Usage: scripts/check-layers.sh        (installs python3 when missing)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh lint

exec python3 - "$@" <<'PYTHON'
import pathlib
import re
import subprocess
import sys

V = "bridge/platform/virtual_simulator"
# Folder -> the folders its files may include (besides its own). Top to bottom.
ALLOWED = {
    "bridge": ["bridge/control", "bridge/platform", "bridge/platform/x264", V,
               "bridge/platform/apple_media", "bridge/platform/apple_simulator"],
    "bridge/control": ["bridge/capture", "bridge/input", "bridge/streaming", "bridge/encoder",
                       "bridge/simruntime", "bridge/platform"],
    "bridge/capture": ["bridge/encoder", "bridge/simruntime", "bridge/platform"],
    "bridge/input": ["bridge/simruntime", "bridge/platform"],
    "bridge/streaming": ["bridge/encoder", "bridge/platform"],
    "bridge/encoder": ["bridge/platform"],
    "bridge/simruntime": ["bridge/platform"],
    # The platform interfaces include nothing above them; each implementation includes
    # the interfaces and, at most, the shared pieces of its own platform.
    "bridge/platform": [],
    "bridge/platform/thread_dispatch": ["bridge/platform"],
    "bridge/platform/apple_dispatch": ["bridge/platform"],
    "bridge/platform/x264": ["bridge/platform"],
    "bridge/platform/apple_media": ["bridge/platform", "bridge/platform/apple_surface"],
    "bridge/platform/apple_simulator": ["bridge/platform", "bridge/platform/apple_surface"],
    "bridge/platform/apple_surface": ["bridge/platform"],
    f"{V}/adapters": ["bridge/platform", V, f"{V}/device", f"{V}/drawing"],
    V: ["bridge/platform", f"{V}/device"],
    f"{V}/device": ["bridge/platform", f"{V}/drawing"],
    f"{V}/drawing": [],
    "sim-input": [],
}

files = subprocess.run(["git", "ls-files", "bridge", "sim-input"], check=True, capture_output=True,
                       text=True).stdout.split()
include = re.compile(r'^\s*#\s*(?:include|import)\s+"([^"]+)"', re.M)
edges = {}
faults = []
for name in files:
    path = pathlib.Path(name)
    if path.suffix not in (".h", ".cpp", ".mm", ".inc"):
        continue
    folder = str(path.parent)
    if folder not in ALLOWED:
        faults.append(f"{name}: its folder {folder} has no place in the layers of scripts/check-layers.sh")
        continue
    for target in include.findall(path.read_text(encoding="utf-8", errors="replace")):
        resolved = pathlib.Path(target) if "/" in target else path.parent / target
        if not resolved.exists():
            continue  # generated, or a header of the build's own include path
        to = str(resolved.parent)
        if to == folder:
            continue
        edges[(folder, to)] = edges.get((folder, to), 0) + 1
        if to not in ALLOWED[folder]:
            faults.append(f"{name}: includes {target} ({folder} may not include {to})")

print("include graph between folders (includes per arrow):")
for (a, b), count in sorted(edges.items()):
    print(f"  {a} -> {b}  {count}")
for fault in faults:
    print(f"check-layers.sh: {fault}", file=sys.stderr)
print(f"check-layers.sh: {len(edges)} arrows between {len({a for a, _ in edges} | {b for _, b in edges})} "
      f"folders, {len(faults)} against the layers")
sys.exit(1 if faults else 0)
PYTHON
