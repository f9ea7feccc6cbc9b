#!/usr/bin/env python3
"""selection-probe against real applications installed from Debian.

Runs under `testing/with-display --dbus`: it starts the accessibility bus, turns accessibility
on (as a screen reader would), starts a window manager so that the active window is known, then
runs one case: a real application with known text selected, then the built probe, whose answer
must carry the exact text, its length in UTF-16 units and a box inside the application's window.

    apps_e2e.py PROBE CASE [TEXT_APP]

Every process it starts is ended when the case ends, whatever happened.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

# SELECTION_PROBE_UNDER_TEST runs the cases against another build of the probe.
PROBE = os.path.abspath(os.environ.get("SELECTION_PROBE_UNDER_TEST") or
                        (sys.argv[1] if len(sys.argv) > 1 else "/nonexistent"))
CASE = sys.argv[2] if len(sys.argv) > 2 else ""
TEXT_APP = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else ""

# Generous: applications start slowly on a loaded machine; nothing here asserts on time.
START_LIMIT = 180.0
ANSWER_LIMIT = 60.0

LINE = "Grüße 😀 from the probe"
SECOND_LINE = "second line stays unselected"


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


class Session:
    """The accessibility bus, a window manager and the applications of one case."""

    def __init__(self):
        self.processes = []
        self.dir = tempfile.mkdtemp(prefix="probe-apps-")
        self.a11y_address = None

    def open(self):
        self.a11y_address = self._accessibility_bus()
        self._set_accessibility_enabled()
        self.start(["openbox", "--sm-disable"], name="openbox")
        wait_for("the window manager", lambda: "window id" in run_text(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]))

    def _accessibility_bus(self):
        def address():
            out = run_text(["gdbus", "call", "--session", "--dest", "org.a11y.Bus",
                            "--object-path", "/org/a11y/bus", "--method",
                            "org.a11y.Bus.GetAddress"])
            found = re.search(r"'([^']+)'", out)
            return found.group(1) if found else None
        return wait_for("the accessibility bus", address)

    def _set_accessibility_enabled(self):
        # What a screen reader does; Qt and the browsers expose their trees only when it is on.
        run_text(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                  "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Set",
                  "org.a11y.Status", "IsEnabled", "<true>"])

    def start(self, argv, env=None, name=None):
        full_env = dict(os.environ)
        # Each case starts the applications afresh: editors restore their last session and
        # recent files from these folders, which would make each case depend on the ones before.
        for variable in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"):
            full_env[variable] = os.path.join(self.dir, variable.lower())
        full_env.update(env or {})
        log = open(os.path.join(self.dir, (name or os.path.basename(argv[0])) + ".log"), "wb")
        # Standard input stays open while the case runs: the GTK test window quits when it closes.
        process = subprocess.Popen(argv, env=full_env, stdin=subprocess.PIPE, stdout=log,
                                   stderr=subprocess.STDOUT, start_new_session=True,
                                   cwd=self.dir)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            end_group(process)
        shutil.rmtree(self.dir, ignore_errors=True)

    def registered_pids(self):
        """Process ids of the applications registered with the accessibility registry."""
        out = run_text(["gdbus", "call", "--address", self.a11y_address, "--dest",
                        "org.a11y.atspi.Registry", "--object-path",
                        "/org/a11y/atspi/accessible/root", "--method",
                        "org.a11y.atspi.Accessible.GetChildren"])
        pids = set()
        for name in re.findall(r"'(:[0-9.]+)'", out):
            answer = run_text(["gdbus", "call", "--address", self.a11y_address, "--dest",
                               "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                               "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                               name])
            found = re.search(r"uint32 (\d+)", answer)
            if found:
                pids.add(int(found.group(1)))
        return pids


def end_group(process):
    """Ends a process and everything it started in its session, then reaps it."""
    if process.stdin:
        process.stdin.close()
    try:
        os.killpg(process.pid, signal.SIGCONT)
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def run_text(argv, timeout=30):
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=timeout).stdout
    except (subprocess.TimeoutExpired, OSError):
        return ""


def wait_for(what, condition, limit=START_LIMIT, every=0.2):
    end = time.monotonic() + limit
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"gave up waiting for {what}")
        time.sleep(every)


def descendants(pid):
    """pid and every process below it."""
    found = {pid}
    changed = True
    while changed:
        changed = False
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) in found:
                continue
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            if parent in found:
                found.add(int(entry))
                changed = True
    return found


def window_of(process, name_pattern):
    """The visible top-level window of the process (or its children) named by the pattern."""
    def find():
        out = run_text(["xdotool", "search", "--onlyvisible", "--name", name_pattern])
        pids = descendants(process.pid)
        for wid in out.split():
            pid = run_text(["xdotool", "getwindowpid", wid]).strip()
            if pid.isdigit() and int(pid) in pids:
                return int(wid)
        return None
    return wait_for(f"a window named {name_pattern!r}", find)


def activate(wid):
    def active():
        run_text(["xdotool", "windowactivate", "--sync", str(wid)], timeout=10)
        out = run_text(["xprop", "-root", "_NET_ACTIVE_WINDOW"])
        found = re.search(r"0x[0-9a-f]+", out)
        return found is not None and int(found.group(0), 16) == wid
    wait_for("the window to become active", active, every=0.5)


def geometry(wid):
    """The window's (x, y, width, height) on the screen."""
    out = run_text(["xwininfo", "-id", str(wid)])
    values = {}
    for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                       ("width", "Width"), ("height", "Height")):
        values[key] = int(re.search(label + r":\s+(-?\d+)", out).group(1))
    return values["x"], values["y"], values["width"], values["height"]


def keys(*names):
    subprocess.run(["xdotool", "key", "--clearmodifiers", "--delay", "60", *names], check=True,
                   timeout=60)


def probe_once():
    done = subprocess.run([PROBE], capture_output=True, timeout=30)
    assert done.returncode == 0, f"probe exited with {done.returncode}"
    assert done.stderr == b"", f"probe wrote to standard error: {done.stderr!r}"
    return json.loads(done.stdout.decode("utf-8"))


def probe_until(condition, limit=ANSWER_LIMIT, before=None):
    """Asks until the answer meets the condition (the application may still be registering
    or applying the selection); returns the last answer either way. `before` runs ahead of
    each probe."""
    end = time.monotonic() + limit
    answer = {}
    while time.monotonic() < end:
        if before:
            before()
        answer = probe_once()
        if condition(answer):
            break
        time.sleep(0.5)
    return answer


def has_selection(answer):
    return answer.get("selectedLength", 0) > 0


def shows_selection(answer):
    """Any sign of a selection: a text or a length, whole or partial."""
    return "text" in answer or "selectedLength" in answer


class AppCase(unittest.TestCase):
    session = None

    def setUp(self):
        self.assertTrue(PROBE and os.access(PROBE, os.X_OK), f"no probe at {PROBE!r}")
        self.session = Session()
        # Runs even when the session fails half-way through opening.
        self.addCleanup(self.session.close)
        self.session.open()

    def tearDown(self):
        if os.environ.get("PROBE_APPS_BENCH"):
            self.report_row()

    def report_row(self):
        """Benchmark mode: one table row with the verdicts and the probe's median and 90th
        percentile times and D-Bus calls per run, asked in the state the case left (selection made, stopped
        applications still stopped). SELECTION_PROBE_COMPARE=PATH measures another build of
        the probe in the same state, for a before-and-after row."""
        probes = [PROBE]
        if os.environ.get("SELECTION_PROBE_COMPARE"):
            probes.append(os.path.abspath(os.environ["SELECTION_PROBE_COMPARE"]))
        counter = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench",
                               "count_calls.py")
        figures = []
        for probe in probes:
            result = os.path.join(self.session.dir, "hyperfine.json")
            subprocess.run(["hyperfine", "-N", "--warmup", "3", "--runs", "30", "--export-json",
                            result, probe], capture_output=True, timeout=600)
            try:
                with open(result) as file:
                    timed = json.load(file)["results"][0]
                times = sorted(timed["times"])
                median = "%.1f / %.1f" % (timed["median"] * 1000,
                                          times[int(len(times) * 0.9)] * 1000)
            except (OSError, ValueError, KeyError, IndexError):
                median = "?"
            counted = run_text([sys.executable, counter, self.session.a11y_address, probe], 600)
            lines = counted.split("\n") + ["", ""]
            figures += [median, lines[0] or "?"]
            print(f"calls of {probe} by member: {lines[1]}", file=sys.stderr)
        verdicts = getattr(self, "verdicts", {})
        cells = [verdicts.get(key, "not reached") for key in ("text", "length", "box")]
        print(f"row | {CASE} | {' | '.join(cells + figures)} |", file=sys.stderr)

    def check_answer(self, answer, text, window, length=None, **box_options):
        """Judges text, length and box each on its own (so that a table can show all three),
        then fails on the first that is wrong. A `text` of None expects neither text nor
        length; `length` is given where the text is only a prefix."""
        if length is None and text is not None:
            length = utf16_length(text)
        checks = {
            "text": lambda: self.assertEqual(answer.get("text"), text, answer),
            "length": lambda: self.assertEqual(answer.get("selectedLength"), length, answer),
            "box": lambda: self.assert_box_inside(answer, window, **box_options),
        }
        self.verdicts = {}
        failures = []
        for name, check in checks.items():
            try:
                check()
                self.verdicts[name] = "yes"
            except AssertionError as failure:
                self.verdicts[name] = "NO"
                failures.append(failure)
        self.assertEqual(answer.get("trusted"), True, answer)
        if failures:
            raise failures[0]

    def assert_box_inside(self, answer, window, max_height=None, window_relative_ok=False):
        for member in ("x", "y", "width", "height"):
            self.assertIn(member, answer, answer)
        wx, wy, ww, wh = window
        x, y, w, h = answer["x"], answer["y"], answer["width"], answer["height"]
        if window_relative_ok and not (wx - 1 <= x <= wx + ww and wy - 1 <= y <= wy + wh):
            # GTK 4 on X11 gives positions relative to its window even when asked for screen
            # coordinates; such a box must then lie inside the window placed at the origin.
            wx, wy = 0, 0
        self.assertGreater(w, 0, answer)
        self.assertGreater(h, 0, answer)
        # Screen coordinates: the box lies within the window (one pixel of rounding allowed).
        self.assertGreaterEqual(x, wx - 1, f"{answer} window {window}")
        self.assertGreaterEqual(y, wy - 1, f"{answer} window {window}")
        self.assertLessEqual(x + w, wx + ww + 1, f"{answer} window {window}")
        self.assertLessEqual(y + h, wy + wh + 1, f"{answer} window {window}")
        if max_height is not None:
            self.assertLessEqual(h, max_height, answer)

    def wait_registered(self, process):
        wait_for("the application's accessible tree",
                 lambda: descendants(process.pid) & self.session.registered_pids())

    def write(self, name, content):
        path = os.path.join(self.session.dir, name)
        with open(path, "w", encoding="utf-8") as file:
            file.write(content)
        return path

    # --- editors -------------------------------------------------------------------------

    def select_first_line(self, process, title, window_relative_ok=False):
        wid = window_of(process, title)
        self.wait_registered(process)
        activate(wid)
        # An application may map its window before its document takes keys: select again
        # until the selection is seen (the keys give the same selection every time).
        answer = probe_until(has_selection, before=lambda: keys("ctrl+Home", "shift+End"))
        self.check_answer(answer, LINE, geometry(wid), max_height=60,
                          window_relative_ok=window_relative_ok)

    def test_gtk4_editor(self):
        path = self.write("probe-gtk4.txt", f"{LINE}\n{SECOND_LINE}\n")
        app = self.session.start(["gnome-text-editor", "--standalone", "--ignore-session",
                                  path], env={"GTK_A11Y": "atspi"}, name="gnome-text-editor")
        self.select_first_line(app, "probe-gtk4")

    def test_qt_editor(self):
        path = self.write("probe-qt.txt", f"{LINE}\n{SECOND_LINE}\n")
        app = self.session.start(["featherpad", "--standalone", path],
                                 env={"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                                      "QT_ACCESSIBILITY": "1", "QT_QPA_PLATFORM": "xcb"},
                                 name="featherpad")
        self.select_first_line(app, "probe-qt")

    def test_writer(self):
        path = self.write("probe-writer.fodt", flat_odt([LINE, SECOND_LINE]))
        profile = os.path.join(self.session.dir, "lo-profile")
        app = self.session.start(["soffice", "--writer", "--norestore", "--nologo",
                                  "--nofirststartwizard", f"-env:UserInstallation=file://{profile}",
                                  path], env={"SAL_USE_VCLPLUGIN": "gtk3"}, name="soffice")
        self.select_first_line(app, "probe-writer")

    # --- browsers ------------------------------------------------------------------------

    def page(self, mode, symbol):
        page = PAGE_TEMPLATE.replace("SYMBOL", symbol).replace("LONGTEXT", LONG_TEXT)
        path = self.write("probe-page.html", page.replace("CJKTEXT", CJK_TEXT))
        return f"file://{path}#{mode}"

    def firefox(self, mode):
        profile = os.path.join(self.session.dir, "ff-profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.write(FIREFOX_PREFS)
        app = self.session.start(["firefox-esr", "--no-remote", "--profile", profile,
                                  "--new-instance", self.page(mode, EMOJI)],
                                 env={"GNOME_ACCESSIBILITY": "1", "MOZ_DISABLE_CONTENT_SANDBOX": "1"},
                                 name="firefox")
        return app, window_of(app, "probe page")

    def chromium(self, mode):
        data = os.path.join(self.session.dir, "chromium-data")
        # No sandbox: it needs privileges that containers and root sessions lack, and the
        # test page is local.
        argv = ["chromium", "--no-sandbox", "--force-renderer-accessibility",
                f"--user-data-dir={data}",
                "--no-first-run", "--no-default-browser-check", "--password-store=basic",
                "--disable-gpu", "--disable-features=Translate", self.page(mode, STAR)]
        app = self.session.start(argv, name="chromium")
        return app, window_of(app, "probe page")

    def warm_up(self):
        """The first probe after a browser starts, logged: Firefox builds its page when first
        asked, and the probe then asks again itself. That first probe is judged by
        apps_timing_e2e.py (firefox_first_probe); the checks below start from the second."""
        first = probe_once()
        print(f"first probe after start: {json.dumps(first, ensure_ascii=False)}",
              file=sys.stderr)
        time.sleep(1)

    def browser_case(self, browser, mode, expected):
        app, wid = browser(mode)
        self.wait_registered(app)
        activate(wid)
        self.warm_up()
        # Settled: a page still building its tree may answer a range without its text yet, or
        # (seen once under the sanitizers, right after start) its text without any box. First
        # answers are judged by the first-answer cases.
        answer = probe_until(lambda a: has_selection(a) and "text" in a and "x" in a)
        self.check_answer(answer, expected, geometry(wid), max_height=80)

    def browser_password(self, browser):
        app, wid = browser("secret")
        self.wait_registered(app)
        activate(wid)
        self.warm_up()
        # Bounds may stay (they belong to the field inside the window); text and length not.
        # Settled: the answers right after start-up carry boxes at (-1, -1).
        answer = probe_until(lambda a: a.get("x", -1) >= 0 and a.get("y", -1) >= 0)
        self.check_answer(answer, None, geometry(wid), max_height=80)

    def test_firefox_field(self):
        self.browser_case(self.firefox, "field", field_text(EMOJI))

    def test_firefox_paragraph(self):
        self.browser_case(self.firefox, "para", paragraph_text(EMOJI))

    def test_firefox_password(self):
        self.browser_password(self.firefox)

    def test_chromium_field(self):
        self.browser_case(self.chromium, "field", field_text(STAR))

    def test_chromium_paragraph(self):
        self.browser_case(self.chromium, "para", paragraph_text(STAR))

    def test_chromium_password(self):
        self.browser_password(self.chromium)

    # --- first answers after a selection ------------------------------------------------------

    def first_probe_after(self, key, previous_text):
        """The first answer that carries the new selection, judged as a host gets it: after the
        key, the first answer with any text or length other than the previous selection's is
        returned, complete or not. Waiting for the selection to show at all keeps the check
        about order, not about how soon the browser publishes it."""
        keys(key)
        return probe_until(
            lambda answer: shows_selection(answer) and answer.get("text") != previous_text)

    def test_firefox_first_answers(self):
        """One Firefox session: each selection is made by a key the page handles, and the
        first probe after it is judged (the first probe after start-up is documented apart)."""
        app, wid = self.firefox("none")
        self.wait_registered(app)
        activate(wid)
        self.warm_up()
        window = geometry(wid)
        failures = []
        answers = {}
        previous_text = None
        for key, expected, options in (
                ("3", "item text\nSecond", {"max_height": 80}),
                ("4", CJK_TEXT, {}),
                ("1", field_text(EMOJI), {"max_height": 80}),
                ("2", LONG_PREFIX, {"length": utf16_length(LONG_TEXT)})):
            answer = self.first_probe_after(key, previous_text)
            answers[key] = answer
            previous_text = answer.get("text")
            print(f"key {key}: {json.dumps(answer, ensure_ascii=False)[:300]}", file=sys.stderr)
            # Not judged: the answer of a second probe, for the log.
            again = json.dumps(probe_once(), ensure_ascii=False)[:300]
            print(f"key {key}, second probe: {again}", file=sys.stderr)
            try:
                self.check_answer(answer, expected, window, **options)
            except AssertionError as failure:
                failures.append(f"key {key}: {failure}")
        # A paragraph selected by triple-click, where the CJK paragraph's box says it lies:
        # the first answer must be whole (a length with its text, the selection's box).
        paragraph = answers["4"]
        if "x" in paragraph:
            keys("6")
            x = int(paragraph["x"] + min(40, paragraph["width"] / 2))
            y = int(paragraph["y"] + min(10, paragraph["height"] / 2))
            subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "--repeat", "3",
                            "--delay", "80", "1"], check=True, timeout=60)
            answer = probe_until(
                lambda answer: shows_selection(answer) and answer.get("text") != previous_text)
            print(f"triple-click: {json.dumps(answer, ensure_ascii=False)[:300]}",
                  file=sys.stderr)
            try:
                self.assertIn("text", answer)
                self.assertEqual(answer.get("selectedLength"), utf16_length(answer["text"]))
                self.assert_box_inside(answer, window)
                self.assertTrue(answer["width"] > 48 or answer["height"] > 22,
                                f"the selection's box, not the element's corner: {answer}")
            except AssertionError as failure:
                failures.append(f"triple-click: {failure}")
        self.assertEqual(failures, [])

    def start_java(self, class_name, source, title):
        """Compiles the Swing program and starts it with Java's accessibility bridge; returns
        the process and its window, active and registered."""
        path = self.write(f"{class_name}.java", source)
        subprocess.run([f"{JAVA_HOME}/bin/javac", "-d", self.session.dir, path], check=True,
                       timeout=300)
        app = self.session.start(
            [f"{JAVA_HOME}/bin/java", "-Djavax.accessibility.assistive_technologies="
             "org.GNOME.Accessibility.AtkWrapper",
             "-Djava.library.path=/usr/lib/x86_64-linux-gnu/jni",
             "-cp", f"{self.session.dir}:/usr/share/java/java-atk-wrapper.jar", class_name],
            name="java")
        wid = window_of(app, title)
        self.wait_registered(app)
        activate(wid)
        return app, wid

    def test_java_text_area(self):
        """Java's bridge answers "" for a range holding an emoji; the probe reads it in pieces
        and gives the text with its length."""
        _, wid = self.start_java("ProbeArea", JAVA_AREA, "probe-java")
        answer = probe_until(has_selection)
        print(f"java: {json.dumps(answer, ensure_ascii=False)}", file=sys.stderr)
        self.check_answer(answer, JAVA_SELECTED, geometry(wid), max_height=80)
        self.assertGreater(answer["width"], 48, "the selection's box, not the element corner")

    def test_kwrite_two_lines(self):
        """KDE's editor (Qt 5 with KDE Frameworks): a deep tree without Collection, and a
        selection over two lines. Its extents are the toolkit's own (a range's box is about
        one line high whatever its lines, characters are zero pixels high): the box is only
        required to lie in the window. Asking it for all Application properties at once
        (GetAll) crashes it; the probe must leave it running."""
        path = self.write("probe-kwrite.txt", f"{LINE}\n{SECOND_LINE}\nthird line\n")
        app = self.session.start(["kwrite", path],
                                 env={"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                                      "QT_ACCESSIBILITY": "1", "QT_QPA_PLATFORM": "xcb"},
                                 name="kwrite")
        wid = window_of(app, "probe-kwrite")
        self.wait_registered(app)
        activate(wid)
        two = probe_until(has_selection,
                          before=lambda: keys("ctrl+Home", "shift+Down", "shift+End"))
        print(f"two lines: {json.dumps(two, ensure_ascii=False)}", file=sys.stderr)
        self.assertIsNone(app.poll(), "kwrite ended while probed")
        self.check_answer(two, f"{LINE}\n{SECOND_LINE}", geometry(wid))

    # --- frozen applications ---------------------------------------------------------------

    def test_frozen_applications(self):
        """Four stopped applications do not keep the probe from the focused healthy one."""
        self.assertTrue(TEXT_APP, "the GTK test window is needed")
        stopped = []
        for index in range(4):
            app = self.session.start([TEXT_APP, "--text", f"frozen {index}", "--end", "-1",
                                      "--left", str(40 + 30 * index), "--top", "40"],
                                     name=f"frozen{index}")
            self.wait_registered(app)
            stopped.append(app)
        path = self.write("probe-healthy.txt", f"{LINE}\n{SECOND_LINE}\n")
        healthy = self.session.start(["featherpad", "--standalone", path],
                                     env={"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                                          "QT_ACCESSIBILITY": "1", "QT_QPA_PLATFORM": "xcb"},
                                     name="featherpad")
        wid = window_of(healthy, "probe-healthy")
        self.wait_registered(healthy)
        activate(wid)
        select = lambda: keys("ctrl+Home", "shift+End")
        self.assertTrue(has_selection(probe_until(has_selection, before=select)),
                        "the healthy application answers while all run")
        for app in stopped:
            os.kill(app.pid, signal.SIGSTOP)
        answer = probe_once()
        self.check_answer(answer, LINE, geometry(wid), max_height=60)


# Firefox pads its text with U+FEFF after each character outside the BMP; the answer must not
# carry that padding. Chromium's selection offsets are short by one per such character (its own
# fault, which no client can mend), so its pages hold a BMP symbol instead.
EMOJI = "😀"
STAR = "★"


def field_text(symbol):
    return f"Grüße {symbol} field"


def paragraph_text(symbol):
    return f"Read this linked sentence {symbol} aloud."


def utf16_prefix(text, units):
    return text.encode("utf-16-le")[:2 * units].decode("utf-16-le", errors="replace")


# 3920 UTF-16 units with 80 emoji, past the 3600-unit threshold: the probe gives its exact
# length and its first 1350 units without Firefox's padding.
LONG_TEXT = ("abcdefghijklmnopqrstuvwxyz 😀 " * 80) + ("x" * 1519) + "."
LONG_PREFIX = utf16_prefix(LONG_TEXT, 1350)
CJK_TEXT = "这是一个用于测试的中文段落，选择之后应该读出来。" * 4

JAVA_HOME = "/usr/lib/jvm/java-17-openjdk-amd64"

# A Swing text area with the range (7, 30) selected; the selection holds an emoji.
JAVA_TEXT = "Swing: a 😀 selection across an emoji, and then more text."
JAVA_SELECTED = utf16_prefix(JAVA_TEXT, 30)[utf16_length("Swing: "):]
JAVA_AREA = """
import javax.swing.*;
public class ProbeArea {
    public static void main(String[] args) {
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("probe-java");
            JTextArea area = new JTextArea("TEXT", 4, 40);
            frame.add(area);
            frame.pack();
            frame.setLocation(120, 100);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.setVisible(true);
            area.requestFocusInWindow();
            area.select(7, 30);
            Timer timer = new Timer(500, e -> { area.requestFocusInWindow(); area.select(7, 30); });
            timer.start();
        });
    }
}
""".replace("TEXT", JAVA_TEXT)


# The page selects by itself, by the fragment: a text field, a paragraph with a link (an
# embedded object inside the paragraph's text), or a password field.
PAGE_TEMPLATE = """<!doctype html>
<html><head><meta charset="utf-8"><title>probe page</title></head>
<body style="font: 16px sans-serif; margin: 20px">
<p>Above the fields.</p>
<input id="field" style="width: 320px" value="Grüße SYMBOL field and more">
<p id="para">Read this <a href="#x">linked</a> sentence SYMBOL aloud.</p>
<p>Below: <input id="secret" type="password" value="hunter2secret"></p>
<textarea id="short" rows="2" cols="40">Grüße SYMBOL field and more</textarea>
<textarea id="long" rows="4" cols="60">LONGTEXT</textarea>
<ul><li id="first">First item text</li><li id="second">Second</li></ul>
<p id="cjk">CJKTEXT</p>
<script>
function selectByKey(event) {
  const inField = (id, end) => {
    const field = document.getElementById(id);
    field.focus();
    field.setSelectionRange(0, end === undefined ? field.value.length : end);
  };
  const inPage = (range) => {
    document.activeElement && document.activeElement.blur();
    window.getSelection().removeAllRanges();
    window.getSelection().addRange(range);
  };
  const range = document.createRange();
  if (event.key === "1") {
    inField("short", "Grüße SYMBOL field".length);
  } else if (event.key === "2") {
    inField("long");
  } else if (event.key === "3") {
    range.setStart(document.getElementById("first").firstChild, 6);
    range.setEnd(document.getElementById("second").firstChild, 6);
    inPage(range);
  } else if (event.key === "4") {
    range.selectNodeContents(document.getElementById("cjk"));
    inPage(range);
  } else if (event.key === "6") {
    document.activeElement && document.activeElement.blur();
    window.getSelection().removeAllRanges();
  } else {
    return;
  }
  event.preventDefault();
}
window.addEventListener("keydown", selectByKey, true);
function choose() {
  const mode = location.hash.slice(1);
  if (mode === "field") {
    const field = document.getElementById("field");
    field.focus();
    field.setSelectionRange(0, "Grüße SYMBOL field".length);
  } else if (mode === "para") {
    document.activeElement && document.activeElement.blur();
    window.getSelection().selectAllChildren(document.getElementById("para"));
  } else if (mode === "secret") {
    const secret = document.getElementById("secret");
    secret.focus();
    secret.select();
  }
}
window.addEventListener("load", choose);
window.addEventListener("focus", choose);
</script>
</body></html>
"""

FIREFOX_PREFS = """
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("accessibility.force_disabled", -1);
user_pref("app.update.enabled", false);
user_pref("browser.sessionstore.resume_from_crash", false);
"""


def flat_odt(paragraphs):
    body = "".join(f"<text:p>{p}</text:p>" for p in paragraphs)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
            'office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">'
            f'<office:body><office:text>{body}</office:text></office:body></office:document>\n')


def end_on_signal(number, _frame):
    # A test time-out ends the driver with SIGTERM: leave through the clean-up, not around it.
    raise SystemExit(128 + number)


def run_case(case_class, usage):
    """Runs the one case CASE names, ending through the clean-up on SIGTERM or SIGINT."""
    signal.signal(signal.SIGTERM, end_on_signal)
    signal.signal(signal.SIGINT, end_on_signal)
    if not CASE:
        sys.exit(usage)
    suite = unittest.TestSuite([case_class("test_" + CASE)])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    run_case(AppCase, "usage: apps_e2e.py PROBE CASE [TEXT_APP]")
