#!/usr/bin/env bash
# Times selection-probe from process start to JSON and records its peak memory, against the
# small test window and one with about 6000 extra accessible objects; a libatspi client doing
# the same search is measured alongside, and the D-Bus method calls of one run of each on the
# accessibility bus are counted (bench/count_calls.py). Runs on a private X server and bus.
#   probe/bench/run.sh [BUILD_DIR]     (default: build/dev, configured RelWithDebInfo)
# BENCH_SMOKE=1: one short iteration (2 timed runs, 1 memory run and 1 counted run per case,
# 3 background windows, 100 extra objects), as the test suite runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build/dev}" && pwd)
if [ "${BENCH_SMOKE:-0}" = 1 ]; then
    smoke=1 background_count=3 extra=100 memory_runs=1 counted=1
else
    smoke=0 background_count=20 extra=6000 memory_runs=20 counted=5
fi
if [ -z "${PROBE_BENCH_INSIDE:-}" ]; then
    exec "$top/testing/with-display" --dbus -- env PROBE_BENCH_INSIDE=1 bash "$0" "$build"
fi
probe=$build/probe/selection-probe
libatspi=$build/probe/bench/probe_libatspi_bench
app=$build/probe/tests/probe_text_app
out=$(mktemp -d "${TMPDIR:-/tmp}/probe-bench.XXXXXX")
app_pid=""
background=()
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; fi
    stop_background
    rm -rf "$out"
}

# Windows that are open but not focused, each an application on the accessibility bus.
start_background() {
    local i hold
    # The windows quit when their standard input closes; a fifo held open here keeps them.
    mkfifo "$out/hold"
    exec {hold}<>"$out/hold"
    for i in $(seq "$1"); do
        "$app" --text "background $i" --end -1 --left $((150 + 10 * i)) <&$hold >/dev/null 2>&1 &
        background+=($!)
    done
    sleep 3
}

stop_background() {
    local pid
    for pid in "${background[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    background=()
}
trap cleanup EXIT

# Starts the window and waits for "ready" and for the probe to see its selection.
start_app() {
    coproc APP { exec "$app" --text "Hello world" --start 0 --end 5 "$@" 2>/dev/null; }
    app_pid=$APP_PID
    read -r -t 60 line <&"${APP[0]}"
    [ "$line" = ready ] || { echo "run.sh: test window did not start" >&2; exit 1; }
    # A window with thousands of objects can take a while to answer, and each probe that
    # gives up leaves its search queued in the window: the pauses grow, so that a backlog
    # of searches drains instead of growing.
    local until=$((SECONDS + 180)) pause=0.1
    while [ "$SECONDS" -lt "$until" ]; do
        "$probe" | grep -q selectedLength && return 0
        sleep "$pause"
        pause=$(awk -v p="$pause" 'BEGIN {print (p * 2 > 8) ? 8 : p * 2}')
    done
    echo "run.sh: probe does not see the window" >&2
    exit 1
}

stop_app() {
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

a11y_address() {
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.a11y.Bus.GetAddress | sed -n "s/^('\(.*\)',)\$/\1/p"
}

# Median and 90th percentile of the hyperfine runs in ms, the largest peak RSS of $memory_runs runs in KiB, and the
# median number of D-Bus calls of one run.
measure() {
    local name=$1 program=$2 runs=${3:-60} warmup=3
    [ "$smoke" = 1 ] && runs=2 warmup=0
    hyperfine -N --warmup "$warmup" --runs "$runs" --export-json "$out/$name.json" "$program" >/dev/null 2>&1
    local median
    median=$(python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][0]; t=sorted(r['times']); print('%.1f ms, p90 %.1f' % (r['median']*1000, t[int(len(t)*0.9)]*1000))" "$out/$name.json")
    local peak=0 rss
    for _ in $(seq "$memory_runs"); do
        rss=$( { /usr/bin/time -v "$program" >/dev/null; } 2>&1 | awk '/Maximum resident/ {print $NF}')
        [ "$rss" -gt "$peak" ] && peak=$rss
    done
    local calls
    calls=$(python3 "$top/probe/bench/count_calls.py" "$(a11y_address)" "$program" "$counted" |
        sed -n 1p)
    printf '%-34s median %s   peak RSS %6.1f MiB   D-Bus calls %s\n' "$name" "$median" \
        "$(awk -v k="$peak" 'BEGIN {print k / 1024}')" "$calls"
}

start_app
measure "probe, small window" "$probe"
[ -x "$libatspi" ] && measure "libatspi client, small window" "$libatspi"
echo "  output: $("$probe")"
stop_app

# 3760 characters (3840 UTF-16 units, 80 emoji) against a short selection in the same view.
long_text="abcdefghijklmnopqrstuvwxyz $(printf '\360\237\230\200') abcdefghijklmnopq "
start_app --view text --text "$long_text" --repeat 80 --start 0 --end 5
measure "probe, short selection in a view" "$probe"
stop_app
start_app --view text --text "$long_text" --repeat 80 --start 0 --end -1
measure "probe, 3760 characters selected" "$probe"
echo "  output: $("$probe" | head -c 120)..."
stop_app

start_background $((background_count - 1))
start_app
measure "probe, $background_count applications" "$probe"
[ -x "$libatspi" ] && measure "libatspi client, $background_count applications" "$libatspi" 20
echo "  output: $("$probe")"
stop_app
stop_background

start_app --extra "$extra"
measure "probe, $extra extra objects" "$probe"
[ -x "$libatspi" ] && measure "libatspi client, $extra extra objects" "$libatspi" 10
echo "  output: $("$probe")"
stop_app
