#!/usr/bin/env bash
# Fails unless each program of BUILD_DIR holds exactly the architectures named, each slice built
# for macOS (LC_BUILD_VERSION platform 1) with the deployment target 13.0 (minos 13.0):
#   .ci/macos/slices.sh BUILD_DIR ARCH...        e.g. arm64 x86_64 for a universal build
set -uo pipefail
build=$1
shift
# Architecture lists compared as sorted, space-separated words.
words() { printf '%s\n' "$@" | sort | paste -s -d ' ' -; }
want=$(words "$@")
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
    # shellcheck disable=SC2086 # one word per architecture
    have=$(words $archs)
    echo "$program: $archs"
    [ "$have" = "$want" ] || error "$program holds the architectures $have instead of $want"
    for arch in $archs; do
        # "platform N" and "minos V" of the slice's LC_BUILD_VERSION, or nothing without one.
        built_for=$(otool -arch "$arch" -l "$path" | awk '
            $1 == "cmd" { in_build = ($2 == "LC_BUILD_VERSION") }
            in_build && $1 == "platform" { platform = $2 }
            in_build && $1 == "minos" { print platform, $2; exit }')
        echo "    $arch: platform and minos: ${built_for:-none}"
        [ "$built_for" = "1 13.0" ] ||
            error "$program ($arch) is not built for macOS 13.0 (platform and minos: ${built_for:-none})"
    done
done
exit "$failures"
