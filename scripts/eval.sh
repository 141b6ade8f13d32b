#!/usr/bin/env bash
# Keyword-spotting accuracy: generates the evaluation corpus on this machine (espeak-ng, flite,
# sox; cached in build/eval/corpus), runs it through the library's loop with its fixed settings,
# through the engine directly over a range of thresholds and scores, and through PocketSphinx,
# then writes build/eval/report.md with curve.png and latency.png beside it.
#
# Usage: scripts/eval.sh [--jobs N] [--speech-minutes M] [--publish]
#   --jobs N            runs at once (default 2; the machine's other users share the cores)
#   --speech-minutes M  minutes of non-keyword speech in the corpus (default 62)
#   --publish           also copies the two plots into docs/img/
# Set KELMOR_MODEL_DIR to use a model other than the shared one the build defaults to.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

jobs=2
speech_minutes=62
publish=0
while [ $# -gt 0 ]; do
    case "$1" in
        --jobs) jobs=$2; shift 2 ;;
        --speech-minutes) speech_minutes=$2; shift 2 ;;
        --publish) publish=1; shift ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) echo "eval.sh: unknown argument: $1" >&2; exit 2 ;;
    esac
done

"$root/scripts/setup.sh"
configure=(cmake --preset release)
[ -n "${KELMOR_MODEL_DIR:-}" ] && configure+=(-D "KELMOR_MODEL_DIR=$KELMOR_MODEL_DIR")
"${configure[@]}" >/dev/null
cmake --build --preset release -j2 --target kelmor-eval kelmor-eval-pocketsphinx

bin=build/release/bin
out=build/eval
corpus=$out/corpus
runs=$out/runs
start=$(date +%s)
python3 bench/eval/make_corpus.py "$corpus" --speech-minutes "$speech_minutes" --jobs "$jobs"
rm -rf "$runs"
mkdir -p "$runs"

# One line per run: its name, then the command.
{
    echo "library $bin/kelmor-eval library $corpus $runs/library.tsv"
    for t in -2 0.1 0.2 0.3 0.5; do
        echo "engine-s1.5-t$t $bin/kelmor-eval engine $corpus $runs/engine-s1.5-t$t.tsv --score 1.5 --threshold $t"
    done
    for s in 1.0 2.0 3.0 4.0; do
        echo "engine-s$s-t-2 $bin/kelmor-eval engine $corpus $runs/engine-s$s-t-2.tsv --score $s --threshold -2"
    done
    for t in 1e-10 1e-20 1e-30 1e-40; do
        echo "pocketsphinx-$t $bin/kelmor-eval-pocketsphinx $corpus $runs/pocketsphinx-$t.tsv --threshold $t"
    done
} > "$out/runs.txt"
echo "eval: $(wc -l < "$out/runs.txt") runs over the corpus, $jobs at a time"
# The engine prints its configuration and warnings to standard error: kept in runs/NAME.log.
xargs -P "$jobs" -L 1 sh -c 'name=$1; shift; "$@" 2>"$0/$name.log"' "$runs" < "$out/runs.txt"

python3 bench/eval/report.py "$corpus" "$runs" "$out"
if [ "$publish" = 1 ]; then
    mkdir -p docs/img
    cp "$out/curve.png" docs/img/accuracy-curve.png
    cp "$out/latency.png" docs/img/latency-histogram.png
fi
echo "eval: done in $(( $(date +%s) - start )) s; report in $out/report.md"
