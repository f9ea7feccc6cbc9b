#!/usr/bin/env bash
# Runs every real-application case of probe/tests/apps_e2e.py and prints a table: whether the
# probe's text, its UTF-16 length and its box were right, and the probe's median and 90th
# percentile times (30 runs by hyperfine) and its D-Bus calls per run (bench/count_calls.py) in the state the case leaves
# (selection made; for the frozen case, four applications stopped). Each case has its own
# private X server, bus and window manager.
#   probe/bench/apps.sh [BUILD_DIR [CASE...]]     (default: build/dev, every case)
# A CASE written FILE:NAME runs case NAME of the driver probe/tests/FILE (default apps_e2e.py).
# SELECTION_PROBE_UNDER_TEST=PATH measures another build of the probe; SELECTION_PROBE_COMPARE=PATH
# adds the median and the calls of a second build, asked in the same state. Ends with status 1
# when a case did not run (its row says so).
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build/dev}" && pwd)
shift $(($# > 0 ? 1 : 0))
cases="gtk4_editor qt_editor writer firefox_field firefox_paragraph firefox_password
       chromium_field chromium_paragraph chromium_password frozen_applications
       firefox_first_answers java_text_area kwrite_two_lines
       apps_boxes_e2e.py:terminal_relative apps_boxes_e2e.py:kde_two_lines
       apps_boxes_e2e.py:gtk3_scaled apps_boxes_e2e.py:gtk4_text_view
       apps_boxes_e2e.py:firefox_boxes
       apps_timing_e2e.py:qt_quick_area
       apps_timing_e2e.py:qtwebengine_page apps_timing_e2e.py:firefox_first_probe
       apps_focus_e2e.py:epiphany_first_answers apps_focus_e2e.py:calc_cell_editor
       apps_text_e2e.py:qt_quick_paragraphs apps_text_e2e.py:java_astral_text
       apps_text_e2e.py:chromium_from_menu"
[ $# -eq 0 ] || cases="$*"
status=0
if [ -n "${SELECTION_PROBE_COMPARE:-}" ]; then
    echo "| case | text right | length right | box plausible | median / p90 ms | D-Bus calls | compared: median / p90 ms | compared: D-Bus calls |"
    echo "|---|---|---|---|---|---|---|---|"
else
    echo "| case | text right | length right | box plausible | median / p90 ms | D-Bus calls |"
    echo "|---|---|---|---|---|---|"
fi
for entry in $cases; do
    driver=apps_e2e.py
    case=$entry
    if [[ $entry == *:* ]]; then
        driver=${entry%%:*}
        case=${entry#*:}
    fi
    row=$(PROBE_APPS_BENCH=1 "$top/testing/with-display" --dbus -- /usr/bin/python3 \
        "$top/probe/tests/$driver" "$build/probe/selection-probe" "$case" \
        "$build/probe/tests/probe_text_app" 2>&1 | sed -n 's/^.*row | /| /p')
    [ -n "$row" ] || status=1
    echo "${row:-| $case | did not run | | | | |}"
done
exit "$status"
