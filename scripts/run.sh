#!/usr/bin/env bash
# Builds everything (release) and runs the main job: kelmor-listen, a host that loads the library
# beside it and prints a WAKE line for each keyword heard on the default microphone.
#
# Usage: scripts/run.sh [kelmor-listen options]   e.g. scripts/run.sh --seconds 30
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
cmake --preset release >/dev/null
cmake --build --preset release
exec "$root/build/release/bin/kelmor-listen" "$@"
