#!/usr/bin/env python3
"""The selection's box from real applications whose range extents do not describe it: a
terminal answering positions relative to itself (Konsole), KDE's editors answering two lines
one line high (kwrite, kate), GTK 3 windows at GDK_SCALE=2 (the GTK test window, LXTerminal),
GTK 4's plain text view (gtk4-print-editor), and a page's table and CJK paragraphs (Firefox).

Runs under `testing/with-display --dbus`, like apps_e2e.py, whose session code it shares; the
selections of one case share one application start. The first answer after each selection
is judged, as a host gets it.

    apps_boxes_e2e.py PROBE CASE [TEXT_APP]
"""

import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apps_e2e as apps  # noqa: E402

QT_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
          "QT_QPA_PLATFORM": "xcb"}
TWO_LINES = f"{apps.LINE}\n{apps.SECOND_LINE}"
CJK_LINE = "这是一个用于测试的中文段落。"


def log(what, answer):
    print(f"{what}: {json.dumps(answer, ensure_ascii=False)[:300]}", file=sys.stderr)


def box_of(answer):
    return tuple(answer.get(member) for member in ("x", "y", "width", "height"))


def holds_point(answer, x, y):
    bx, by, bw, bh = box_of(answer)
    return None not in (bx, by) and bx - 1 <= x <= bx + bw + 1 and by - 1 <= y <= by + bh + 1


def mouse(*arguments):
    subprocess.run(["xdotool", *arguments], check=True, timeout=60)


class BoxesCase(apps.AppCase):
    def judge_all(self, judgements):
        """Runs each (name, check) and fails with every failure at once."""
        failures = []
        for name, check in judgements:
            try:
                check()
            except AssertionError as failure:
                failures.append(f"{name}: {failure}")
        self.assertEqual(failures, [])

    # --- a terminal whose extents are relative to itself ------------------------------------

    def test_terminal_relative(self):
        """Konsole answers a range's extents relative to its terminal display. A line selected
        by triple-click must come with a box holding the point clicked."""
        app = self.session.start(["konsole", "--nofork", "--separate", "-e", "bash",
                                  "--norc", "--noprofile"], env=QT_ENV, name="konsole")
        wid = apps.window_of(app, ".")
        self.wait_registered(app)
        apps.activate(wid)
        window = apps.geometry(wid)
        # Numbered lines fill the terminal, so that any line clicked holds text.
        apps.probe_until(lambda a: "x" in a)
        subprocess.run(["xdotool", "type", "--delay", "40", "clear; seq 101 160"], timeout=60)
        apps.keys("Return")
        time.sleep(1)
        x = window[0] + 12
        y = window[1] + window[3] // 2
        mouse("mousemove", str(x), str(y), "click", "--repeat", "3", "--delay", "80", "1")
        answer = apps.probe_until(apps.has_selection)
        log("triple-click", answer)
        text = answer.get("text", "")
        self.assertRegex(text, r"^1[0-6][0-9]\n?$", answer)
        self.check_answer(answer, text, window, max_height=40)
        self.assertTrue(holds_point(answer, x, y), f"the clicked point {x},{y}: {answer}")

    # --- KDE's editors over two lines ---------------------------------------------------------

    def kde_two_lines(self, argv, title):
        path = self.write(f"{title}.txt", f"{TWO_LINES}\nthird line\n")
        app = self.session.start(argv + [path], env=QT_ENV, name=argv[0])
        wid = apps.window_of(app, title)
        self.wait_registered(app)
        apps.activate(wid)
        one = apps.probe_until(apps.has_selection,
                               before=lambda: apps.keys("ctrl+Home", "shift+End"))
        log(f"{argv[0]} one line", one)
        two = self.first_probe_after("shift+Down", one.get("text"))
        # The selection reaches the second line's end: the first answer with both lines.
        if two.get("text") != TWO_LINES:
            apps.keys("shift+End")
            two = apps.probe_until(lambda a: a.get("text") == TWO_LINES)
        log(f"{argv[0]} two lines", two)
        self.assertIsNone(app.poll(), f"{argv[0]} ended while probed")
        # Two lines of its default font (about 18 pixels each): more than one line high,
        # less than three.
        self.check_answer(two, TWO_LINES, apps.geometry(wid), max_height=60)
        self.assertGreaterEqual(two["height"], 30, f"both lines: {two}")
        end_of_first = self.first_probe_after("shift+Up", two.get("text"))
        log(f"{argv[0]} back to one line", end_of_first)

    def test_kde_two_lines(self):
        """kwrite and kate (the same editor component) in one session, each over two lines."""
        failures = []
        for argv, title in ((["kwrite"], "probe-kwrite2"), (["kate", "-n"], "probe-kate2")):
            try:
                self.kde_two_lines(argv, title)
            except AssertionError as failure:
                failures.append(f"{argv[0]}: {failure}")
        self.assertEqual(failures, [])

    # --- GTK 3 at scale 2 -------------------------------------------------------------------

    def scaled_text_app(self, scale):
        """The GTK test window's selection box and the window's box, in logical pixels."""
        app = self.session.start([apps.TEXT_APP, "--text", "Hello selected world", "--start",
                                  "6", "--end", "14", "--title", f"probe-scale{scale}"],
                                 env={"GDK_SCALE": str(scale)}, name=f"text{scale}")
        wid = apps.window_of(app, f"probe-scale{scale}")
        self.wait_registered(app)
        apps.activate(wid)
        answer = apps.probe_once()
        log(f"GTK 3 at scale {scale}", answer)
        window = tuple(value / scale for value in apps.geometry(wid))
        if scale == 1:
            apps.end_group(app)  # the scaled window stays, for the benchmark's row
        return answer, window

    def scaled_terminal(self, scale):
        """LXTerminal (GTK 3 with VTE): its first line selected by dragging."""
        # Small, so that the window manager places it away from the screen's corner.
        app = self.session.start(["lxterminal", "--no-remote", "--geometry=50x10", "-t",
                                  f"probe-vte{scale}",
                                  "-e", "bash --norc --noprofile"],
                                 env={"GDK_SCALE": str(scale), "PS1": "probe-prompt$ "},
                                 name=f"vte{scale}")
        wid = apps.window_of(app, f"probe-vte{scale}")
        self.wait_registered(app)
        apps.activate(wid)
        apps.probe_until(lambda a: "x" in a)
        window = apps.geometry(wid)
        logical = tuple(value / scale for value in window)
        # The terminal lies below the window's menu and tabs; its first text line is dragged
        # over from 4 to 60 logical pixels in.
        element = apps.probe_once()
        top = element["y"] - logical[1]
        points = [(window[0] + scale * dx, window[1] + scale * (top + 8)) for dx in (4, 60)]

        def drag():
            # Again until seen: the shell may not have written its prompt yet.
            mouse("mousemove", *map(str, map(int, points[0])), "mousedown", "1")
            mouse("mousemove", *map(str, map(int, points[1])), "mouseup", "1")
        answer = apps.probe_until(lambda a: a.get("selectedLength", 0) >= 5, before=drag)
        log(f"LXTerminal at scale {scale}", answer)
        if scale == 1:
            apps.end_group(app)
        return answer, logical

    def test_gtk3_scaled(self):
        """The same GTK 3 window at GDK_SCALE 1 and 2 answers the same box, in logical pixels,
        placed within its window: the GTK test window and LXTerminal."""
        self.assertTrue(apps.TEXT_APP, "the GTK test window is needed")
        judgements = []
        for what, read in (("text window", self.scaled_text_app),
                           ("LXTerminal", self.scaled_terminal)):
            (one, window_one), (two, window_two) = read(1), read(2)

            def same(one=one, two=two, window_one=window_one, window_two=window_two):
                self.check_answer(two, one.get("text"), window_two, max_height=40)
                self.assertTrue(two["width"] > 48 or two["height"] > 22, two)
                placed_one = (one["x"] - window_one[0], one["y"] - window_one[1])
                placed_two = (two["x"] - window_two[0], two["y"] - window_two[1])
                for a, b in zip(placed_one + box_of(one)[2:], placed_two + box_of(two)[2:]):
                    self.assertAlmostEqual(a, b, delta=1.5, msg=f"{one} and {two}")
            judgements.append((what, same))
        self.judge_all(judgements)

    # --- GTK 4's plain text view ------------------------------------------------------------

    def test_gtk4_text_view(self):
        """gtk4-print-editor is a plain GtkTextView: GTK 4.8 measures no range there, but its
        characters (in window coordinates)."""
        path = self.write("probe-textview.txt", f"{TWO_LINES}\n")
        app = self.session.start(["gtk4-print-editor", path], env={"GTK_A11Y": "atspi"},
                                 name="gtk4-print-editor")
        wid = apps.window_of(app, "probe-textview")
        self.wait_registered(app)
        apps.activate(wid)
        window = apps.geometry(wid)
        one = apps.probe_until(apps.has_selection,
                               before=lambda: apps.keys("ctrl+Home", "shift+End"))
        log("one line", one)
        two = self.first_probe_after("shift+Down", one.get("text"))
        if two.get("text") != TWO_LINES:
            apps.keys("shift+End")
            two = apps.probe_until(lambda a: a.get("text") == TWO_LINES)
        log("two lines", two)

        def one_line():
            self.check_answer(one, apps.LINE, window, max_height=40)
            self.assertGreater(one["width"], 48, f"the line's box, not the corner: {one}")

        def two_lines():
            self.check_answer(two, TWO_LINES, window, max_height=80)
            self.assertGreater(two["height"], one["height"] * 1.5, f"both lines: {two}")
            self.assertEqual((two["x"], two["y"]), (one["x"], one["y"]), f"{one} {two}")
        self.judge_all([("one line", one_line), ("two lines", two_lines)])

    # --- a page's table and CJK paragraphs ----------------------------------------------------

    def test_firefox_boxes(self):
        """Firefox: cells of a table, a short CJK line, a long CJK paragraph. The page writes
        each selection's own box on screen into its title; the first answer's box must be it
        (four pixels either way)."""
        profile = os.path.join(self.session.dir, "ff-profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.write(apps.FIREFOX_PREFS)
        page = self.write("probe-boxes.html", BOXES_PAGE.replace("CJKLONG", apps.CJK_TEXT)
                          .replace("CJKLINE", CJK_LINE))
        app = self.session.start(["firefox-esr", "--no-remote", "--profile", profile,
                                  "--new-instance", f"file://{page}"],
                                 env={"GNOME_ACCESSIBILITY": "1",
                                      "MOZ_DISABLE_CONTENT_SANDBOX": "1"}, name="firefox")
        wid = apps.window_of(app, "probe boxes")
        self.wait_registered(app)
        apps.activate(wid)
        self.warm_up()
        window = apps.geometry(wid)
        judgements = []
        previous = None
        for key, expected in (("1", TABLE_TEXT), ("2", CJK_LINE), ("3", apps.CJK_TEXT)):
            answer = self.first_probe_after(key, previous)
            previous = answer.get("text")
            log(f"key {key}", answer)
            truth = page_box(wid)
            print(f"key {key}: the page's box {truth}", file=sys.stderr)

            def right(answer=answer, expected=expected, truth=truth):
                self.check_answer(answer, expected, window)
                for got, wanted in zip(box_of(answer), truth):
                    self.assertAlmostEqual(got, wanted, delta=4, msg=f"{answer} not {truth}")
            judgements.append((f"key {key}", right))
        self.judge_all(judgements)


def page_box(wid):
    """The box the page wrote into its title for its selection: screen coordinates."""
    def read():
        title = apps.run_text(["xdotool", "getwindowname", str(wid)])
        found = re.search(r"box (-?\d+) (-?\d+) (\d+) (\d+)", title)
        return tuple(int(value) for value in found.groups()) if found else None
    return apps.wait_for("the page's box", read)


TABLE_TEXT = "alpha one\nbeta two\ngamma three\ndelta four\nepsilon five"

# The page selects by key and writes the selection's box (its rectangles' union, from the
# range, moved by the content's place on screen) into its title.
BOXES_PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>probe boxes</title></head>
<body style="font: 16px sans-serif; margin: 20px">
<p>Above the table.</p>
<table style="border-collapse: collapse">
<tr><td>alpha one</td><td>beta two</td><td>gamma three</td></tr>
<tr><td>delta four</td><td>epsilon five</td><td>zeta six</td></tr>
<tr><td>eta seven</td><td>theta eight</td><td>iota nine</td></tr>
</table>
<p>Below the table, a paragraph that runs on so that content follows it.</p>
<p id="line">CJKLINE</p>
<p>More content below the short line.</p>
<p id="long" style="width: 600px">CJKLONG</p>
<p>And content below the long paragraph.</p>
<script>
window.addEventListener("keydown", (event) => {
  const range = document.createRange();
  const cells = document.querySelectorAll("td");
  if (event.key === "1") {
    range.setStart(cells[0].firstChild, 0);
    range.setEnd(cells[4].firstChild, cells[4].firstChild.length);
  } else if (event.key === "2") {
    range.selectNodeContents(document.getElementById("line"));
  } else if (event.key === "3") {
    range.selectNodeContents(document.getElementById("long"));
  } else {
    return;
  }
  event.preventDefault();
  window.getSelection().removeAllRanges();
  window.getSelection().addRange(range);
  let left = Infinity, top = Infinity, right = -Infinity, bottom = -Infinity;
  for (const node of [...cells, document.getElementById("line"), document.getElementById("long")]) {
    for (const text of node.childNodes) {
      if (text.nodeType !== Node.TEXT_NODE || !range.intersectsNode(text)) continue;
      const part = document.createRange();
      part.selectNodeContents(text);
      for (const r of part.getClientRects()) {
        left = Math.min(left, r.left); top = Math.min(top, r.top);
        right = Math.max(right, r.right); bottom = Math.max(bottom, r.bottom);
      }
    }
  }
  const x = Math.round(window.mozInnerScreenX + left), y = Math.round(window.mozInnerScreenY + top);
  document.title = "probe boxes box " + [x, y, Math.round(right - left), Math.round(bottom - top)].join(" ");
}, true);
</script>
</body></html>
"""


if __name__ == "__main__":
    apps.run_case(BoxesCase, "usage: apps_boxes_e2e.py PROBE CASE [TEXT_APP]")
