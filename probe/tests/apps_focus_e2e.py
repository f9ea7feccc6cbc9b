#!/usr/bin/env python3
"""selection-probe where the focused text is not below the first focused object, in real
Debian applications, each judged by the first answer after each selection, as a host gets it:

  - epiphany_first_answers: the GNOME web browser (WebKitGTK), whose page lives in its web
    process, a second bus connection that the registry does not list, embedded into the
    browser's window through a socket. One browser, two selections made by keys the page
    handles: in a text area, then in a rich editor (contenteditable).
  - calc_cell_editor: LibreOffice Calc's cell editor, whose focused paragraph lies in a panel
    beside the focused sheet (a table without Text that says it has 2^31 children).

    apps_focus_e2e.py PROBE CASE [TEXT_APP]

Runs under `testing/with-display --dbus`, with the session of apps_e2e.py.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apps_e2e as apps  # noqa: E402

AREA_TEXT = "Grüße ★ area text"
RICH_TEXT = "rich editor ★ words"
PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>probe web</title></head>
<body style="font: 16px sans-serif; margin: 20px">
<p>Above the editors.</p>
<textarea id="area" rows="3" cols="40">AREA and more</textarea>
<div id="rich" contenteditable="true" style="border: 1px solid"><p id="line">A RICH here.</p></div>
<script>
window.addEventListener("keydown", (event) => {
  if (event.key === "1") {
    const area = document.getElementById("area");
    area.focus();
    area.setSelectionRange(0, "AREA".length);
  } else if (event.key === "2") {
    const rich = document.getElementById("rich");
    rich.focus();
    const words = document.getElementById("line").firstChild;
    const range = document.createRange();
    range.setStart(words, 2);
    range.setEnd(words, 2 + "RICH".length);
    window.getSelection().removeAllRanges();
    window.getSelection().addRange(range);
  } else {
    return;
  }
  event.preventDefault();
}, true);
</script>
</body></html>
""".replace("AREA", AREA_TEXT).replace("RICH", RICH_TEXT)

CELL_TEXT = "Hello cell text"


def shows_new_selection(previous_text):
    """Any sign of a selection other than the previous one (a caret's length 0 is none)."""
    def condition(answer):
        shown = "text" in answer or answer.get("selectedLength", 0) > 0
        return shown and answer.get("text") != previous_text
    return condition


class FocusCase(apps.AppCase):
    def judge_each(self, window, selections, again=None):
        """The first answer after each (keys, expected text); every failure is reported.
        With `again`, a selection that no answer shows within 30 s (the application had not
        taken the keys) is made once more by `again()` and the keys, and the first answer
        after that is judged."""
        failures = []
        previous = None
        for key, expected in selections:
            apps.keys(*key.split())
            shown = shows_new_selection(previous)
            answer = apps.probe_until(shown, limit=30 if again else apps.ANSWER_LIMIT)
            if again and not shown(answer):
                print(f"no selection shown after {key!r}: {answer}; made again", file=sys.stderr)
                again()
                apps.keys(*key.split())
                answer = apps.probe_until(shown)
            print(f"first answer after {key!r}: {answer}", file=sys.stderr)
            try:
                self.check_answer(answer, expected, window, max_height=80)
            except AssertionError as failure:
                failures.append(f"after {key!r}: {failure}")
            previous = expected
        if failures:
            self.fail("\n".join(failures))

    def test_epiphany_first_answers(self):
        path = self.write("probe-web.html", PAGE)
        # The web process's bubblewrap sandbox cannot start in a container without user
        # namespaces; on a desktop it runs sandboxed and reaches the bus the same way.
        app = self.session.start(["epiphany-browser", "--private-instance", f"file://{path}"],
                                 env={"WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS": "1"},
                                 name="epiphany")
        wid = apps.window_of(app, "probe web")
        self.wait_registered(app)
        apps.activate(wid)
        # The page takes keys once it is loaded: the first selection is made again until the
        # page shows it, with the probe that is judged only after the next selections.
        self.warm_up()
        window = apps.geometry(wid)
        self.judge_each(window, [("1", AREA_TEXT), ("2", RICH_TEXT)])

    def test_calc_cell_editor(self):
        path = self.write("probe-calc.fods", FLAT_ODS.replace("CELL", CELL_TEXT))
        profile = os.path.join(self.session.dir, "lo-profile")
        app = self.session.start(["soffice", "--calc", "--norestore", "--nologo",
                                  "--nofirststartwizard",
                                  f"-env:UserInstallation=file://{profile}", path],
                                 env={"SAL_USE_VCLPLUGIN": "gtk3"}, name="soffice")
        wid = apps.window_of(app, "probe-calc")
        self.wait_registered(app)
        apps.activate(wid)
        # The sheet may show before it takes keys: the cell is edited (F2, the caret at the
        # end) until a probe sees the editor's caret, which is not judged. Then its first word
        # is selected forwards (LibreOffice counts a selection made backwards as none).
        def edit_cell():
            apps.probe_until(lambda answer: answer.get("selectedLength") == 0,
                             before=lambda: apps.keys("Escape", "ctrl+Home", "F2"))
            apps.keys("Home")

        edit_cell()
        self.judge_each(apps.geometry(wid), [(" ".join(["shift+Right"] * 5), "Hello")],
                        again=edit_cell)


FLAT_ODS = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body>
<office:spreadsheet><table:table table:name="Sheet1"><table:table-row>
<table:table-cell office:value-type="string"><text:p>CELL</text:p></table:table-cell>
</table:table-row></table:table></office:spreadsheet></office:body></office:document>
"""


if __name__ == "__main__":
    apps.run_case(FocusCase, "usage: apps_focus_e2e.py PROBE CASE [TEXT_APP]")
