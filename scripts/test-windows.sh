#!/usr/bin/env bash
# Cross-builds kelmor.dll, the tools and the tests with mingw-w64 and runs the tests under Wine.
#
# Wine is kept fast with one persistent wineserver and one long-lived Wine process for the whole
# run: without them each test pays for starting Wine's services again.
#
# Usage: scripts/test-windows.sh [CTEST_ARG...]   (for example -R Win32 to run some tests)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh" --windows
cmake --preset windows >/dev/null
cmake --build --preset windows --parallel "$(nproc)"

build="$root/build/windows"
export WINEPREFIX="$build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

keeper_fifo="$build/wine-keeper.fifo"
cleanup() {
    exec 9>&- 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -f "$keeper_fifo"
}
trap cleanup EXIT

mkdir -p "$WINEPREFIX"
wineserver -p 2>/dev/null || true  # one may be left from an interrupted run
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
fi
rm -f "$keeper_fifo"
mkfifo "$keeper_fifo"
wine cmd <"$keeper_fifo" >/dev/null 2>&1 &
exec 9>"$keeper_fifo"
# Wait until Wine's services are up, so that no test pays for (or times out on) their start.
wine cmd /c exit >/dev/null 2>&1 || true

ctest --preset windows -j "$(nproc)" "$@"
