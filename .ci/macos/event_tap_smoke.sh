#!/usr/bin/env bash
# Smoke test of shortcut-listener's event tap on a macOS runner:
#   .ci/macos/event_tap_smoke.sh BUILD_DIR
# Starts the listener with the default chords, posts fn + Control through CGEventPost and expects
# "speak" on its standard output. Where the runner has not granted the permissions (no event tap,
# or no right to post events) it says so in a warning and passes, since nothing can be shown.
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tap-smoke.XXXXXX")
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

clang -Wall -Wextra -Werror -mmacosx-version-min=13.0 -o "$work/post-chord" \
    "$here/post_chord_macos.c" -framework ApplicationServices || exit 1

"$build/listener/shortcut-listener" >"$work/out" 2>"$work/err" </dev/null &
pid=$!
# "ready: event tap" once the tap is made; the monitors' notice instead when it cannot be.
for _ in $(seq 1 600); do
    grep -q -e "^ready: event tap$" -e "^event tap unavailable" "$work/err" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
echo "listener stderr:"
sed 's/^/    /' "$work/err"
if grep -q "^event tap unavailable" "$work/err"; then
    echo "::warning::event tap smoke test not run: this runner did not grant the listener an event tap (Accessibility / Input Monitoring)"
    exit 0
fi
if ! grep -q "^ready: event tap$" "$work/err"; then
    echo "FAIL the listener reported neither its tap nor its monitors"
    exit 1
fi

# The ready line comes just before the tap is enabled, so the chord is posted again (up to five
# times, 5 s apart) until the listener has answered it.
for attempt in 1 2 3 4 5; do
    "$work/post-chord"
    status=$?
    if [ "$status" = 3 ]; then
        echo "::warning::event tap smoke test not run: this runner may not post synthetic events (Accessibility)"
        exit 0
    fi
    [ "$status" = 0 ] || { echo "FAIL post-chord exited with $status"; exit 1; }
    for _ in $(seq 1 50); do
        grep -qx "speak" "$work/out" && break 2
        sleep 0.1
    done
    echo "no \"speak\" yet after posting the chord $attempt time(s)"
done
echo "listener stdout:"
sed 's/^/    /' "$work/out"
if grep -qx "speak" "$work/out"; then
    echo "ok   fn + Control posted through CGEventPost gave \"speak\""
    exit 0
fi
echo "FAIL no \"speak\" line after fn + Control"
exit 1
