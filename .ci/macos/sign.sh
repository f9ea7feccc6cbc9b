#!/usr/bin/env bash
# Signs the three programs of BUILD_DIR the way a host signs its helpers, with the hardened
# runtime, then checks each signature in every architecture:
#   .ci/macos/sign.sh BUILD_DIR IDENTIFIER_PREFIX [IDENTITY]
# IDENTITY defaults to "-", an ad hoc signature (a runner has no certificate; a host passes its
# "Developer ID Application: NAME (TEAMID)" and adds --timestamp). shortcut-listener and
# selection-probe carry no Info.plist and are given PREFIX.NAME as identifier; update-assistant's
# comes from the Info.plist linked into it, so the build must have been configured with
# -DUPDATER_BUNDLE_IDENTIFIER=PREFIX.update-assistant. Exit status: the number of failures.
set -uo pipefail
build=$1
prefix=$2
identity=${3:--}
failures=0
error() {
    echo "::error::$1"
    failures=$((failures + 1))
}
for program in listener/shortcut-listener probe/selection-probe updater/update-assistant; do
    name=${program##*/}
    path=$build/$program
    echo "$program:"
    if [ "$name" = update-assistant ]; then
        codesign --force --options runtime --sign "$identity" "$path"
    else
        codesign --force --options runtime --sign "$identity" --identifier "$prefix.$name" "$path"
    fi || {
        error "$program could not be signed"
        continue
    }
    codesign --verify --strict --verbose=2 "$path" 2>&1 | sed 's/^/    /'
    [ "${PIPESTATUS[0]}" = 0 ] || error "$program: its signature does not verify (--strict)"
    for arch in $(lipo -archs "$path"); do
        # codesign --display writes its report on standard error.
        details=$(codesign --display --verbose=2 --architecture "$arch" "$path" 2>&1)
        sed "s/^/    $arch: /" <<<"$details"
        grep -qx "Identifier=$prefix.$name" <<<"$details" ||
            error "$program ($arch) is not signed as $prefix.$name"
        grep -Eq '^CodeDirectory .*flags=0x[0-9a-f]+\([^)]*runtime' <<<"$details" ||
            error "$program ($arch) is signed without the hardened runtime"
    done
done
exit "$failures"
