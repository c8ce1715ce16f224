#!/usr/bin/env bash
# Measures what zuzavadi-log costs on a bus of 20 instruments: it runs the logger for a while
# (60 s by default) against zuzavadi-sim, recording one row per rotation, and reports the CPU
# time it used per second of running and its peak resident memory. Other load on the machine
# (a build, a fuzzer) makes the CPU figure noisy: measure on a quiet machine.
#
#   bench/logger_bench.sh [SECONDS] [extra logger options...]
#   ZUZ_BIN_DIR=build-x/bin bench/logger_bench.sh 30 --print
#
# Goals: below 0.2 % of one core (2 ms of CPU per second) and below 5 MB peak RSS. Then, for
# comparison, zuzavadi-poll-floor for as long: what 20 request/reply rounds a second cost on
# this machine with nothing else done (on a virtual machine that alone can be most of 2 ms).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${ZUZ_BIN_DIR:-build/bin}
seconds=${1:-60}
shift || true
for program in zuzavadi-log zuzavadi-sim; do
    [ -x "$bin/$program" ] || { echo "missing $bin/$program (build first, or set ZUZ_BIN_DIR)" >&2; exit 1; }
done

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export ZUZAVADI_PORT_DIR="$work/ports"

instruments=()
for address in $(seq 1 20); do
    instruments+=(--instrument "address=$address,serial=$(printf '%08X' $((0x10000 + address))),range=20V,flags=0x03,reading=walk 100000 37 90000 110000")
done
"$bin/zuzavadi-sim" "${instruments[@]}" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/sim.out")
[ -n "$port" ] || { echo "the simulator did not start: $(cat "$work/sim.err")" >&2; exit 1; }

mkdir "$work/run"
# The subshell waits for the logger alone, so its `times` (second line: the children's user and
# system time, from the kernel's own accounting, to the millisecond) is the logger's CPU time.
log_bin="$(cd "$bin" && pwd)/zuzavadi-log"
(
    cd "$work/run"
    status=0
    "$log_bin" --port "$port" --channels 20 --record auto --duration "$seconds" "$@" \
        >"$work/log.out" 2>"$work/log.err" &
    echo $! >"$work/log.pid"
    wait $! || status=$?
    times >"$work/times"
    exit $status
) &
runner=$!
for _ in $(seq 50); do [ -s "$work/log.pid" ] && break; sleep 0.1; done
log_pid=$(cat "$work/log.pid")

# Peak resident memory: the kernel's high-water mark, read with builtins only (a sampler that
# forks would disturb what it measures) until the logger ends.
peak_kb=0
while kill -0 "$log_pid" 2>/dev/null; do
    while read -r key value _; do
        [ "$key" = "VmHWM:" ] && peak_kb=$value
    done 2>/dev/null <"/proc/$log_pid/status" || true
    sleep 0.5
done
status=0
wait "$runner" || status=$?
# "0m0.012s 0m0.004s" on the second line: minutes and seconds, user then system.
cpu_ns=$(awk 'NR == 2 {
    n = 0
    for (i = 1; i <= 2; i++) { split($i, p, "m"); sub("s", "", p[2]); n += p[1] * 60 + p[2] }
    printf "%.0f", n * 1e9
}' "$work/times")

rows=$(find "$work/run" -name 'Sample*.csv' -exec sh -c 'tail -n +4 "$1" | wc -l' _ {} \;)
awk -v ns="$cpu_ns" -v s="$seconds" -v kb="$peak_kb" -v rows="${rows:-0}" -v st="$status" 'BEGIN {
    cpu_ms = ns / 1000000
    printf "logger ran %d s against 20 instruments (exit status %d), %d rows recorded\n", s, st, rows
    printf "CPU time: %.1f ms in total, %.2f ms per second = %.3f %% of one core (goal < 0.2 %%)\n", cpu_ms, cpu_ms / s, cpu_ms / s / 10
    printf "peak RSS: %d kB = %.2f MB (goal < 5 MB)\n", kb, kb / 1024
}'
grep -c ' -- ' "$work/log.out" | awk '{print "status lines printed: " $1}'
# The same length of the least a poller can do here, for comparison (the machine's own cost of
# 20 wake-ups, reads and writes a second).
if [ -x "$bin/zuzavadi-poll-floor" ]; then
    "$bin/zuzavadi-poll-floor" "$seconds"
fi
