#!/usr/bin/env python3
"""The road of one key press, as a host walks it: the user holds a chord, the built
shortcut-listener writes its line, the host runs the built selection-probe at once, and only
after the probe's answer is the chord released. That first answer must be the one the probe gives
with no key held: the same text, length and box.

Runs under `testing/with-display --dbus`, one real application per case, each chord kind in turn
with a listener of its own:
  - fn + Control, the default speak chord (modifier keys only, watched, nothing withheld);
  - Control+R, a keyed custom binding (the R press is withheld);
  - fn + Caps Lock, the default translate chord (the Caps Lock press is withheld);
  - record mode, Control+A (every press is withheld).

    held_chord_e2e.py PROBE LISTENER CASE [TEXT_APP]

The order is the host's and is never timed: press, read the line, probe, release.
"""

import json
import os
import select
import subprocess
import sys
import time
import unittest

PROBE, LISTENER = (os.path.abspath(arg) for arg in (sys.argv + ["", ""])[1:3])
CASE = sys.argv[3] if len(sys.argv) > 3 else ""
TEXT_APP = os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else ""
sys.argv[1:] = [PROBE, CASE, TEXT_APP]  # what the shared session code reads
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apps_e2e as apps  # noqa: E402

LINE_LIMIT = 60.0
# X key codes under the evdev rules: a spare code becomes fn (X has no fn key of its own).
FN, CONTROL, CAPS_LOCK, KEY_R, KEY_A = "200", "37", "66", "27", "38"
CONTROL_R = json.dumps({"read": {"fn": False, "control": True, "option": False, "shift": False,
                                 "command": False, "keyCode": 15, "keyLabel": "R"}},
                       separators=(",", ":"))

# name, listener arguments, keys pressed in order (released in reverse), the line awaited
CHORDS = [
    ("fn + Control", [], [FN, CONTROL], lambda line: line == "speak"),
    ("Control+R binding", ["--bindings", CONTROL_R], [CONTROL, KEY_R], lambda line: line == "speak"),
    ("fn + Caps Lock", [], [FN, CAPS_LOCK], lambda line: line == "translate"),
    ("record mode", ["--record"], [CONTROL, KEY_A],
     lambda line: line.startswith("record:") and '"keyCode":0' in line),
]


def xdotool(action, code):
    # Numeric key codes are exact; xdotool's key names add modifier events of their own.
    subprocess.run(["xdotool", action, code], check=True, timeout=30)


def caps_locked():
    out = apps.run_text(["xset", "q"])
    return "Caps Lock:   on" in out


class Listener:
    def __init__(self, arguments):
        self.process = subprocess.Popen([LISTENER, *arguments], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        first = self.read(self.process.stderr)
        if first != "ready: event tap":
            raise AssertionError(f"listener's first diagnostic: {first!r}")

    def read(self, stream, limit=LINE_LIMIT):
        ready, _, _ = select.select([stream], [], [], limit)
        return stream.readline().decode("utf-8").rstrip("\n") if ready else None

    def line_matching(self, wanted):
        end = time.monotonic() + LINE_LIMIT
        while time.monotonic() < end:
            line = self.read(self.process.stdout, end - time.monotonic())
            if line is None or wanted(line):
                return line
        return None

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


class HeldChord(apps.AppCase):
    def setUp(self):
        super().setUp()
        subprocess.run(["xmodmap", "-e", f"keycode {FN} = XF86Fn"], check=True, timeout=30)

    def settle(self, process, title):
        """The window active and its selection answered with no key held: the reference."""
        wid = apps.window_of(process, title)
        self.wait_registered(process)
        apps.activate(wid)
        return wid

    def judge_chords(self, wid, reference):
        window = apps.geometry(wid)
        self.check_answer(reference, reference.get("text"), window,
                          length=reference.get("selectedLength"))
        for name, arguments, pressed, wanted in CHORDS:
            with self.subTest(chord=name):
                caps_before = caps_locked()
                listener = Listener(arguments)
                try:
                    for code in pressed:
                        xdotool("keydown", code)
                    line = listener.line_matching(wanted)
                    first = apps.probe_once() if line is not None else None
                finally:
                    for code in reversed(pressed):
                        xdotool("keyup", code)
                    listener.stop()
                print(f"{name}: line {line!r}, first answer {first}", file=sys.stderr)
                self.assertIsNotNone(line, f"{name}: no line from the listener")
                self.assertEqual(first, reference, f"{name}: first answer while held")
                self.assertEqual(caps_locked(), caps_before, f"{name}: Caps Lock changed")
                # The chord reached the application as nothing: the selection is still there.
                after = apps.probe_until(apps.has_selection)
                self.assertEqual(after.get("text"), reference.get("text"), name)

    def editor(self, argv, env, title):
        path = self.write(f"{title}.txt", f"{apps.LINE}\n{apps.SECOND_LINE}\n")
        app = self.session.start([*argv, path], env=env, name=title)
        wid = self.settle(app, title)
        reference = apps.probe_until(apps.has_selection,
                                     before=lambda: apps.keys("ctrl+Home", "shift+End"))
        self.judge_chords(wid, reference)

    def test_gtk3_entry(self):
        app = self.session.start([TEXT_APP, "--text", apps.LINE, "--start", "0", "--end", "-1",
                                  "--title", "held chord entry"], name="gtk3")
        wid = self.settle(app, "held chord entry")
        self.judge_chords(wid, apps.probe_until(apps.has_selection))

    def test_gtk4_editor(self):
        self.editor(["gnome-text-editor", "--standalone", "--ignore-session"],
                    {"GTK_A11Y": "atspi"}, "held-gtk4")

    def test_qt_editor(self):
        self.editor(["featherpad", "--standalone"],
                    {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
                     "QT_QPA_PLATFORM": "xcb"}, "held-qt")

    def test_writer(self):
        path = self.write("held-writer.fodt", apps.flat_odt([apps.LINE, apps.SECOND_LINE]))
        profile = os.path.join(self.session.dir, "lo-profile")
        app = self.session.start(["soffice", "--writer", "--norestore", "--nologo",
                                  "--nofirststartwizard",
                                  f"-env:UserInstallation=file://{profile}", path],
                                 env={"SAL_USE_VCLPLUGIN": "gtk3"}, name="soffice")
        wid = self.settle(app, "held-writer")
        reference = apps.probe_until(apps.has_selection,
                                     before=lambda: apps.keys("ctrl+Home", "shift+End"))
        self.judge_chords(wid, reference)

    def test_firefox_field(self):
        app, wid = self.firefox("field")
        self.wait_registered(app)
        apps.activate(wid)
        self.warm_up()
        reference = apps.probe_until(
            lambda a: apps.has_selection(a) and "text" in a and "x" in a)
        self.judge_chords(wid, reference)


if __name__ == "__main__":
    apps.run_case(HeldChord, "usage: held_chord_e2e.py PROBE LISTENER CASE [TEXT_APP]")
