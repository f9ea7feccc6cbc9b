#!/usr/bin/env bash
# Builds the probe's reply decoding and tree logic with clang's libFuzzer, address and
# undefined sanitizers, and fuzzes them for a bounded time. Fails if the fuzzer finds anything.
#   run-fuzz.sh PROBE-SOURCE-DIR WORK-DIR SECONDS
set -euo pipefail
src=$1 work=$2 seconds=$3
mkdir -p "$work/corpus"
# shellcheck disable=SC2046  # pkg-config's flags are separate words
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$src" "$src/fuzz/replies_fuzz.cpp" "$src/replies_atspi.cpp" "$src/focus_choice.cpp" \
    "$src/text_assembly.cpp" "$src/text_atspi.cpp" "$src/boxes.cpp" "$src/utf.cpp" \
    "$src/bus_glib.cpp" $(pkg-config --cflags --libs gio-2.0) -o "$work/replies_fuzz"
cd "$work"
ASAN_OPTIONS=detect_leaks=0 ./replies_fuzz -max_total_time="$seconds" -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 corpus 2>fuzz.log || {
    tail -n 40 fuzz.log >&2
    exit 1
}
grep -E '^(stat::number_of_executed_units|Done)' fuzz.log || true
