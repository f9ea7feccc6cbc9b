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
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apps_e2e as apps  # noqa: E402
from apps_e2e import (AppCase, activate, geometry, keys, probe_once, probe_until,  # noqa: E402
                      run_case, utf16_length, window_of)

JAVA_HOME = "/usr/lib/jvm/java-17-openjdk-amd64"
QT_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
          "QT_QPA_PLATFORM": "xcb"}


def carries(expected_length):
    """The first answer with the new selection's length (each selection of a case has a length
    of its own): what a host gets right after the selection changed, complete or not."""
    return lambda answer: answer.get("selectedLength") == expected_length


class TextCase(AppCase):

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
        """A Qt Quick TextArea gives U+2029 between its paragraphs (and U+2028 for a line
        break inside one); the probe gives "\\n", as Qt widgets do."""
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
        source = self.write("ProbeAstral.java", JAVA_ASTRAL)
        subprocess.run([f"{JAVA_HOME}/bin/javac", "-d", self.session.dir, source], check=True,
                       timeout=300)
        app = self.session.start(
            [f"{JAVA_HOME}/bin/java", "-Djavax.accessibility.assistive_technologies="
             "org.GNOME.Accessibility.AtkWrapper",
             "-Djava.library.path=/usr/lib/x86_64-linux-gnu/jni",
             "-cp", f"{self.session.dir}:/usr/share/java/java-atk-wrapper.jar", "ProbeAstral"],
            name="java")
        wid = window_of(app, "probe-java-astral")
        self.wait_registered(app)
        activate(wid)

        def select(name):
            start, end = JAVA_SELECTIONS[name]
            app.stdin.write(f"{start} {end}\n".encode())
            app.stdin.flush()

        self.judge_first_answers(
            [(name, java_selected(name)) for name in JAVA_SELECTIONS], select, geometry(wid),
            max_height=80)


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
