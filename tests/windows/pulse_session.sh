#!/usr/bin/env bash
# Runs a command while a private PulseAudio server plays audio into its default source: a pipe
# source (16 kHz, mono, s16le) fed at real time. Wine's audio driver connects to it through
# PULSE_SERVER, so a Windows program's default microphone hears exactly the fed samples.
#
# Usage: pulse_session.sh DIR FEED [--loop] [--after-listener] -- COMMAND [ARG...]
#   DIR               a folder for the server's files (made if missing)
#   FEED              a file of raw audio to feed, then silence; or "ramp": the samples
#                     1, 2, ... 65535 over and over
#   --loop            feed FEED over and over instead of silence after it
#   --after-listener  feed silence until a recording stream is connected, then FEED, so that
#                     none of it is played before the command listens
# Exit status: the command's; 77 (skip) when pulseaudio, pactl or perl is missing.
set -euo pipefail

dir=$1
feed=$2
shift 2
loop=0
after_listener=0
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
    case "$1" in
        --loop) loop=1 ;;
        --after-listener) after_listener=1 ;;
        *) echo "pulse_session: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ "${1:-}" = "--" ] && shift

for tool in pulseaudio pactl perl; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "pulse_session: $tool is not installed (scripts/setup.sh installs it)" >&2
        exit 77
    fi
done

mkdir -p "$dir/pulse"
runtime="$dir/pulse"
socket="$runtime/native"
fifo="$runtime/source.fifo"
rm -f "$socket" "$fifo"
cat >"$dir/server.pa" <<PA
load-module module-pipe-source source_name=kelmor_test file=$fifo format=s16le rate=16000 channels=1
set-default-source kelmor_test
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
PA

server=""
feeder=""
watcher=""
cleanup() {
    set +e
    for pid in $watcher $feeder $server; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -f "$socket" "$fifo"
}
trap cleanup EXIT

# The server keeps off our output pipes: the test runner waits for them to close.
HOME="$dir" PULSE_RUNTIME_PATH="$runtime" pulseaudio -n -F "$dir/server.pa" --daemonize=no \
    --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
    </dev/null >"$dir/pulse.log" 2>&1 &
server=$!
for _ in $(seq 100); do
    [ -S "$socket" ] && [ -p "$fifo" ] && break
    if ! kill -0 "$server" 2>/dev/null; then
        echo "pulse_session: pulseaudio exited:" >&2
        cat "$dir/pulse.log" >&2
        exit 1
    fi
    sleep 0.05
done
if ! [ -S "$socket" ] || ! [ -p "$fifo" ]; then
    echo "pulse_session: pulseaudio did not come up:" >&2
    cat "$dir/pulse.log" >&2
    exit 1
fi

if [ "$feed" = ramp ]; then
    feed="$dir/ramp.raw"
    perl -e 'print pack("v*", 1 .. 65535)' >"$feed"
    loop=1
fi
listener_flag="$dir/listening"
rm -f "$listener_flag"
# 640 bytes (20 ms) at a time, paced by the clock so that sleeps do not add up. Wine's capture
# buffer holds about 100 ms: pieces of 100 ms overflow it now and then, and Wine drops the rest
# (measured: a ramp fed in 100 ms pieces lost 100 ms twice in 8 s, in 20 ms pieces nothing). The
# pipe is opened read-write so that the open never waits for a reader.
perl -e '
    my ($fifo, $feed, $loop, $flag) = @ARGV;
    open(my $in, "<:raw", $feed) or die "cannot read $feed: $!";
    my $audio = do { local $/; <$in> };
    open(my $out, "+<:raw", $fifo) or die "cannot open $fifo: $!";
    select((select($out), $| = 1)[0]);
    my $chunk = 640;
    my $silence = "\0" x $chunk;
    my $now = eval { require Time::HiRes; \&Time::HiRes::time } || sub { time };
    my $start = $now->();
    my ($sent, $at) = (0, 0);
    while (1) {
        my $piece;
        if ($flag ne "" && ! -e $flag) {
            $piece = $silence;
        } elsif ($at < length $audio) {
            $piece = substr($audio, $at, $chunk);
            $at += $chunk;
            $at = 0 if $loop && $at >= length $audio;
        } else {
            $piece = $silence;
        }
        print $out $piece;
        $sent += 1;
        my $ahead = $start + $sent * $chunk / 32000 - $now->();
        select(undef, undef, undef, $ahead) if $ahead > 0;
    }
' "$fifo" "$feed" "$loop" "$([ "$after_listener" = 1 ] && echo "$listener_flag")" &
feeder=$!

if [ "$after_listener" = 1 ]; then
    (
        while [ -z "$(pactl -s "unix:$socket" list short source-outputs 2>/dev/null)" ]; do
            sleep 0.05
        done
        touch "$listener_flag"
    ) &
    watcher=$!
fi

status=0
PULSE_SERVER="unix:$socket" "$@" || status=$?
exit "$status"
