#!/usr/bin/env bash
# Checks that every file a Mac builds includes the system headers for the names it uses,
# rather than relying on what Linux's headers bring in on the way (macOS's C library and
# libc++ bring in far less). include-what-you-use reads each file as Linux compiles it;
# a name of the C library, POSIX or the C++ standard library whose header the file does
# not include fails the check. What it suggests besides (project and third-party
# headers, forward declarations, includes to remove) is printed as advice only.
#
# Which files: those a Mac build compiles, as CMake itself lists them when configured
# for macOS (the bridge and its tests) and for the iOS Simulator (corvane-sim-input).
# Those two trees are configured here without an Apple SDK (no compiler check links,
# and signing is a no-op) only to read their compile databases; nothing is built. Each
# file is then read with the flags of the Linux tree that builds the Apple sources
# against GNUstep (build-includes/linux); a file only a Mac compiles is read with its Mac
# flags less the SDK, plus the Linux declarations of Apple's frameworks
# (tests/support/apple_sdk_linux). Headers are checked where they lie in a folder that
# holds such a file.
#
# Before the real run, a header that uses socklen_t without <sys/socket.h> must fail the
# check, so that a check that has stopped seeing anything cannot pass.
#
# Usage: scripts/check-includes.sh [FILE ...]   (only those files; installs
#        include-what-you-use when missing)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh includes

readonly out=$PWD/build-includes
mkdir -p "$out"
printf '#!/bin/sh\nexit 0\n' >"$out/no-op" && chmod +x "$out/no-op"
mkdir -p "$out/sdk/iPhoneSimulator.sdk"

# A tree configured for an Apple system on this machine, for its compile database only.
configure_apple() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCORVANE_BUILD_TESTS=ON \
    -DCMAKE_C_COMPILER=/usr/bin/clang -DCMAKE_CXX_COMPILER=/usr/bin/clang++ \
    -DCMAKE_OBJC_COMPILER=/usr/bin/clang -DCMAKE_OBJCXX_COMPILER=/usr/bin/clang++ \
    -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_INSTALL_NAME_TOOL="$out/no-op" \
    -DCORVANE_CODESIGN="$out/no-op" -DCMAKE_LIBRARY_ARCHITECTURE="$(gcc -dumpmachine)" \
    -Dnlohmann_json_DIR=/usr/share/cmake/nlohmann_json --no-warn-unused-cli "$@" >"$dir.log" 2>&1 ||
    { cat "$dir.log" >&2; return 1; }
}
configure_apple "$out/macos" -DCMAKE_SYSTEM_NAME=Darwin
configure_apple "$out/ios" -DCMAKE_SYSTEM_NAME=iOS -DCMAKE_OSX_SYSROOT="$out/sdk/iPhoneSimulator.sdk"
CC=clang CXX=clang++ cmake -S . -B "$out/linux" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCORVANE_APPLE_ON_LINUX=ON \
  -DCORVANE_BUILD_BENCH=OFF >"$out/linux.log" 2>&1 || { cat "$out/linux.log" >&2; exit 1; }

exec python3 - "$PWD" "$out" "$@" <<'PYTHON'
import json
import os
import re
import shlex
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

root, out, only = sys.argv[1], sys.argv[2], {os.path.abspath(name) for name in sys.argv[3:]}
MAPPINGS = os.path.join(root, "scripts/iwyu.imp")
# Angle-bracket headers of libraries other than the system's: their own layout decides.
THIRD_PARTY = re.compile(r"<(nlohmann|gtest|gmock|libav\w*|[A-Z]\w*)/")
ADD = re.compile(r"^(\S+) should add these lines:\n(.*?)\n\n", re.M | re.S)
# Flags that name an Apple SDK or architecture; Linux's compiler reads the file without them.
APPLE_ONLY = {"-isysroot": 1, "-arch": 1}


def entries(tree):
    with open(os.path.join(out, tree, "compile_commands.json")) as f:
        return {e["file"]: e for e in json.load(f)}


def arguments(entry):
    args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    kept, skip = [], 0
    for arg in args[1:]:
        if skip:
            skip -= 1
        elif arg in ("-o", "-c"):
            skip = 1
        elif arg in APPLE_ONLY:
            skip = APPLE_ONLY[arg]
        elif not arg.startswith("-mmacosx-version-min") and not arg.startswith("-mios") and arg != entry["file"]:
            kept.append(arg)
    return kept


def iwyu(entry, also):
    command = ["include-what-you-use", "-Xiwyu", f"--mapping_file={MAPPINGS}"]
    command += [x for glob in also for x in ("-Xiwyu", f"--check_also={glob}")]
    result = subprocess.run(command + arguments(entry) + [entry["file"]], cwd=entry["directory"],
                            capture_output=True, text=True)
    return result.stderr


def verdicts(report, checked):
    """(missing system includes, advice) of one report, for the files in `checked`."""
    faults, advice = set(), set()
    for match in ADD.finditer(report):
        name = os.path.relpath(match.group(1), root)
        if not checked(name):
            continue
        for line in filter(str.strip, match.group(2).split("\n")):
            header = re.match(r"#include (<[^>]+>)", line)
            line = re.sub(r"\s+//", "  //", line.strip())
            if header and not THIRD_PARTY.match(header.group(1)):
                faults.add(f"{name}: add {line}")
            else:
                advice.add(f"{name}: {line}")
    return faults, advice


def errors(report):
    return [line for line in report.splitlines() if ": error:" in line or ": fatal error:" in line]


# The check must see a header that relies on another include for socklen_t.
probe = os.path.join(out, "probe")
os.makedirs(probe, exist_ok=True)
with open(os.path.join(probe, "probe.h"), "w") as f:
    f.write("#pragma once\nint probeAccept(int fd, socklen_t* length);\n")
with open(os.path.join(probe, "probe.cpp"), "w") as f:
    f.write('#include <netinet/in.h>\n\n#include "probe.h"\n\n'
            "int probeAccept(int fd, socklen_t* length) { return fd + static_cast<int>(*length); }\n")
entry = {"directory": probe, "file": os.path.join(probe, "probe.cpp"),
         "arguments": ["c++", "-std=c++20", "-I", probe, "-c", os.path.join(probe, "probe.cpp")]}
report = iwyu(entry, [])
faults, _ = verdicts(report, lambda name: True)
if errors(report) or not any("probe.h: add #include <sys/socket.h>" in fault for fault in faults):
    print(report, file=sys.stderr)
    sys.exit("check-includes.sh: the check did not find socklen_t without <sys/socket.h> in a probe header")
print("check-includes.sh: a header using socklen_t without <sys/socket.h> fails the check, as it must")

linux = entries("linux")
mac = {**entries("macos"), **entries("ios")}
sources = sorted(name for name in mac if name.startswith(root + "/"))
folders = {os.path.dirname(name) for name in sources}
if only:
    sources = [name for name in sources if name in only]
# Headers are checked in the folders of the files a Mac builds, and nowhere else (not in
# the declarations and stand-ins that only the Linux tree puts on the include path).
also = sorted(f"{folder}/*.h" for folder in folders)


def mac_only(entry):
    # The Mac's flags for a file Linux never compiles, with the Linux declarations of the
    # Apple frameworks it may include.
    declarations = os.path.join(root, "tests/support/apple_sdk_linux")
    return {**entry, "arguments": ["c++", "-isystem", declarations] + arguments(entry)}


def checked(name):
    path = os.path.join(root, name)
    return path in mac or (path.endswith(".h") and os.path.dirname(path) in folders)


with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
    reports = list(pool.map(lambda name: iwyu(linux.get(name) or mac_only(mac[name]), also), sources))

with open(os.path.join(out, "iwyu.txt"), "w") as f:
    f.write("\n".join(reports))
faults, advice, broken = set(), set(), []
for name, report in zip(sources, reports):
    found, advised = verdicts(report, checked)
    faults |= found
    advice |= advised
    broken += [f"{os.path.relpath(name, root)}: {line}" for line in errors(report)[:3]]

for line in sorted(advice):
    print(f"advice: {line}")
for line in broken:
    print(f"check-includes.sh: include-what-you-use could not read {line}", file=sys.stderr)
for line in sorted(faults):
    print(f"check-includes.sh: {line}", file=sys.stderr)
print(f"check-includes.sh: {len(sources)} files a Mac builds, {len(faults)} missing system includes, "
      f"{len(broken)} unreadable, {len(advice)} pieces of advice (whole reports: {out}/iwyu.txt)")
sys.exit(1 if faults or broken else 0)
PYTHON
