#!/usr/bin/env bash
# The three built programs as black boxes, as a host would run them, on macOS and on Linux:
#   .ci/macos/blackbox.sh BUILD_DIR
# BUILD_DIR must be configured with the test stubs as child programs of update-assistant:
#   -DUPDATER_COPY_PROGRAM=<repo>/updater/tests/stubs/copy -DUPDATER_COPY_OPTIONS='-a;--'
#   -DUPDATER_OPEN_PROGRAM=<repo>/updater/tests/stubs/open
# Each check prints "ok" or "FAIL"; the exit status is the number of failures (0 when all pass).
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# The programs name paths in their canonical form, and macOS's TMPDIR is neither canonical (it
# ends in "/", and /var is a link to /private/var) nor is a Linux TMPDIR that is a link: every
# path given to a program below starts from the canonical folder, so exact comparisons hold.
tmp=${TMPDIR:-/tmp}
made=$(mktemp -d "${tmp%/}/blackbox.XXXXXX") || exit 1
trap 'rm -rf "$made"' EXIT
work=$(cd "$made" && pwd -P) || exit 1
failures=0

pass() { echo "ok   $1"; }
fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}
expect() { # NAME CONDITION...
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# shortcut-listener: the built-in check of the state machine.
self_test=$("$build/listener/shortcut-listener" --self-test)
status=$?
expect "listener self-test exits 0" test "$status" = 0
expect "listener self-test line" test "$self_test" = \
    "native shortcut state-machine PASS; default, replacement, remapped and Caps Lock preservation"

# selection-probe: one compact JSON object, whichever answer the permission gives, and nothing
# on standard error. The record is judged parsed (it writes "/" as "\/"), its compactness apart.
"$build/probe/selection-probe" >"$work/probe.out" 2>"$work/probe.err"
status=$?
echo "     probe> $(cat "$work/probe.out")"
expect "probe exits 0" test "$status" = 0
expect "probe writes one valid compact record" python3 "$here/probe_record.py" "$work/probe.out"
expect "probe writes nothing on standard error" test ! -s "$work/probe.err"

# update-assistant, end to end on temporary bundles with the stub child programs.
make_bundle() { # PATH VERSION
    mkdir -p "$1/Contents"
    printf '%s' "$2" >"$1/Contents/version"
}
version() { cat "$1/Contents/version" 2>/dev/null; }
no_output() { ! [ -s "$1" ] && ! [ -s "$2" ]; } # OUT ERR: both files empty
# RUN-NAME [ENV=VALUE...]: installs a fresh 2.0 over a fresh 1.0 in $work/RUN-NAME.
update() {
    local dir=$work/$1
    shift
    mkdir -p "$dir/records"
    make_bundle "$dir/Applications/Orlavo.app" 1.0
    make_bundle "$dir/Downloads/Orlavo.app" 2.0
    env STUB_RECORD_DIR="$dir/records" "$@" "$build/updater/update-assistant" \
        "$dir/Applications/Orlavo.app" "$dir/Downloads/Orlavo.app" "${PARENT:-0}" "$dir/update.log" \
        >"$dir/assistant.out" 2>"$dir/assistant.err"
}

update installed
status=$?
dir=$work/installed
expect "success: exit status 0" test "$status" = 0
expect "success: log line" grep -Eqx \
    "Update installed; previous app preserved at $dir/Applications/Orlavo.app.update-previous-[0-9]+" \
    "$dir/update.log"
expect "success: new version in place" test "$(version "$dir/Applications/Orlavo.app")" = 2.0
expect "success: old version preserved" test \
    "$(version "$dir"/Applications/Orlavo.app.update-previous-*)" = 1.0
expect "success: opened the target" test "$(tr '\0' '\n' <"$dir/records/open.args")" = \
    "$dir/Applications/Orlavo.app"
expect "success: nothing on standard output or error" \
    no_output "$dir/assistant.out" "$dir/assistant.err"

update copy-fails STUB_COPY_STATUS=1
status=$?
dir=$work/copy-fails
expect "failed copy: exit status 0" test "$status" = 0
expect "failed copy: log line" grep -q "^Update failed: " "$dir/update.log"
expect "failed copy: old version kept" test "$(version "$dir/Applications/Orlavo.app")" = 1.0
expect "failed copy: no staging copy left" test ! -e "$dir/Applications/Orlavo.app.update-new"
expect "failed copy: nothing opened" test ! -e "$dir/records/open.args"

dir=$work/missing
mkdir -p "$dir"
make_bundle "$dir/Applications/Orlavo.app" 1.0
"$build/updater/update-assistant" "$dir/Applications/Orlavo.app" "$dir/Downloads/Orlavo.app" 0 \
    "$dir/update.log"
status=$?
expect "missing bundle: exit status 0" test "$status" = 0
expect "missing bundle: log line" test "$(cat "$dir/update.log")" = \
    "Verified update bundle is missing."
expect "missing bundle: target untouched" test "$(version "$dir/Applications/Orlavo.app")" = 1.0

# A real host that quits after a second: the update waits for it, then installs.
sleep 1 &
host=$!
PARENT=$host update waited
status=$?
dir=$work/waited
expect "waited for the host: exit status 0" test "$status" = 0
expect "waited for the host: host had ended" sh -c "! kill -0 $host 2>/dev/null"
expect "waited for the host: log line" grep -q "^Update installed; " "$dir/update.log"

expect "wrong argument count: exit status 2" sh -c \
    "'$build/updater/update-assistant' a b c; test \$? = 2"

echo "$failures failed"
exit "$failures"
