#!/usr/bin/env bash
# Fails when a built program needs a library outside the system's (/usr/lib, /System/Library),
# as a program linked to Homebrew's would: dyld stops it at launch on a Mac without Homebrew.
# Every architecture of a universal program is read on its own, since each slice has its own
# load commands.
#   .ci/macos/system_libraries_only.sh BUILD_DIR
set -uo pipefail
build=$1
failures=0
error() {
    echo "::error::$1"
    failures=$((failures + 1))
}
for program in listener/shortcut-listener probe/selection-probe updater/update-assistant; do
    path=$build/$program
    if ! archs=$(lipo -archs "$path"); then
        error "$program: no Mach-O program at $path"
        continue
    fi
    for arch in $archs; do
        echo "$program ($arch):"
        # One header line names the program; each line indented below it is one library.
        if ! listing=$(otool -arch "$arch" -L "$path"); then
            error "$program ($arch): otool could not list its libraries"
            continue
        fi
        libraries=0
        while read -r library _; do
            libraries=$((libraries + 1))
            case "$library" in
            /usr/lib/* | /System/Library/*) echo "    ok   $library" ;;
            *) error "$program ($arch) needs $library, which is not part of macOS" ;;
            esac
        done < <(grep '^[[:space:]]' <<<"$listing")
        # Every program needs at least libSystem; an empty list means the listing was not read.
        [ "$libraries" -gt 0 ] || error "$program ($arch): otool listed no library at all"
    done
done
exit "$failures"
