#!/usr/bin/python3
"""selection-probe's first answer when the application's first answers are incomplete.

Runs under `testing/with-display --dbus`. For one MODE of the scripted accessible application
(`fake_atspi_app.py`, each mode one incompleteness Firefox showed right after a selection), it
starts the application with its selection, waits until the registry lists it, runs the probe
ONCE and judges that answer as a host gets it; then it makes a second selection and judges the
first answer after that one too. A host asks once, so only the first answer counts.

    partial_first_answer.py PROBE MODE

SELECTION_PROBE_UNDER_TEST=PATH runs the case against another build of the probe. Exits 77
(skipped) when this Python has no GObject introspection (Debian's python3-gi).
"""

import json
import os
import selectors
import signal
import subprocess
import sys
import time
import unittest

try:
    import gi

    gi.require_version("Gio", "2.0")
    gi.require_version("GLib", "2.0")
    from gi.repository import Gio, GLib
except (ImportError, ValueError) as missing:
    print(f"SKIPPED: {sys.executable} has no GObject introspection ({missing})")
    sys.exit(77)

PROBE = os.path.abspath(os.environ.get("SELECTION_PROBE_UNDER_TEST") or
                        (sys.argv[1] if len(sys.argv) > 1 else "/nonexistent"))
MODE = sys.argv[2] if len(sys.argv) > 2 else ""
FAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_atspi_app.py")

# Guards against a hang only; nothing here asserts how soon anything happens.
LIMIT = 60.0

# The fake's field "Read this: Grüße 😀 from the fake field." lies at (200, 150), 300 by 30;
# each character is 7 pixels wide, from x 204, on the line at y 156, 17 high.
FIRST = {"trusted": True, "selectedLength": 13, "text": "Grüße 😀 from",
         "x": 281, "y": 156, "width": 84, "height": 17}
SECOND_RANGE = (28, 38)
SECOND = {"trusted": True, "selectedLength": 10, "text": "fake field",
          "x": 400, "y": 156, "width": 70, "height": 17}
# The documented answer for a selection without a box: the small box at the field's corner.
CORNER = {"x": 200, "y": 150, "width": 48, "height": 22}



def without_box(answer):
    return {key: value for key, value in answer.items() if key not in CORNER}


def at_corner(answer):
    return {**answer, **CORNER}


NOTHING = {"trusted": True}
UNBUILT_CARET = {"trusted": True, "selectedLength": 0, "x": -1, "y": -1, "width": 8, "height": 12}

# Mode: (the right first answers, the right answers after the second selection, whether the
# fake answers incompletely[, the most calls a probe may make of a kind the fake counts: "asked"
# GetRangeExtents, "beside" calls on objects beside the focus]). Where several answers are
# right, each is whole as far as it goes.
CASES = {
    "complete": ([FIRST], [SECOND], False),
    "zero-extents-first": ([FIRST], [SECOND], True),
    "empty-text-first": ([FIRST], [SECOND], True),
    "both-first": ([FIRST], [SECOND], True),
    "zero-extents-always": ([at_corner(FIRST)], [at_corner(SECOND)], True),
    # What was read stays when a second read fails.
    "errors-after-first": ([at_corner(FIRST)], [at_corner(SECOND)], True),
    # Likewise when it is never answered; the budget may then end before the corner is read.
    "silent-after-first": ([at_corner(FIRST), without_box(FIRST)],
                           [at_corner(SECOND), without_box(SECOND)], True),
    "no-range-first": ([FIRST], [SECOND], True),
    # Without a range there is no length, so no text either: the field's corner box alone.
    "no-range-always": ([at_corner(NOTHING)], [at_corner(NOTHING)], True),
    # The range comes later in the run, if at all: never as a text without its length.
    "no-range-thrice": ([FIRST, at_corner(NOTHING)], [SECOND, at_corner(NOTHING)], True),
    # A toolkit whose zero box is its answer (Qt): the box is asked once, not again.
    "qt-zero-always": ([at_corner(FIRST)], [at_corner(SECOND)], True, {"asked": 1}),
    # A page not built yet when first asked: the probe asks again until it is.
    "unbuilt-first": ([FIRST], [SECOND], True),
    # A page never built: the probe asks again while its budget lasts, then answers the caret
    # at the field's corner, (-1, -1), with the smallest box, as it was read.
    "unbuilt-always": ([UNBUILT_CARET], [UNBUILT_CARET], True),
    # The focused web view holds the focus: the tool bar beside it is not walked.
    "web-view": ([FIRST], [SECOND], False, {"beside": 0}),
    # A focused bar beside the way to the field: walked first, then the rest.
    "focused-bar": ([FIRST], [SECOND], False),
}


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def registered_names():
    """Bus names of the applications the accessibility registry lists."""
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 30000,
                                None).unpack()[0]
    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
             Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    try:
        children = bus.call_sync("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                 "org.a11y.atspi.Accessible", "GetChildren", None,
                                 GLib.VariantType("(a(so))"), Gio.DBusCallFlags.NONE, 30000,
                                 None).unpack()[0]
    finally:
        bus.close_sync(None)
    return {name for name, _path in children}


class Fake:
    """The scripted application of one case, talked to through its standard streams."""

    def __init__(self, mode):
        self.process = subprocess.Popen([sys.executable, FAKE, mode], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, start_new_session=True)
        self.lines = selectors.DefaultSelector()
        self.lines.register(self.process.stdout, selectors.EVENT_READ)

    def read_line(self):
        if not self.lines.select(LIMIT):
            raise AssertionError("the fake application did not answer")
        line = self.process.stdout.readline()
        if not line:
            raise AssertionError(f"the fake application ended: {self.errors()}")
        return line.split()

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.read_line()

    def errors(self):
        self.process.wait(timeout=LIMIT)
        return self.process.stderr.read().strip()

    def close(self):
        """Ends it through its input, then by signal if need be; its diagnostics, if any."""
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=LIMIT)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.lines.close()
        errors = self.process.stderr.read().strip()
        self.process.stdout.close()
        self.process.stderr.close()
        return errors


def probe_once():
    """One run of the probe, as a host makes it: its whole output as one JSON object."""
    started = time.monotonic()
    done = subprocess.run([PROBE], capture_output=True, timeout=LIMIT)
    took = (time.monotonic() - started) * 1000
    assert done.returncode == 0, f"probe exited with {done.returncode}"
    assert done.stderr == b"", f"probe wrote to standard error: {done.stderr!r}"
    text = done.stdout.decode("utf-8")
    print(f"probe answered in {took:.0f} ms (not judged): {text}", file=sys.stderr)
    assert not text.endswith("\n"), "the answer ends with a line break"
    return json.loads(text)


class PartialFirstAnswer(unittest.TestCase):
    def setUp(self):
        self.fake = Fake(MODE)
        words = self.fake.read_line()
        self.assertEqual(words[0], "ready", f"the fake application said {words}")
        self.assertIn(words[1], registered_names(), "the registry does not list the fake")

    def tearDown(self):
        errors = self.fake.close()
        self.assertEqual(errors, "", "the fake application reported problems")

    def assert_consistent(self, answer):
        """What any answer must hold: never text without its length, all of the box or none."""
        if "text" in answer:
            self.assertIn("selectedLength", answer, "text without selectedLength")
            self.assertEqual(answer["selectedLength"], utf16_length(answer["text"]))
        box = [key in answer for key in ("x", "y", "width", "height")]
        self.assertIn(box, ([True] * 4, [False] * 4), "part of a box")

    def judge(self, answer, expected, faulty, what, limits=None):
        """The failures of the first answer after `what`, as text; empty when it is right."""
        failures = []
        for kind, most in (limits or {}).items():
            made = int(self.fake.command(kind)[1])
            if made > most:
                failures.append(f"after {what}: {made} calls of the kind {kind!r}, not at most "
                                f"{most}")
        try:
            self.assert_consistent(answer)
        except AssertionError as failure:
            failures.append(f"after {what}: inconsistent: {failure}")
        if answer not in expected:
            wanted = " or ".join(compact(one) for one in expected)
            failures.append(f"after {what}: expected {wanted}, got {compact(answer)}")
        served = int(self.fake.command("served")[1])
        if (served > 0) != faulty:
            failures.append(f"after {what}: the fake gave {served} incomplete answers")
        return failures

    def test_first_answers(self):
        first, second, faulty, *limits = CASES[MODE]
        failures = self.judge(probe_once(), first, faulty, "the start", *limits)
        self.assertEqual(self.fake.command("select %d %d" % SECOND_RANGE), ["selected"])
        failures += self.judge(probe_once(), second, faulty, "a new selection", *limits)
        if failures:
            self.fail("\n".join(failures))


def compact(answer):
    return json.dumps(answer, ensure_ascii=False, sort_keys=True, separators=(",", ":"))


def end_on_signal(number, _frame):
    # A test time-out ends the driver with SIGTERM: leave through the clean-up, not around it.
    raise SystemExit(128 + number)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, end_on_signal)
    signal.signal(signal.SIGINT, end_on_signal)
    if MODE not in CASES:
        sys.exit("usage: partial_first_answer.py PROBE " + "|".join(CASES))
    suite = unittest.TestSuite([PartialFirstAnswer("test_first_answers")])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
