#!/usr/bin/env bash
# Screenshots of the real window with live readings: a 4-channel and a 20-channel window, each
# connected to a bus simulator with as many instruments, grabbed after a few seconds of polling.
#   scripts/screenshots.sh [OUTPUT_DIR]     (default: <build>/screenshots)
# Renders offscreen (no display needed). ZUZ_BUILD_DIR picks the build folder (default build/);
# the programs zuzavadi and zuzavadi-sim must be built there. Each simulator is stopped by its
# process id when its screenshot is taken.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ZUZ_BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)  # the window runs in a folder of its own
for program in zuzavadi zuzavadi-sim; do
    [ -x "$build/bin/$program" ] || { echo "missing $build/bin/$program (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
trap 'cleanup; rm -rf "$work"' EXIT

# Instruments for n channels at addresses 1..n, with a mix of ranges and reading shapes.
instruments() {
    local n=$1 i ranges=(2V 20V 200mV 10A 20mV 200V) shapes
    shapes=("sine 12000 9000 20" "walk 5230 40 1000 9000" "list 1500 1502 1507 1503")
    for ((i = 1; i <= n; i++)); do
        printf -- '-i\naddress=%d,serial=%08X,range=%s,flags=0x03,form=long,reading=%s\n' \
            "$i" $((0x1A2B3C00 + i)) "${ranges[i % ${#ranges[@]}]}" "${shapes[i % ${#shapes[@]}]}"
    done
}

shoot() {
    local n=$1 file=$out/window-$1ch.png pty="" args=()
    mapfile -t args < <(instruments "$n")
    # Ports are published in a private folder, so other simulators on the machine stay apart.
    ZUZAVADI_PORT_DIR=$work/ports "$build/bin/zuzavadi-sim" "${args[@]}" >"$work/sim$n.out" 2>"$work/sim$n.err" &
    sim_pid=$!
    for _ in $(seq 100); do
        pty=$(head -n 1 "$work/sim$n.out" 2>/dev/null || true)
        [ -n "$pty" ] && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$pty" ]; then
        echo "the simulator did not start:" >&2
        cat "$work/sim$n.err" >&2
        exit 1
    fi
    (cd "$work" && QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
        "$build/bin/zuzavadi" --screenshot "$file" --channels "$n" --port "$pty" --after-ms 5000)
    cleanup
    [ -s "$file" ] || { echo "no screenshot written for $n channels" >&2; exit 1; }
    echo "$file"
}

shoot 4
shoot 20
