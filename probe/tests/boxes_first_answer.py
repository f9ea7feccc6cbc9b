#!/usr/bin/python3
"""selection-probe's first answer where a toolkit's range extents do not describe the
selection: they are relative to the element, one line high over two lines, or a container's.

Runs under `testing/with-display --dbus`. It starts the scripted application of one MODE
(`boxes_atspi_app.py`), runs the probe ONCE, as a host asks, and requires the whole answer:
text, length and the selection's own box on screen.

    boxes_first_answer.py PROBE MODE

SELECTION_PROBE_UNDER_TEST=PATH runs the case against another build of the probe. Exits 77
(skipped) when this Python has no GObject introspection (Debian's python3-gi).
"""

import os
import signal
import sys
import unittest

try:
    import gi  # noqa: F401  (the application needs it; checked here to skip cleanly)
except ImportError as missing:
    print(f"SKIPPED: {sys.executable} has no GObject introspection ({missing})")
    sys.exit(77)

import selectors  # noqa: E402
import subprocess  # noqa: E402

import boxes_atspi_app as boxes  # noqa: E402
# Same arguments (PROBE MODE): its probe_once runs the probe named here.
from partial_first_answer import Fake, compact, end_on_signal, probe_once  # noqa: E402

PROBE = os.path.abspath(os.environ.get("SELECTION_PROBE_UNDER_TEST") or
                        (sys.argv[1] if len(sys.argv) > 1 else "/nonexistent"))
MODE = sys.argv[2] if len(sys.argv) > 2 else ""
APP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "boxes_atspi_app.py")

# The right answer of each mode: the selection's text, its length and its box on screen.
EXPECTED = {
    # The terminal's first line, moved by the terminal's origin (120, 132).
    "element-relative": {"trusted": True, "selectedLength": 15, "text": "user@host:~$ ls",
                         "x": 136, "y": 150, "width": 120, "height": 18},
    # Both lines: from the first line's top to the second line's bottom (18 pixels a line).
    "one-line-high": {"trusted": True, "selectedLength": 38,
                      "text": "Grüße from the probe\nsecond line stays",
                      "x": 334, "y": 214, "width": 201, "height": 38},
    # The paragraph's own line, not its block.
    "container-box": {"trusted": True, "selectedLength": 14, "text": boxes.CJK,
                      "x": 100, "y": 357, "width": 224, "height": 22},
}


class ScriptedBoxes(Fake):
    """The scripted application of one mode, talked to as partial_first_answer's."""

    def __init__(self, mode):  # pylint: disable=super-init-not-called
        self.process = subprocess.Popen([sys.executable, APP, mode], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, start_new_session=True)
        self.lines = selectors.DefaultSelector()
        self.lines.register(self.process.stdout, selectors.EVENT_READ)


class BoxesFirstAnswer(unittest.TestCase):
    def setUp(self):
        self.fake = ScriptedBoxes(MODE)
        self.assertEqual(self.fake.read_line(), ["ready"])

    def tearDown(self):
        self.assertEqual(self.fake.close(), "", "the scripted application reported problems")

    def test_first_answer(self):
        answer = probe_once()
        self.assertEqual(compact(answer), compact(EXPECTED[MODE]))


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, end_on_signal)
    signal.signal(signal.SIGINT, end_on_signal)
    if MODE not in EXPECTED:
        sys.exit("usage: boxes_first_answer.py PROBE " + "|".join(EXPECTED))
    suite = unittest.TestSuite([BoxesFirstAnswer("test_first_answer")])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
