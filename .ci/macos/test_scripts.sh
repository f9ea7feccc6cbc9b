#!/usr/bin/env bash
# Cases for the macOS CI scripts that read lipo, otool and codesign (slices.sh,
# system_libraries_only.sh, sign.sh), on any system: stand-ins for those tools print what
# Xcode's print, from files beside each fake program.
#   bash .ci/macos/test_scripts.sh
# Each case prints "ok" or "FAIL"; the exit status is the number of failures.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
made=$(mktemp -d "${TMPDIR:-/tmp}/ci-scripts.XXXXXX") || exit 1
trap 'rm -rf "$made"' EXIT
work=$(cd "$made" && pwd -P) || exit 1
mkdir "$work/bin"

# lipo -archs PATH prints PATH.archs.
cat >"$work/bin/lipo" <<'SH'
#!/bin/sh
[ "$1" = -archs ] && [ -f "$2.archs" ] || { echo "lipo: can't open input file: $2" >&2; exit 1; }
cat "$2.archs"
SH
# otool -arch ARCH -L PATH prints PATH.ARCH.libs; -l prints PATH.ARCH.loads.
cat >"$work/bin/otool" <<'SH'
#!/bin/sh
case "$3" in -L) kind=libs ;; -l) kind=loads ;; *) exit 64 ;; esac
[ "$1" = -arch ] && [ -f "$4.$2.$kind" ] || { echo "otool: $4: no such architecture $2" >&2; exit 1; }
cat "$4.$2.$kind"
SH
# codesign: signing records its arguments in PATH.sign-args; --verify exits with the status in
# PATH.verify-status (default 0); --display --architecture ARCH prints PATH.ARCH.display on
# standard error, as codesign does.
cat >"$work/bin/codesign" <<'SH'
#!/bin/sh
for path; do :; done
case "$1" in
--force) printf '%s\n' "$@" >"$path.sign-args" ;;
--verify) echo "$path: valid on disk"; exit "$(cat "$path.verify-status" 2>/dev/null || echo 0)" ;;
--display)
    while [ "$1" != --architecture ]; do shift; done
    cat "$path.$2.display" >&2 ;;
esac
SH
chmod +x "$work/bin/"*

programs="listener/shortcut-listener probe/selection-probe updater/update-assistant"
# A fresh build folder whose programs hold ARCH... slices, each built for macOS 13.0, needing
# only system libraries, and signed ad hoc with the hardened runtime.
make_build() {
    build=$work/build-$((++builds))
    for program in $programs; do
        local path=$build/$program name=${program##*/}
        mkdir -p "${path%/*}" && touch "$path"
        echo "$*" >"$path.archs"
        for arch in "$@"; do
            if [ $# -gt 1 ]; then echo "$path (architecture $arch):"; else echo "$path:"; fi \
                >"$path.$arch.libs"
            printf '\t%s (compatibility version 1.0.0, current version 1.0.0)\n' \
                /System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation \
                /usr/lib/libc++.1.dylib /usr/lib/libSystem.B.dylib >>"$path.$arch.libs"
            loads "$path.$arch.loads" 1 13.0
            printf '%s\n' "Executable=$path" "Identifier=com.example.orlavo.$name" \
                "Format=Mach-O universal ($*)" \
                "CodeDirectory v=20500 size=1234 flags=0x10002(adhoc,runtime) hashes=27+7 location=embedded" \
                "Signature=adhoc" >"$path.$arch.display"
        done
    done
}
# FILE PLATFORM MINOS: the load commands around an LC_BUILD_VERSION, as otool -l prints them.
loads() {
    cat >"$1" <<EOF
Load command 9
      cmd LC_SOURCE_VERSION
  cmdsize 16
  version 0.0
Load command 10
      cmd LC_BUILD_VERSION
  cmdsize 32
 platform $2
    minos $3
      sdk 15.2
   ntools 1
     tool 3
  version 1115.7.3
Load command 11
      cmd LC_MAIN
  cmdsize 24
EOF
}
builds=0
failures=0
# NAME STATUS PATTERN SCRIPT ARGS...: the script's exit status must be STATUS (0, or "non-zero")
# and its output must match the extended regular expression PATTERN.
case_() {
    local name=$1 want=$2 pattern=$3 status=0
    shift 3
    PATH="$work/bin:$PATH" bash "$here/$1" "${@:2}" >"$work/out" 2>&1 || status=$?
    if { [ "$want" = 0 ] && [ "$status" = 0 ]; } || { [ "$want" != 0 ] && [ "$status" != 0 ]; }; then
        if grep -Eq -- "$pattern" "$work/out"; then
            echo "ok   $name"
            return
        fi
    fi
    echo "FAIL $name (status $status, wanted $want; output must match: $pattern)"
    sed 's/^/     | /' "$work/out"
    failures=$((failures + 1))
}

make_build arm64 x86_64
case_ "universal: every slice needs system libraries only" 0 \
    "update-assistant \(x86_64\):" system_libraries_only.sh "$build"
case_ "universal: each program holds both slices, built for macOS 13.0" 0 \
    "update-assistant: arm64 x86_64" slices.sh "$build" arm64 x86_64
case_ "universal: the order of the architectures does not matter" 0 "" \
    slices.sh "$build" x86_64 arm64

make_build arm64 x86_64
printf '\t%s (compatibility version 12.0.0, current version 12.0.0)\n' \
    /usr/local/opt/fmt/lib/libfmt.12.dylib >>"$build/probe/selection-probe.x86_64.libs"
case_ "a Homebrew library in the x86_64 slice alone" non-zero \
    "selection-probe \(x86_64\) needs /usr/local/opt/fmt/lib/libfmt.12.dylib" \
    system_libraries_only.sh "$build"

make_build arm64
rm "$build/updater/update-assistant"*
case_ "a program that was not built fails the library check" non-zero \
    "update-assistant: no Mach-O program" system_libraries_only.sh "$build"
case_ "a program that was not built fails the slice check" non-zero \
    "update-assistant: no Mach-O program" slices.sh "$build" arm64

make_build arm64
rm "$build/listener/shortcut-listener.arm64.libs"
case_ "otool failing is a failure, not an empty list" non-zero \
    "shortcut-listener \(arm64\): otool could not list" system_libraries_only.sh "$build"

make_build arm64
case_ "native build: one slice, system libraries only" 0 "ok   /usr/lib/libSystem.B.dylib" \
    system_libraries_only.sh "$build"
case_ "native build: the one slice wanted" 0 "selection-probe: arm64" slices.sh "$build" arm64
case_ "a thin program where a universal one is wanted" non-zero \
    "holds the architectures arm64 instead of arm64 x86_64" slices.sh "$build" arm64 x86_64

make_build arm64 x86_64
loads "$build/updater/update-assistant.x86_64.loads" 1 14.0
case_ "one slice built for macOS 14.0" non-zero \
    "update-assistant \(x86_64\) is not built for macOS 13.0 \(platform and minos: 1 14.0\)" \
    slices.sh "$build" arm64 x86_64

make_build arm64 x86_64
sed -i.orig 's/LC_BUILD_VERSION/LC_VERSION_MIN_MACOSX/' "$build/listener/shortcut-listener.arm64.loads"
case_ "a slice without LC_BUILD_VERSION" non-zero \
    "shortcut-listener \(arm64\) is not built for macOS 13.0 \(platform and minos: none\)" \
    slices.sh "$build" arm64 x86_64

make_build arm64 x86_64
case_ "signed ad hoc with the hardened runtime, each with its identifier" 0 \
    "x86_64: Identifier=com.example.orlavo.update-assistant" sign.sh "$build" com.example.orlavo
if grep -qx -- "--identifier" "$build/listener/shortcut-listener.sign-args" &&
    grep -qx "com.example.orlavo.shortcut-listener" "$build/listener/shortcut-listener.sign-args" &&
    grep -qx -- "runtime" "$build/listener/shortcut-listener.sign-args" &&
    ! grep -qx -- "--identifier" "$build/updater/update-assistant.sign-args"; then
    echo "ok   bare helpers are given an identifier; update-assistant keeps its Info.plist's"
else
    echo "FAIL signing arguments:" "$(cat "$build"/*/*.sign-args)"
    failures=$((failures + 1))
fi

make_build arm64 x86_64
sed -i.orig 's/(adhoc,runtime)/(adhoc)/' "$build/probe/selection-probe.x86_64.display"
case_ "a slice signed without the hardened runtime" non-zero \
    "selection-probe \(x86_64\) is signed without the hardened runtime" \
    sign.sh "$build" com.example.orlavo

make_build arm64
sed -i.orig 's/^Identifier=.*/Identifier=update-assistant/' \
    "$build/updater/update-assistant.arm64.display"
case_ "update-assistant signed under its file name, its Info.plist passed over" non-zero \
    "update-assistant \(arm64\) is not signed as com.example.orlavo.update-assistant" \
    sign.sh "$build" com.example.orlavo

make_build arm64
echo 1 >"$build/listener/shortcut-listener.verify-status"
case_ "a signature that does not verify" non-zero \
    "shortcut-listener: its signature does not verify" sign.sh "$build" com.example.orlavo

echo "$failures failed"
exit "$failures"
