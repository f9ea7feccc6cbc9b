#!/usr/bin/env bash
# Drives the built shortcut-listener as a black box: self-test, junk bindings, record mode,
# silence at start-up, and exit when the reader of standard output goes away.
#   blackbox.sh PATH-TO-shortcut-listener
set -uo pipefail
bin=$1
pass='native shortcut state-machine PASS; default, replacement, remapped and Caps Lock preservation'
failures=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

check() { # name, expected status, expected stdout, expected stderr, args...
    local name=$1 want_status=$2 want_out=$3 want_err=$4; shift 4
    "$bin" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
    local status=$?
    local out err
    out=$(cat "$tmp/out"); err=$(cat "$tmp/err")
    if [ "$status" != "$want_status" ] || [ "$out" != "$want_out" ] || [ "$err" != "$want_err" ]; then
        echo "FAIL $name: status $status (want $want_status), stdout [$out], stderr [$err]"
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

check self-test 0 "$pass" "" --self-test
check self-test-option-alias 0 "$pass" "" --option-alias --self-test
check self-test-junk-bindings 0 "$pass" "" --self-test --bindings '{"read":'
check self-test-bindings-last 0 "$pass" "" --self-test --bindings

# The pass line ends in exactly one line feed.
"$bin" --self-test | od -An -c | tr -s ' ' | tail -c 8 | grep -q '\\n' || {
    echo "FAIL pass line has no line feed"; failures=$((failures + 1)); }

# With --record the self-test fails: non-zero status, no pass line.
"$bin" --self-test --record >"$tmp/out" 2>"$tmp/err"
status=$?
if [ "$status" = 0 ] || grep -qF "$pass" "$tmp/out" || [ -s "$tmp/err" ]; then
    echo "FAIL self-test-record: status $status, stdout [$(cat "$tmp/out")]"
    failures=$((failures + 1))
else
    echo "ok   self-test-record (status $status)"
fi

# Outside the self-test nothing is written to standard output at start-up, whatever the event
# source does. Give it a moment, then end it.
for args in "" "--bindings junk" "--record"; do
    # shellcheck disable=SC2086
    "$bin" $args >"$tmp/out" 2>"$tmp/err" </dev/null &
    pid=$!
    sleep 0.3
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    if [ -s "$tmp/out" ]; then
        echo "FAIL start-up [$args] wrote to standard output: $(cat "$tmp/out")"
        failures=$((failures + 1))
    else
        echo "ok   start-up [$args] is silent on standard output"
    fi
done

# A closed standard output ends the listener with status 0 at its first line.
python3 - "$bin" <<'PY' || failures=$((failures + 1))
import os, subprocess, sys
r, w = os.pipe()
os.close(r)  # nobody reads: the first write fails with EPIPE
p = subprocess.run([sys.argv[1], "--self-test"], stdout=w, stderr=subprocess.PIPE, timeout=20)
os.close(w)
if p.returncode != 0 or p.stderr:
    print(f"FAIL closed-stdout: status {p.returncode}, stderr {p.stderr!r}")
    sys.exit(1)
print("ok   closed-stdout ends with status 0")
PY

[ "$failures" = 0 ]
