#!/usr/bin/env python3
"""selection-probe against real applications, on how a selection's text is given: Qt Quick's
paragraph separators, Java's text outside the Basic Multilingual Plane, and Chromium started as
a user starts it (no accessibility flag, in a session that had accessibility off).

Runs under `testing/with-display --dbus`, like apps_e2e.py, whose session code it shares. Each
case starts its application once and judges the FIRST answer after each of its selections, as a
host gets it.

    apps_text_e2e.py PROBE CASE [TEXT_APP]
"""

import json
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apps_e2e as apps  # noqa: E402
from apps_e2e import (PROBE, STAR, AppCase, activate, end_group, field_text,  # noqa: E402
                      geometry, keys, probe_once, probe_until, run_case, run_text,
                      utf16_length, window_of)

QT_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
          "QT_QPA_PLATFORM": "xcb"}


def carries(expected_length):
    """The first answer with the new selection's length (each selection of a case has a length
    of its own): what a host gets right after the selection changed, complete or not."""
    return lambda answer: answer.get("selectedLength") == expected_length


class MenuSession(apps.Session):
    """A session as a user's is before any assistive technology ran: accessibility off
    (`org.a11y.Status` `IsEnabled` false). The accessibility bus's launcher, which the session
    bus starts, keeps its settings in memory, so nothing of the user's settings is read or
    written."""

    def _accessibility_bus(self):
        run_text(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                  "--object-path", "/org/freedesktop/DBus", "--method",
                  "org.freedesktop.DBus.UpdateActivationEnvironment",
                  "{'GSETTINGS_BACKEND': 'memory'}"])
        return super()._accessibility_bus()

    def _set_accessibility_enabled(self):
        pass

    def status(self):
        """The session's accessibility switches, as (IsEnabled, ScreenReaderEnabled)."""
        out = run_text(["gdbus", "call", "--session", "--dest", "org.a11y.Bus",
                        "--object-path", "/org/a11y/bus", "--method",
                        "org.freedesktop.DBus.Properties.GetAll", "org.a11y.Status"])
        found = dict(re.findall(r"'(\w+)': <(true|false)>", out))
        return found.get("IsEnabled"), found.get("ScreenReaderEnabled")


class TextCase(AppCase):

    def setUp(self):
        if self._testMethodName != "test_chromium_from_menu":
            return super().setUp()
        self.assertTrue(PROBE and os.access(PROBE, os.X_OK), f"no probe at {PROBE!r}")
        self.session = MenuSession()
        self.addCleanup(self.session.close)
        self.session.open()

    def judge_first_answers(self, selections, select, window, **box_options):
        """Makes each selection in turn and judges the first answer that carries it; every
        verdict is collected, and the case fails on the first wrong one."""
        failures = []
        for name, expected in selections:
            select(name)
            answer = probe_until(carries(utf16_length(expected)))
            print(f"{name}: {json.dumps(answer, ensure_ascii=False)}", file=sys.stderr)
            try:
                self.check_answer(answer, expected, window, **box_options)
            except AssertionError as failure:
                failures.append(f"{name}: {failure}")
        self.assertEqual(failures, [])

    # --- Qt Quick: paragraphs separated by U+2029 ------------------------------------------

    def test_qt_quick_paragraphs(self):
        """A Qt Quick TextArea gives U+2029 between its paragraphs; the probe gives "\\n", as
        Qt widgets do, with the length of that text."""
        qml = self.write("probe-quick-paragraphs.qml", QUICK_AREA)
        app = self.session.start(["qmlscene", qml], env=QT_ENV, name="qmlscene")
        wid = window_of(app, "probe-quick-paragraphs")
        self.wait_registered(app)
        activate(wid)
        steps = {"two paragraphs": ["ctrl+Home", "shift+Down", "shift+End"],
                 "all": ["ctrl+a"]}
        self.judge_first_answers(
            [("two paragraphs", f"{QUICK_LINES[0]}\n{QUICK_LINES[1]}"),
             ("all", "\n".join(QUICK_LINES))],
            lambda name: keys(*steps[name]), geometry(wid))

    # --- Java: text outside the BMP --------------------------------------------------------

    def test_java_astral_text(self):
        """Java's bridge answers "" for any range holding a character outside the BMP; the
        probe reads such a range in pieces and the characters of the pieces it refuses one by
        one, and gives the whole text."""
        app, wid = self.start_java("ProbeAstral", JAVA_ASTRAL, "probe-java-astral")

        def select(name):
            start, end = JAVA_SELECTIONS[name]
            app.stdin.write(f"{start} {end}\n".encode())
            app.stdin.flush()

        self.judge_first_answers(
            [(name, java_selected(name)) for name in JAVA_SELECTIONS], select, geometry(wid),
            max_height=80)

    # --- Chromium as users start it ----------------------------------------------------------

    def chromium_from_menu(self, *flags):
        """Chromium through Debian's launcher script, as its menu entry starts it (no sandbox:
        it needs privileges that containers and root sessions lack; a fresh profile), on the
        test page with nothing selected."""
        data = os.path.join(self.session.dir, "chromium-data")
        argv = ["/usr/bin/chromium", "--no-sandbox", *flags, f"--user-data-dir={data}",
                "--no-first-run", "--no-default-browser-check", "--password-store=basic",
                "--disable-gpu", "--disable-features=Translate", self.page()]
        app = self.session.start(argv, name="chromium")
        return app, window_of(app, "probe page")

    def page(self):
        page = apps.PAGE_TEMPLATE.replace("SYMBOL", STAR).replace("LONGTEXT", "long text")
        path = self.write("probe-page.html", page.replace("CJKTEXT", apps.CJK_TEXT))
        return f"file://{path}#none"

    def test_chromium_from_menu(self):
        """Chromium started without --force-renderer-accessibility, as its menu entry starts
        it. Started while the session's accessibility was off, it registers nothing, then or
        later: the probe's answers are {"trusted":true}, never a text, length or box of
        something else, and the probe turns the session's accessibility on (IsEnabled; the
        screen reader switch stays off). Started again, Chromium registers windows with nothing
        in them until asked as a screen reader asks; the probe does so, and its first answer
        after a selection is right, as is the one a host gets when it asks again."""
        app, wid = self.chromium_from_menu()
        activate(wid)
        answers = [probe_once()]
        time.sleep(2)
        answers += [probe_once(), probe_once()]
        print(f"started while off: {json.dumps(answers, ensure_ascii=False)}", file=sys.stderr)
        status = self.session.status()
        end_group(app)
        self.assertEqual(answers, [{"trusted": True}] * 3)
        self.assertEqual(status, ("true", "false"), "IsEnabled, ScreenReaderEnabled")

        app, wid = self.chromium_from_menu()
        self.wait_registered(app)
        activate(wid)
        expected = field_text(STAR)
        keys("1")
        answer = probe_until(lambda a: a.get("selectedLength") == utf16_length(expected))
        again = probe_once()
        print(f"started again, key 1: {json.dumps(answer, ensure_ascii=False)}; asked again: "
              f"{json.dumps(again, ensure_ascii=False)}", file=sys.stderr)
        self.check_answer(answer, expected, geometry(wid), max_height=80)
        self.assertEqual(again.get("text"), expected, again)

def java_selected(name):
    start, end = JAVA_SELECTIONS[name]
    return apps.utf16_prefix(JAVA_TEXT, end)[len(apps.utf16_prefix(JAVA_TEXT, start)):]


QUICK_LINES = ["First paragraph of the area", "Second paragraph here",
               "Third, the last one"]
QUICK_AREA = """
import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
Window {
    title: "probe-quick-paragraphs"
    x: 100; y: 100; width: 520; height: 240
    visible: true
    TextArea {
        id: area
        anchors.fill: parent
        font.pixelSize: 16
        text: "TEXT"
        Component.onCompleted: forceActiveFocus()
    }
}
""".replace("TEXT", "\\n".join(QUICK_LINES))

# Java offsets count UTF-16 units: the ranges below are in units.
JAVA_TEXT = "Swing: a 😀 selection across an emoji, then 🎉 two 🚀 more, and the end."
JAVA_SELECTIONS = {
    "across one emoji": (7, 30),
    "the emoji alone": (9, 11),
    "two emoji": (42, 56),
}
# Reads "START END" lines from standard input and selects that range.
JAVA_ASTRAL = """
import javax.swing.*;
import java.io.*;
public class ProbeAstral {
    public static void main(String[] args) throws Exception {
        JTextArea area = new JTextArea("TEXT", 4, 40);
        SwingUtilities.invokeAndWait(() -> {
            JFrame frame = new JFrame("probe-java-astral");
            frame.add(area);
            frame.pack();
            frame.setLocation(120, 100);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.setVisible(true);
            area.requestFocusInWindow();
        });
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
        for (String line; (line = in.readLine()) != null; ) {
            String[] range = line.trim().split(" ");
            int start = Integer.parseInt(range[0]), end = Integer.parseInt(range[1]);
            SwingUtilities.invokeLater(() -> { area.requestFocusInWindow(); area.select(start, end); });
        }
        System.exit(0);
    }
}
""".replace("TEXT", JAVA_TEXT)


if __name__ == "__main__":
    run_case(TextCase, "usage: apps_text_e2e.py PROBE CASE [TEXT_APP]")
