#!/usr/bin/env bash
# End to end under Wine: kelmor-listen.exe and kelmor.dll from the dist folder, copied with the
# laid-out model into a folder whose name is not ASCII, hear synthesized speech through Wine's
# audio driver from a private PulseAudio pipe source. Each keyword utterance must wake the host
# once; other speech, noise and silence never.
#
# Wine's capture buffer holds about 100 ms, and a process starved for longer on a busy machine
# loses audio (a PulseAudio client recording the same source beside it gets every sample), which
# can cost a keyword. So a keyword run with too few wakes is tried again, up to three times; too
# many wakes, or any wake on the other sounds, fail at once.
#
# Usage: listen_e2e.sh WINE DIST_BIN MODEL_FOLDER WORK_DIR
#   DIST_BIN      the dist folder's bin/ (kelmor.dll, the engine DLLs, kelmor-listen.exe)
#   MODEL_FOLDER  a laid-out sherpa-onnx/ folder (kelmor-pack layout)
# Exit status: 0 passed, 1 failed, 77 skipped (a tool or the model is missing).
set -euo pipefail

wine=$1
dist_bin=$2
model=$3
work=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

for tool in espeak-ng sox; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "listen_e2e: $tool is not installed (scripts/setup.sh installs it)" >&2
        exit 77
    fi
done
if [ ! -f "$model/kelmor_config.bin" ]; then
    echo "listen_e2e: no laid-out model in $model" >&2
    exit 77
fi

rm -rf "$work"
mkdir -p "$work"
app="$work/Kelmor ü 模型"
mkdir -p "$app"
cp "$dist_bin"/* "$app/"
cp -r "$model" "$app/sherpa-onnx"

# 16 kHz mono s16le.
raw=(-r 16000 -c 1 -b 16 -e signed-integer -t raw)
speak() {
    espeak-ng -v en-us -w "$work/say.wav" "$1"
    sox -D "$work/say.wav" "${raw[@]}" -
}
silence() {  # tenths of a second
    head -c $(($1 * 3200)) /dev/zero
}
noise() {  # seconds, volume
    sox -n "${raw[@]}" - synth "$1" pinknoise vol "$2"
}
# Lays a faint noise floor (about -64 dBFS, far below the quiet gate) under NAME.raw, as any
# microphone has. The Windows engine, run under Wine, can miss a keyword that follows a second or
# more of exact digital zeros; the Linux engine does not.
add_noise_floor() {
    local seconds
    seconds=$(($(stat -c %s "$work/$1.raw") / 32000 + 1))
    noise "$seconds" 0.003 >"$work/floor.raw"
    sox -m -v 1 "${raw[@]}" "$work/$1.raw" -v 1 "${raw[@]}" "$work/floor.raw" \
        "${raw[@]}" "$work/$1.mixed.raw"
    mv "$work/$1.mixed.raw" "$work/$1.raw"
}
{
    silence 10; speak "hey computer"; silence 15
    speak "the weather is nice today"; silence 15
    speak "hey computer"; silence 15
} >"$work/keywords.raw"
{
    silence 10; speak "good morning everyone"; silence 10
    noise 2 0.3; silence 10
    speak "please open the window"; silence 15
} >"$work/others.raw"
add_noise_floor keywords
add_noise_floor others

# listen NAME: feeds NAME.raw once the host listens; sets `wakes` to its number of WAKE lines.
listen() {
    local name=$1
    local feed="$work/$name.raw"
    # Startup under Wine and the model load come before the feed starts.
    local seconds=$(($(stat -c %s "$feed") / 32000 + 6))
    local status=0
    "$here/pulse_session.sh" "$work/pulse-$name" "$feed" --after-listener -- \
        "$wine" "$app/kelmor-listen.exe" --seconds "$seconds" --log-level 1 \
        >"$work/$name.out" 2>"$work/$name.err" || status=$?
    if [ "$status" = 77 ]; then
        exit 77
    fi
    wakes=$(grep -c '^WAKE ' "$work/$name.out" || true)
    local errors
    errors=$(grep -c '^ERROR ' "$work/$name.err" || true)
    echo "$name: exit $status, $wakes WAKE lines, $errors ERROR lines"
    if [ "$status" != 0 ] || [ "$errors" != 0 ]; then
        show "$name"
        exit 1
    fi
}

show() {
    echo "--- $1: standard output"
    cat "$work/$1.out"
    echo "--- $1: standard error"
    cat "$work/$1.err"
}

for attempt in 1 2 3; do
    listen keywords
    if [ "$wakes" -gt 2 ]; then
        echo "more wakes than keyword utterances (2)"
        show keywords
        exit 1
    fi
    [ "$wakes" = 2 ] && break
    if [ "$attempt" = 3 ]; then
        echo "fewer wakes than keyword utterances (2) in three runs"
        show keywords
        exit 1
    fi
    echo "fewer wakes than keyword utterances (2): trying again"
done

listen others
if [ "$wakes" != 0 ]; then
    echo "woken by other speech, noise or silence"
    show others
    exit 1
fi
