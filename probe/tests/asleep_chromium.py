#!/usr/bin/python3
"""selection-probe against a scripted Chromium whose accessibility is off: its toolkit is
"Chromium" and its window's only child is the null object, until a client asks the window's
attributes (as Chromium 156 does when started without --force-renderer-accessibility); then
the window holds the focused field of the scripted application (fake_atspi_app.py). The first
answer must be the field's selection, and so must the first answer after a second selection.

Runs under `testing/with-display --dbus`:

    asleep_chromium.py PROBE          the case
    asleep_chromium.py --serve        the scripted application itself
"""

import os
import signal
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

if sys.argv[1:] == ["--serve"]:
    import fake_atspi_app as fake

    class AsleepChromium(fake.FakeApplication):
        """Nothing below the window until its attributes are asked."""

        awake = False

        def accessible(self, path, method, args):
            if path == fake.FRAME and method == "GetAttributes":
                self.awake = True
            if path == fake.FRAME and not self.awake:
                if method == "GetChildren":
                    return "(a(so))", ([(self.name, fake.NULL)],)
                if method == "GetChildAtIndex":
                    return "((so))", ((self.name, fake.NULL),)
            return super().accessible(path, method, args)

        def answer(self, path, interface, method, args):
            if not self.awake and path != fake.FRAME and path != fake.ROOT:
                return None
            if not self.awake and interface.endswith(".Collection"):
                return "(a(so))", ([],)
            return super().answer(path, interface, method, args)

        def property(self, path, interface, name):
            if name == "ToolkitName":
                return fake.GLib.Variant("s", "Chromium")
            return super().property(path, interface, name)

    fake.FakeApplication = AsleepChromium
    sys.argv[1:] = ["complete"]
    fake.main()
    sys.exit(0)

sys.argv[2:] = ["complete"]  # what the shared driver reads: PROBE, then the mode
import partial_first_answer as partial  # noqa: E402

partial.FAKE = os.path.abspath(__file__)


class AsleepFake(partial.Fake):
    def __init__(self, _mode):
        super().__init__("--serve")


partial.Fake = AsleepFake

if __name__ == "__main__":
    signal.signal(signal.SIGTERM, partial.end_on_signal)
    signal.signal(signal.SIGINT, partial.end_on_signal)
    suite = partial.unittest.TestSuite([partial.PartialFirstAnswer("test_first_answers")])
    result = partial.unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
