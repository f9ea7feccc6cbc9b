#!/usr/bin/python3
"""selection-probe's first answer where the focused text lies outside the subtree of the first
focused object: in a tree that another bus connection serves, embedded through a socket (a web
view's page), or beside a focused table without text (a spreadsheet's cell editor).

Runs under `testing/with-display --dbus` against `focus_atspi_app.py MODE`, judged as
`partial_first_answer.py` judges: the first answer after start and after a second selection
must be whole (text, UTF-16 length, box), and the application must never have been asked what
would keep it busy (the table's children, a search below the table).

    focus_search.py PROBE MODE

SELECTION_PROBE_UNDER_TEST=PATH runs the case against another build of the probe.
"""

import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import partial_first_answer as judged  # noqa: E402

judged.FAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "focus_atspi_app.py")
# Mode: the right first answers, the right answers after the second selection, and whether
# the application may be asked anything it never answers (never).
judged.CASES = {mode: ([judged.FIRST], [judged.SECOND], False) for mode in ("embedded", "beside")}

if __name__ == "__main__":
    signal.signal(signal.SIGTERM, judged.end_on_signal)
    signal.signal(signal.SIGINT, judged.end_on_signal)
    if judged.MODE not in judged.CASES:
        sys.exit("usage: focus_search.py PROBE " + "|".join(judged.CASES))
    suite = unittest.TestSuite([judged.PartialFirstAnswer("test_first_answers")])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
