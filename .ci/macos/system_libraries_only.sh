#!/usr/bin/env bash
# Fails when a built program needs a library outside the system's (/usr/lib, /System/Library),
# as a program linked to Homebrew's would: dyld stops it at launch on a Mac without Homebrew.
#   .ci/macos/system_libraries_only.sh BUILD_DIR
set -uo pipefail
build=$1
failures=0
for program in listener/shortcut-listener probe/selection-probe updater/update-assistant; do
    echo "$program:"
    # The first line names the program itself; each further line is one library it needs.
    while read -r library _; do
        case "$library" in
        /usr/lib/* | /System/Library/*) echo "    ok   $library" ;;
        *)
            echo "::error::$program needs $library, which is not part of macOS"
            failures=$((failures + 1))
            ;;
        esac
    done < <(otool -L "$build/$program" | tail -n +2)
done
exit "$failures"
