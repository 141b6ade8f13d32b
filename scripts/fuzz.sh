#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, ASan + UBSan) and runs them one after
# the other, each for a bounded time, from the seed corpus in tests/fuzz/corpus/. New inputs go
# to build/fuzz/corpus/, crashes to build/fuzz/artifacts/.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET ...]
#   SECONDS per target, default 60; TARGET is container, token_check, keyword_check or
#   wav_image (default: all four).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

seconds=${1:-60}
case "$seconds" in
    ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number: $seconds" >&2; exit 2 ;;
esac
[ "$#" -gt 0 ] && shift
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(container token_check keyword_check wav_image)

"$root/scripts/setup.sh"
cmake --preset fuzz >/dev/null
# The machine is shared: two compile jobs at most, one fuzzer at a time.
cmake --build --preset fuzz -j2

for target in "${targets[@]}"; do
    binary="$root/build/fuzz/bin/fuzz_$target"
    if [ ! -x "$binary" ]; then
        echo "fuzz.sh: unknown target: $target" >&2
        exit 2
    fi
    work="$root/build/fuzz/corpus/$target"
    artifacts="$root/build/fuzz/artifacts"
    mkdir -p "$work" "$artifacts"
    options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
             -artifact_prefix="$artifacts/$target-")
    dict="$root/tests/fuzz/$target.dict"
    [ -f "$dict" ] && options+=(-dict="$dict")
    echo "== fuzz_$target for ${seconds}s"
    "$binary" "${options[@]}" "$work" "$root/tests/fuzz/corpus/$target"
done
