#!/usr/bin/env bash
# Speed, latency and memory of the library with the real model: builds in Release, runs the three
# benchmarks and prints their tables, then one table of the headline figures against the targets.
# Takes about 10 minutes; the figures are medians with their spread. A benchmark never fails the
# command: a missed target shows as "no" in the last table.
#
#   kelmor-load-bench        load time of libkelmor.so with the model (fresh processes), memory
#   kelmor-listening-bench   CPU per second of audio: the loop against the engine fed directly;
#                            memory over 35 minutes of audio fed as fast as it is consumed
#   kelmor-realtime-bench    keyword end to wake callback through real ALSA capture at real time
#                            (a private PulseAudio pipe source), OpenListenVoice/CloseListenVoice,
#                            lost buffers with one core kept busy by another process
#
# Usage: scripts/bench.sh [--quick]   (--quick: fewer rounds and a 5-minute memory run)
# Set KELMOR_MODEL_DIR to use a model other than the shared one the build defaults to.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

quick=0
case "${1:-}" in
    --quick) quick=1 ;;
    '') ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "bench.sh: unknown argument: $1" >&2; exit 2 ;;
esac

"$root/scripts/setup.sh" >/dev/null
configure=(cmake --preset release)
[ -n "${KELMOR_MODEL_DIR:-}" ] && configure+=(-D "KELMOR_MODEL_DIR=$KELMOR_MODEL_DIR")
"${configure[@]}" >/dev/null
cmake --build --preset release -j2 >/dev/null

bin=build/release/bin
out=build/bench
mkdir -p "$out"
summary=$out/summary.txt
: > "$summary"
export KELMOR_BENCH_SUMMARY="$root/$summary"
start=$(date +%s)
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo

if [ "$quick" = 1 ]; then
    "$bin/kelmor-load-bench" 5
    "$bin/kelmor-listening-bench" --rounds 3 --memory-minutes 5 2>/dev/null
    "$bin/kelmor-realtime-bench" --cycles 30 2>/dev/null
else
    "$bin/kelmor-load-bench" 15
    "$bin/kelmor-listening-bench" --rounds 11 --memory-minutes 35 2>/dev/null
    "$bin/kelmor-realtime-bench" --cycles 150 2>/dev/null
fi | tee "$out/bench.txt"

echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); took $(( $(date +%s) - start )) s"
echo
python3 - "$summary" <<'EOF'
import sys

v = {}
for line in open(sys.argv[1]):
    key, value = line.split()
    v[key] = float(value)

def get(key, fmt="%.1f"):
    return fmt % v[key] if key in v else "-"

def met(ok):
    return "yes" if ok else "no"

rows = []
if "cpu_ratio_same" in v:
    r = v["cpu_ratio_same"]
    rows.append(("CPU per s of audio, loop / engine directly (same work)",
                 "%+.1f%% (rounds %+.1f%% to %+.1f%%); %s vs %s ms" % (
                     100 * (r - 1), 100 * (v["cpu_ratio_same_min"] - 1),
                     100 * (v["cpu_ratio_same_max"] - 1), get("cpu_loop_ms_per_s", "%.2f"),
                     get("cpu_same_ms_per_s", "%.2f")),
                 "within 3%", met(r <= 1.03)))
    if "cpu_ratio_handed" in v:
        rows.append(("CPU per s of audio, loop / engine same work handed to a thread like the loop",
                     "%+.1f%%" % (100 * (v["cpu_ratio_handed"] - 1)), "(reported)", ""))
    rows.append(("CPU per s of audio, loop / engine directly (minimal, as designed)",
                 "%+.1f%%; %s ms" % (100 * (v["cpu_ratio_minimal"] - 1),
                                     get("cpu_minimal_ms_per_s", "%.2f")), "(reported)", ""))
if "latency_paired_same_ms" in v:
    d = v["latency_paired_same_ms"]
    rows.append(("keyword end to wake callback, median: library vs engine alone",
                 "%s vs %s ms; same utterances %+.0f ms (%d/%d detected)" % (
                     get("latency_library_ms", "%.0f"), get("latency_engine_same_ms", "%.0f"), d,
                     v["latency_detected"], v["latency_utterances"]),
                 "within 150 ms", met(d <= 150)))
if "cpu_realtime_loop_ms_per_s" in v:
    rows.append(("CPU per s of audio at real time: library worker / engine alone on its thread",
                 "%s / %s ms" % (get("cpu_realtime_loop_ms_per_s", "%.2f"),
                                 get("cpu_realtime_direct_ms_per_s", "%.2f")), "(reported)", ""))
if "latency_paired_realtime_ms" in v:
    rows.append(("keyword end to wake callback: library minus engine alone at real time",
                 "median %+.0f ms, p90 %+.0f ms (same utterances)" % (
                     v["latency_paired_realtime_ms"], v["latency_paired_realtime_p90_ms"]),
                 "within 150 ms", met(v["latency_paired_realtime_ms"] <= 150)))
if "close_p99_ms" in v:
    rows.append(("CloseListenVoice while listening, p99",
                 "%s ms (median %s, max %s, %d cycles)" % (
                     get("close_p99_ms"), get("close_median_ms"), get("close_max_ms"),
                     v["close_cycles"]), "under 120 ms", met(v["close_p99_ms"] < 120)))
    rows.append(("OpenListenVoice, median (p99)",
                 "%s ms (%s)" % (get("open_median_ms"), get("open_p99_ms")), "(reported)", ""))
if "load_ms" in v:
    rows.append(("library load with the model, median",
                 "%s ms (%s to %s)" % (get("load_ms", "%.0f"), get("load_ms_min", "%.0f"),
                                       get("load_ms_max", "%.0f")), "(reported)", ""))
    rows.append(("resident memory after load", "%s MiB" % get("rss_after_load_mib"),
                 "(reported)", ""))
if "rss_real_listening_mib" in v:
    rows.append(("resident memory while listening (real capture)",
                 "%s MiB" % get("rss_real_listening_mib"), "(reported)", ""))
if "rss_growth_mib" in v:
    rows.append(("resident memory growth over %.0f min of audio" % v["memory_minutes"],
                 "%s MiB" % get("rss_growth_mib", "%.3f"),
                 "under 1 MiB over 30 min",
                 met(v["rss_growth_mib"] < 1 and v["memory_minutes"] >= 30)))
if "starved_busy" in v:
    lost = v["starved_busy"] + v["device_errors_busy"]
    rows.append(("lost buffers with one core busy (%.0f s of audio)" % v["lost_audio_s"],
                 "no queued buffer %d times, device errors %d (idle: %d, %d)" % (
                     v["starved_busy"], v["device_errors_busy"], v["starved_idle"],
                     v["device_errors_idle"]),
                 "none", met(lost == 0)))

width = max(len(r[0]) for r in rows)
print("| %-*s | %s | %s | %s |" % (width, "figure", "measured", "target", "met"))
print("|%s|---|---|---|" % ("-" * (width + 2)))
for name, value, target, ok in rows:
    print("| %-*s | %s | %s | %s |" % (width, name, value, target, ok))
EOF
