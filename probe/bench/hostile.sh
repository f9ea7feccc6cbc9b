#!/usr/bin/env bash
# The probe's resource bound against hostile applications (probe/tests/hostile_atspi_app.py):
# for each hostile tree or text, the wall time from process start to JSON and the peak
# resident memory of one probe, over several runs, beside the bound the README states: the
# one-second budget plus a margin of 250 ms, and 64 MiB of the probe's own beyond what GDBus
# takes to decode the case's largest reply (it decodes every reply whole before anything can
# look at it: about 2.5 times a long string's size, about 512 bytes per (so) of a child list,
# 4 KiB per cache item). Runs on a private X server and bus.
#   probe/bench/hostile.sh [BUILD_DIR]     (default: build/dev)
# BENCH_SMOKE=1: the small sizes and one run per case, as the test suite runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build/dev}" && pwd)
if [ -z "${PROBE_BENCH_INSIDE:-}" ]; then
    exec "$top/testing/with-display" --dbus -- env PROBE_BENCH_INSIDE=1 bash "$0" "$build"
fi
probe=$build/probe/selection-probe
app=$top/probe/tests/hostile_atspi_app.py
if [ "${BENCH_SMOKE:-0}" = 1 ]; then
    runs=1 cases=("cache-loop 100" "fffc-flood 1" "background-crowd 100" "text-longer 1"
                  "password-child 1")
else
    runs=5 cases=("cache-loop 6000" "cache-loop 12000" "fffc-flood 64" "background-crowd 50000"
                  "background-crowd 200000" "text-longer 1" "password-child 1")
fi
budget_ms=1250 own_kib=$((64 * 1024))
# KiB that GDBus may hold decoding the largest reply of MODE N.
reply_allowance_kib() {
    case $1 in
        fffc-flood) echo $(($2 * 1024 * 5 / 2)) ;;
        text-longer) echo $((4 * 1024 * 5 / 2)) ;;
        background-crowd) echo $(($2 / 2)) ;;
        cache-loop) echo $(($2 * 4)) ;;
        *) echo 0 ;;
    esac
}
app_pid=""
trap '[ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null' EXIT

for case in "${cases[@]}"; do
    # shellcheck disable=SC2086  # the case is the mode and its size
    coproc APP { exec /usr/bin/python3 "$app" $case; }
    app_pid=$APP_PID
    read -r -t 600 line <&"${APP[0]}" || line=""
    [ "$line" = ready ] || { echo "hostile.sh: $case did not start" >&2; exit 1; }
    worst_ms=0 worst_kib=0
    for _ in $(seq "$runs"); do
        read -r seconds kib < <(/usr/bin/time -f "%e %M" "$probe" 2>&1 >/dev/null | tail -n 1)
        ms=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 1000 }')
        [ "$ms" -gt "$worst_ms" ] && worst_ms=$ms
        [ "$kib" -gt "$worst_kib" ] && worst_kib=$kib
    done
    kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true
    app_pid=""
    # shellcheck disable=SC2086
    memory_kib=$((own_kib + $(reply_allowance_kib $case)))
    verdict=within
    [ "$worst_ms" -le "$budget_ms" ] && [ "$worst_kib" -le "$memory_kib" ] || verdict=BEYOND
    printf 'probe, hostile %-24s worst %5d ms %6d KiB (bound %d ms, %d KiB): %s\n' \
        "$case" "$worst_ms" "$worst_kib" "$budget_ms" "$memory_kib" "$verdict"
done
