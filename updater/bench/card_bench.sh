#!/usr/bin/env bash
# Time from start to the status card's first frame on screen, and peak memory, of the real
# update-assistant (built with the test copy program, copying without delay) on a warm private X
# server. Each run installs into fresh bundle folders and ends 1.0 s after its success.
#   updater/bench/card_bench.sh [BUILD_DIR] [RUNS]
# Needs the targets update-assistant-card and card_first_frame built in BUILD_DIR.
# BENCH_SMOKE=1: one short iteration (one warm-up run and RUNS=1), as the test suite runs it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build/dev}" && pwd)
if [ "${BENCH_SMOKE:-0}" = 1 ]; then
    runs=${2:-1} warm=1
else
    runs=${2:-20} warm=3
fi
program=$build/updater/tests/update-assistant-card
probe=$build/updater/tests/card_first_frame
for f in "$program" "$probe"; do
    [ -x "$f" ] || { echo "card_bench: $f is not built" >&2; exit 1; }
done

measure() {
    local work results
    work=$(mktemp -d)
    results=$work/results
    trap 'rm -rf "$work"' RETURN
    for i in $(seq 1 $((runs + warm))); do
        mkdir -p "$work/$i/Orlavo.app/Contents" "$work/$i/new/Orlavo.app/Contents"
        line=$(CARD_STUB_COPY_SECONDS=0 "$probe" 1238 762 -- "$program" "$work/$i/Orlavo.app" \
            "$work/$i/new/Orlavo.app" 0 "$work/$i/log")
        # The first runs warm the server, the font caches and the page cache.
        if [ "$i" -eq 1 ]; then echo "first run on a fresh X server: $line"; fi
        if [ "$i" -gt "$warm" ]; then echo "$line" >>"$results"; fi
        rm -rf "$work/$i"
    done
    python3 - "$results" <<'PY'
import statistics, sys
rows = [dict(kv.split("=") for kv in line.split()) for line in open(sys.argv[1])]
def col(name): return sorted(float(r[name]) for r in rows)
frame, mapped, rss, cpu = col("frame_ms"), col("map_ms"), col("maxrss_kib"), col("cpu_ms")
print(f"runs={len(rows)} exit statuses={sorted(set(r['exit'] for r in rows))}")
print(f"first frame ms: median {statistics.median(frame):.1f}  min {frame[0]:.1f}  max {frame[-1]:.1f}")
print(f"window mapped ms: median {statistics.median(mapped):.1f}")
print(f"CPU ms of the program until its first frame: median {statistics.median(cpu):.1f}  min {cpu[0]:.1f}")
print(f"peak RSS MiB: median {statistics.median(rss) / 1024:.1f}  max {rss[-1] / 1024:.1f}")
PY
}
export -f measure
export runs warm program probe
"$top/testing/with-display" -- bash -c measure
