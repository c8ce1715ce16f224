#!/usr/bin/env bash
# Measures what zuzavadi-log costs on a bus of 20 instruments: it runs the logger for a while
# (60 s by default) against zuzavadi-sim, recording one row per rotation, and reports the CPU
# time it used per second of running and its peak resident memory, both read from /proc.
#
#   bench/logger_bench.sh [SECONDS] [extra logger options...]
#   ZUZ_BIN_DIR=build-x/bin bench/logger_bench.sh 30 --print
#
# Goals: below 0.2 % of one core (2 ms of CPU per second) and below 5 MB peak RSS.
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
(cd "$work/run" && exec "$(cd - >/dev/null && cd "$bin" && pwd)/zuzavadi-log" --port "$port" --channels 20 \
    --record auto --duration "$seconds" "$@" >"$work/log.out" 2>"$work/log.err") &
log_pid=$!

# Sample until the logger ends; the last sample before it exits holds its totals. CPU time is
# the sum over its threads of /proc/PID/task/TID/schedstat (nanoseconds on a CPU); without
# schedstat, user + system time from /proc/PID/stat (clock ticks, coarser).
tick=$(getconf CLK_TCK)
cpu_ns=0
peak_kb=0
while kill -0 "$log_pid" 2>/dev/null; do
    if hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$log_pid/status" 2>/dev/null) && [ -n "$hwm" ]; then
        peak_kb=$hwm
        if ns=$(cat /proc/"$log_pid"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {print s + 0}') && [ "$ns" -gt 0 ]; then
            cpu_ns=$ns
        elif stat_line=$(cat "/proc/$log_pid/stat" 2>/dev/null); then
            # Fields 14 and 15 (user and system time), counted after the command's closing parenthesis.
            rest=${stat_line##*) }
            read -r -a fields <<<"$rest"
            cpu_ns=$(( (fields[11] + fields[12]) * 1000000000 / tick ))
        fi
    fi
    sleep 0.2
done
status=0
wait "$log_pid" || status=$?

rows=$(find "$work/run" -name 'Sample*.csv' -exec sh -c 'tail -n +4 "$1" | wc -l' _ {} \;)
awk -v ns="$cpu_ns" -v s="$seconds" -v kb="$peak_kb" -v rows="${rows:-0}" -v st="$status" 'BEGIN {
    cpu_ms = ns / 1000000
    printf "logger ran %d s against 20 instruments (exit status %d), %d rows recorded\n", s, st, rows
    printf "CPU time: %.1f ms in total, %.2f ms per second = %.3f %% of one core (goal < 0.2 %%)\n", cpu_ms, cpu_ms / s, cpu_ms / s / 10
    printf "peak RSS: %d kB = %.2f MB (goal < 5 MB)\n", kb, kb / 1024
}'
grep -c ' -- ' "$work/log.out" | awk '{print "status lines printed: " $1}'
