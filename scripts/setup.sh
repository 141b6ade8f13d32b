#!/usr/bin/env bash
# Prepares a Debian 12 machine for building Kelmor:
#   1. installs the Debian packages the build and the tests need, when missing;
#   2. fetches the prebuilt sherpa-onnx engine from the npm registry, checks it against
#      the integrity value pinned in scripts/sherpa-onnx.lock and unpacks it into third_party/.
# Idempotent: a second run only compares package lists and stamp files.
#
# Usage: scripts/setup.sh [--windows]   (--windows also fetches the Windows engine package)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
want_windows=0
for arg in "$@"; do
    case "$arg" in
        --windows) want_windows=1 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "setup.sh: unknown argument: $arg" >&2; exit 2 ;;
    esac
done

debian_packages=(
    g++ cmake ninja-build pkg-config make
    clang lld libclang-rt-14-dev clang-format
    libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev libasound2-dev libsentencepiece-dev
    ca-certificates
    alsa-utils libasound2-plugins pulseaudio espeak-ng sox
    # the accuracy evaluation (scripts/eval.sh): a second voice, plots, the peer it is compared with
    flite gnuplot-nox python3 libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
)
# npm may come with a nodejs package from outside Debian, which then conflicts with Debian's npm.
command -v npm >/dev/null 2>&1 || debian_packages+=(nodejs npm)
if [ "$want_windows" = 1 ]; then
    debian_packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64)
fi

missing=()
for p in "${debian_packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing Debian packages: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Fetches one pinned npm package into third_party/<name>/ unless the stamp says it is there.
fetch_engine() {
    local name=$1 version=$2 integrity=$3
    local dest="$root/third_party/$name"
    local stamp="$dest/.kelmor-integrity"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$name@$version $integrity" ]; then
        return 0
    fi
    echo "setup: fetching $name@$version from the npm registry"
    local tmp
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' RETURN
    (cd "$tmp" && npm pack --silent "$name@$version" >/dev/null)
    local tarball
    tarball=$(ls "$tmp"/*.tgz)
    local actual
    actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
    if [ "$actual" != "$integrity" ]; then
        echo "setup: integrity mismatch for $name@$version" >&2
        echo "  pinned: $integrity" >&2
        echo "  got:    $actual" >&2
        return 1
    fi
    rm -rf "$dest"
    mkdir -p "$dest"
    tar -xzf "$tarball" -C "$dest" --strip-components=1
    echo "$name@$version $integrity" > "$stamp"
}

while read -r name version integrity; do
    case "$name" in ''|'#'*) continue ;; esac
    case "$name" in *-win-*) [ "$want_windows" = 1 ] || continue ;; esac
    fetch_engine "$name" "$version" "$integrity"
done < "$root/scripts/sherpa-onnx.lock"

echo "setup: ready"
