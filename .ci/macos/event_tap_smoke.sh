#!/usr/bin/env bash
# Smoke test of shortcut-listener's event tap on a macOS runner:
#   .ci/macos/event_tap_smoke.sh BUILD_DIR
# Two cases, each with a listener of its own: the default chords with fn + Control posted
# through CGEventPost, and a keyed binding (Control+R) with that chord posted, since a tap that
# the system made with its key events cleared still sees modifier chords. Each expects "speak" on
# the listener's standard output, through the active tap or, without the Accessibility
# permission, through the listen-only fallback. Where the runner grants neither (no "speak" after
# the fallback notice, or no right to post events) nothing can be shown: the case is SKIPPED,
# says so in a GitHub warning annotation, and is never reported as a pass.
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# The temporary folder in its canonical form (macOS's TMPDIR ends in "/" and lies under the link
# /var), as blackbox.sh makes it, so that any path named here is the one the programs report.
tmp=${TMPDIR:-/tmp}
made=$(mktemp -d "${tmp%/}/tap-smoke.XXXXXX") || exit 1
pid=""
stop_listener() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    pid=""
}
trap 'stop_listener; rm -rf "$made"' EXIT
work=$(cd "$made" && pwd -P) || exit 1

clang -Wall -Wextra -Werror -mmacosx-version-min=13.0 -o "$work/post-chord" \
    "$here/post_chord_macos.c" -framework ApplicationServices || exit 1

failures=0
skip() {
    echo "::warning::event tap smoke test SKIPPED ($case): $1"
    echo "SKIPPED (not a pass) $case: $1"
}

# CASE POST-CHORD-ARGUMENT [LISTENER-ARGUMENTS...]: one listener, one chord, "speak" expected.
run_case() {
    case=$1
    local chord=$2
    shift 2
    "$build/listener/shortcut-listener" "$@" >"$work/out" 2>"$work/err" </dev/null &
    pid=$!
    # "ready: event tap" once the tap is made; the monitors' notice instead when it cannot be.
    for _ in $(seq 1 600); do
        grep -q -e "^ready: event tap$" -e "^event tap unavailable" "$work/err" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "[$case] listener stderr:"
    sed 's/^/    /' "$work/err"
    local fallback=""
    grep -q "^event tap unavailable" "$work/err" && fallback=" (through the watch-only fallback)"
    if [ -z "$fallback" ] && ! grep -q "^ready: event tap$" "$work/err"; then
        echo "FAIL $case: the listener reported neither its tap nor its monitors"
        failures=$((failures + 1))
        stop_listener
        return
    fi
    # The ready line comes just before the tap is enabled, so the chord is posted again (up to
    # five times, 5 s apart) until the listener has answered it.
    local status
    for attempt in 1 2 3 4 5; do
        "$work/post-chord" ${chord:+"$chord"}
        status=$?
        if [ "$status" = 3 ]; then
            skip "this runner may not post synthetic events (Accessibility)"
            stop_listener
            return
        fi
        if [ "$status" != 0 ]; then
            echo "FAIL $case: post-chord exited with $status"
            failures=$((failures + 1))
            stop_listener
            return
        fi
        for _ in $(seq 1 50); do
            grep -qx "speak" "$work/out" && break 2
            sleep 0.1
        done
        echo "[$case] no \"speak\" yet after posting the chord $attempt time(s)"
    done
    stop_listener
    echo "[$case] listener stdout:"
    sed 's/^/    /' "$work/out"
    if grep -qx "speak" "$work/out"; then
        echo "ok   $case gave \"speak\"$fallback"
    elif [ -n "$fallback" ]; then
        # Without the permissions a fallback may see nothing: neither tap could be made, and the
        # monitors see no keys for a process that is not trusted.
        skip "no event tap granted (Accessibility / Input Monitoring); no \"speak\" through the fallback"
    else
        echo "FAIL $case: no \"speak\" line"
        failures=$((failures + 1))
    fi
}

run_case "fn + Control, default chords" ""
run_case "Control+R, a keyed binding" keyed --bindings \
    '{"read":{"fn":false,"control":true,"option":false,"shift":false,"command":false,"keyCode":15,"keyLabel":"R"}}'
exit "$failures"
