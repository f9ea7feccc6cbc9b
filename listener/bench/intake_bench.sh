#!/usr/bin/env bash
# Measures the X11 event source on a private X server:
#  1. key-to-line latency: XTest key sent -> line read on the listener's standard output
#     (Google Benchmark, 2000 presses per case; goal: median at most 1 ms);
#     and the time from the reader closing standard output to the listener's exit (goal: at
#     most 100 ms);
#  2. idle cost: the listener's CPU time and wake-ups over an idle minute (goal: 0).
#   listener/bench/intake_bench.sh [BUILD-DIR] [IDLE-SECONDS]
# BUILD-DIR defaults to build/bench-listener, configured here (RelWithDebInfo) when missing; it
# needs the tests and benchmarks, which the release preset leaves out.
# BENCH_SMOKE=1: one short iteration (20 presses per case, 3 exits, 1 idle second) in a build
# where the programs are built already, as the test suite runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/bench-listener}
counts=()
if [ "${BENCH_SMOKE:-0}" = 1 ]; then
    idle=${2:-1}
    counts=(--presses=20 --exits=3)
else
    idle=${2:-60}
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$build" -j 2 --target shortcut-listener intake_latency_bench >/dev/null
fi
listener="$build/listener/shortcut-listener"

echo "== key-to-line latency"
"$top/testing/with-display" -- "$build/listener/bench/intake_latency_bench" "$listener" \
    "${counts[@]}" --benchmark_counters_tabular=true

echo "== idle cost over ${idle} s"
# Runs inside the private server: starts the listener, samples its CPU time (clock ticks from
# /proc/PID/stat, nanoseconds on CPU from /proc/PID/schedstat) and its context switches before
# and after the idle period, then ends it.
idle_run() {
    local idle=$1 listener=$2 dir
    dir=$(mktemp -d)
    "$listener" >"$dir/out" 2>"$dir/err" </dev/null &
    local pid=$!
    for _ in $(seq 1 100); do
        grep -q 'ready: event tap' "$dir/err" 2>/dev/null && break
        sleep 0.05
    done
    sleep 1 # let start-up settle
    sample() {
        local stat ticks ns switches
        stat=$(sed 's/^.*) //' "/proc/$pid/stat")
        ticks=$(echo "$stat" | awk '{print $12 + $13}')
        ns=$(awk '{print $1}' "/proc/$pid/schedstat")
        switches=$(awk '/ctxt_switches/ {n += $2} END {print n}' "/proc/$pid/status")
        echo "$ticks $ns $switches"
    }
    read -r t0 n0 s0 < <(sample)
    sleep "$idle"
    read -r t1 n1 s1 < <(sample)
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "cpu ticks: $((t1 - t0)) (of $(getconf CLK_TCK)/s), on-cpu: $((n1 - n0)) ns," \
         "context switches: $((s1 - s0)), lines written: $(wc -l <"$dir/out")"
    rm -rf "$dir"
}
export -f idle_run
"$top/testing/with-display" -- bash -c 'idle_run "$@"' _ "$idle" "$listener"
