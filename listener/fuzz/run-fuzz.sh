#!/usr/bin/env bash
# Builds the bindings reader with clang's libFuzzer, address and undefined sanitizers, and
# fuzzes it for a bounded time. Fails if the fuzzer finds anything.
#   run-fuzz.sh LISTENER-SOURCE-DIR WORK-DIR SECONDS
set -euo pipefail
src=$1 work=$2 seconds=$3
mkdir -p "$work/corpus"
cp -n "$src"/fuzz/seeds/* "$work/corpus/" 2>/dev/null || true
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$src" "$src/fuzz/bindings_fuzz.cpp" "$src/binding.cpp" "$src/json_text.cpp" "$src/upper_case_linux.cpp" \
    -lunistring -o "$work/bindings_fuzz"
cd "$work"
./bindings_fuzz -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 corpus 2>fuzz.log || {
    tail -n 40 fuzz.log >&2
    exit 1
}
grep -E '^(stat::number_of_executed_units|Done)' fuzz.log || true
