#!/usr/bin/python3
"""selection-probe's first answers in toolkits that never give a box, and right after a
browser starts.

Runs under `testing/with-display --dbus`, as apps_e2e.py does, and shares its session code:

    apps_timing_e2e.py PROBE CASE [TEXT_APP]

Cases: qt_quick_area (qmlscene, a Qt Quick TextArea: its ranges have zero extents, so the
field's corner box is the right box), qtwebengine_page (falkon, a QtWebEngine browser, whose
ranges have zero extents too), firefox_first_probe (the very first probe after Firefox starts,
on a page that selects as it loads; Chromium, started as the other cases start it, answered
that one right before). Each judges the first answer after each selection.
"""

import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apps_e2e as apps  # noqa: E402

# The corner box the probe gives where a toolkit has no box for a range.
CORNER_SIZE = (48, 22)
QUICK_FIRST = "Grüße 😀 from the quick area"
QUICK_SECOND = "a second line of the area"
QUICK_QML = """import QtQuick 2.15
import QtQuick.Controls 2.15
ApplicationWindow {
    visible: true
    title: "probe quick"
    width: 520; height: 240
    TextArea {
        anchors.fill: parent
        font.pixelSize: 16
        focus: true
        text: "FIRST\\nSECOND"
        Component.onCompleted: forceActiveFocus()
    }
}
"""
QT_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
          "QT_QPA_PLATFORM": "xcb"}


class TimingCase(apps.AppCase):
    def judge(self, failures, what, answer, text, window, **options):
        print(f"{what}: {json.dumps(answer, ensure_ascii=False)[:300]}", file=sys.stderr)
        try:
            self.check_answer(answer, text, window, **options)
        except AssertionError as failure:
            failures.append(f"{what}: {failure}")

    def assert_corner(self, failures, what, answer):
        if (answer.get("width"), answer.get("height")) != CORNER_SIZE:
            failures.append(f"{what}: not the field's corner box: {answer}")

    def first_after_keys(self, previous_text, *names):
        apps.keys(*names)
        return apps.probe_until(
            lambda answer: apps.has_selection(answer) and answer.get("text") != previous_text)

    def test_qt_quick_area(self):
        """Two selections in one Qt Quick TextArea: text and length right, the corner box."""
        qml = self.write("probe-quick.qml", QUICK_QML.replace("FIRST", QUICK_FIRST)
                         .replace("SECOND", QUICK_SECOND))
        app = self.session.start(["qmlscene", qml], env=QT_ENV, name="qmlscene")
        wid = apps.window_of(app, "probe quick")
        self.wait_registered(app)
        apps.activate(wid)
        window = apps.geometry(wid)
        failures = []
        first = apps.probe_until(apps.has_selection,
                                 before=lambda: apps.keys("ctrl+Home", "shift+End"))
        self.judge(failures, "first line", first, QUICK_FIRST, window)
        self.assert_corner(failures, "first line", first)
        second = self.first_after_keys(first.get("text"), "ctrl+End", "shift+Home")
        self.judge(failures, "second line", second, QUICK_SECOND, window)
        self.assert_corner(failures, "second line", second)
        self.assertEqual(failures, [])

    def falkon(self, mode):
        # QtWebEngine 5 keeps its pages out of the accessible tree on Linux unless asked.
        env = {**QT_ENV, "QTWEBENGINE_DISABLE_SANDBOX": "1",
               "QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY": "1",
               "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu"}
        app = self.session.start(["falkon", "--private-browsing", "--no-extensions",
                                  self.page(mode, apps.STAR)], env=env, name="falkon")
        return app, apps.window_of(app, "probe page")

    def test_qtwebengine_page(self):
        """A field's selection in a page of a QtWebEngine browser, judged at its first answer:
        its text and length, and the field's corner box, as its ranges have no extents."""
        app, wid = self.falkon("none")
        self.wait_registered(app)
        apps.activate(wid)
        failures = []
        answer = self.first_probe_after("1", None)
        self.judge(failures, "key 1", answer, apps.field_text(apps.STAR), apps.geometry(wid))
        self.assert_corner(failures, "key 1", answer)
        self.assertEqual(failures, [])

    def first_probe(self, browser, symbol):
        """The very first probe after a browser starts on a page that selects as it loads."""
        app, wid = browser("field")
        self.wait_registered(app)
        apps.activate(wid)
        started = time.monotonic()
        answer = apps.probe_once()
        took = (time.monotonic() - started) * 1000
        print(f"the first probe took {took:.0f} ms (not judged)", file=sys.stderr)
        failures = []
        self.judge(failures, "first probe", answer, apps.field_text(symbol), apps.geometry(wid),
                   max_height=80)
        self.assertEqual(failures, [])

    def test_firefox_first_probe(self):
        self.first_probe(self.firefox, apps.EMOJI)


if __name__ == "__main__":
    apps.run_case(TimingCase, "usage: apps_timing_e2e.py PROBE CASE [TEXT_APP]")
