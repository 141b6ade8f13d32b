#!/usr/bin/env bash
# Builds everything and runs the tests.
#
# Usage: scripts/test.sh [PRESET ...]
#   PRESET is one of debug (the default), release, asan (ASan + UBSan), tsan.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(debug)
for preset in "${presets[@]}"; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "== $preset: tests"
    ctest --preset "$preset" -j "$(nproc)"
done
