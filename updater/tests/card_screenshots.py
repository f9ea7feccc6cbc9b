#!/usr/bin/env python3
"""Screenshot checks of the status card on a private X server (run under testing/with-display).

  card_screenshots.py RUN --program UPDATE_ASSISTANT --demo CARD_DEMO [--docs DIR]

RUN is one of:
  light        a successful update, light colours, ends at least 1.0 s after the log is written
  dark         a failed update under GTK_THEME=Adwaita:dark, ends at least 6.0 s after the log
  prefer-dark  the card under the GTK setting gtk-application-prefer-dark-theme
  long         texts wider than their labels stay inside their 320-pixel frames
  compositor   a successful update under xcompmgr: transparent surround, same card

The update runs use the real program built with stub copy and open programs that wait for this
script to open a gate (tests/card_stub_copy, tests/card_stub_open), on bundle directories in a
fresh temporary folder, so each stage of the card is on screen for as long as the checks need.
Pixels are read from `import -window root` shots. The checks are about order and outcome; every
wait has a deadline wide enough for a loaded machine, and the one duration checked (how long the
card stays after the log) is a lower bound taken from the program's own events: the log file's
modification time and the moment the process ended.
"""
import argparse
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

# The root window is painted in this colour, unlike either card, so clear corners show.
ROOT_COLOUR = "#3366aa"
CARD_X, CARD_Y, CARD_W, CARD_H = 1058, 754, 360, 124
# Frames of the card's elements in top-left coordinates inside the card.
HEADLINE = (19, 38, 320, 27)
DETAIL = (19, 64, 320, 20)
CAPTION = (19, 17, 320, 18)
BAR = (19, 99, 322, 5)


def rgb(r, g, b):
    return tuple(round(c * 255) for c in (r, g, b))


COLOURS = {
    "light": dict(card=rgb(1.00, 0.98, 0.96), primary=rgb(0.17, 0.14, 0.24),
                  secondary=rgb(0.43, 0.40, 0.45), border=rgb(0.86, 0.83, 0.81)),
    "dark": dict(card=rgb(0.11, 0.09, 0.15), primary=rgb(0.97, 0.94, 0.92),
                 secondary=rgb(0.76, 0.72, 0.79), border=rgb(0.29, 0.25, 0.33)),
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message, file=sys.stderr)
    return condition


def distance(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


class Shot:
    """One screenshot of the root window as RGB rows."""

    def __init__(self):
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], check=True,
                              capture_output=True).stdout
        tokens, pos = [], 0
        while len(tokens) < 4:  # magic, width, height, maximum; comments are not produced
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            tokens.append(data[pos:end])
            pos = end
        assert tokens[0] == b"P6" and tokens[3] == b"255", tokens
        self.width, self.height = int(tokens[1]), int(tokens[2])
        self.pixels = data[pos + 1:]

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def region(self, frame):
        """Pixels of a frame given inside the card."""
        fx, fy, fw, fh = frame
        return [self.at(CARD_X + fx + dx, CARD_Y + fy + dy) for dy in range(fh) for dx in range(fw)]

    def save_crop(self, path, margin=24):
        shot = path + ".ppm"
        with open(shot, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height) + self.pixels)
        geometry = "%dx%d+%d+%d" % (CARD_W + 2 * margin, CARD_H + 2 * margin, CARD_X - margin,
                                    CARD_Y - margin)
        subprocess.run(["convert", shot, "-crop", geometry, "+repage", path], check=True)
        os.remove(shot)


# Every wait gives up only after this long: far beyond what the slowest loaded machine needs.
GIVE_UP = 120.0


def shows_card(shot, colours):
    return distance(shot.at(CARD_X + 180, CARD_Y + 8), colours["card"]) <= 3


def wait_for_shot(wanted, alive=lambda: True, give_up=GIVE_UP):
    """The first shot that satisfies wanted(shot), or None once alive() is false or time is up.
    alive() is asked before each shot, so a shot taken while it held is always looked at."""
    deadline = time.monotonic() + give_up
    while time.monotonic() < deadline:
        still_alive = alive()
        shot = Shot()
        if wanted(shot):
            return shot
        if not still_alive:
            return None
        time.sleep(0.05)
    return None


def wait_for_card(colours, alive=lambda: True):
    """The first shot in which the card's background is on screen."""
    return wait_for_shot(lambda shot: shows_card(shot, colours), alive)


def shows_background(pixel, background, colours):
    """The root's colour shows here, perhaps darkened by a shadow, and not the card's."""
    return (distance(pixel, background) <= 64 and
            distance(pixel, background) < distance(pixel, colours["card"]) and
            distance(pixel, colours["border"]) > 8)


def check_card(shot, colours, name):
    background = shot.at(5, 5)
    inside = shot.at(CARD_X + 180, CARD_Y + 8)
    check(distance(inside, colours["card"]) <= 3, f"{name}: card colour {inside}")
    edges = {"left": (CARD_X, CARD_Y + 62), "right": (CARD_X + CARD_W - 1, CARD_Y + 62),
             "top": (CARD_X + 180, CARD_Y), "bottom": (CARD_X + 180, CARD_Y + CARD_H - 1)}
    for edge, (x, y) in edges.items():
        check(distance(shot.at(x, y), colours["border"]) <= 3,
              f"{name}: {edge} border {shot.at(x, y)} at {x},{y}")
    outside = {"left": (CARD_X - 1, CARD_Y + 62), "right": (CARD_X + CARD_W, CARD_Y + 62),
               "top": (CARD_X + 180, CARD_Y - 1), "bottom": (CARD_X + 180, CARD_Y + CARD_H)}
    for edge, (x, y) in outside.items():
        check(shows_background(shot.at(x, y), background, colours),
              f"{name}: outside {edge} {shot.at(x, y)} at {x},{y}")
    for x, y in [(CARD_X, CARD_Y), (CARD_X + 1, CARD_Y + 1), (CARD_X + CARD_W - 1, CARD_Y),
                 (CARD_X, CARD_Y + CARD_H - 1)]:
        check(shows_background(shot.at(x, y), background, colours),
              f"{name}: corner {x},{y} not clear: {shot.at(x, y)}")
    for role, frame in [("primary", HEADLINE), ("secondary", CAPTION), ("secondary", DETAIL)]:
        nearest = min(distance(p, colours[role]) for p in shot.region(frame))
        check(nearest <= 16, f"{name}: no {role} text in frame {frame} (nearest {nearest})")


def check_bar_moves(colours, name):
    """The indeterminate bar is drawn in a later shot at another place than in the first one."""
    first = Shot()
    moved = wait_for_shot(lambda shot: shot.region(BAR) != first.region(BAR))
    check(moved is not None, f"{name}: bar did not move")
    track = [p for p in first.region(BAR) if distance(p, colours["border"]) <= 3]
    check(len(track) > 0, f"{name}: no bar track in the border colour")


def make_bundles(folder):
    target = os.path.join(folder, "Orlavo.app")
    source = os.path.join(folder, "verified", "Orlavo.app")
    for bundle, version in [(target, "old"), (source, "new")]:
        os.makedirs(os.path.join(bundle, "Contents"))
        with open(os.path.join(bundle, "Contents", "version"), "w") as f:
            f.write(version)
    return target, source


def complete_log(log):
    """The log's modification time once it holds a whole line, else None."""
    try:
        with open(log, "rb") as f:
            if not f.read().endswith(b"\n"):
                return None
        return os.stat(log).st_mtime
    except FileNotFoundError:
        return None


def wait_for_log(log, ended, give_up=GIVE_UP):
    """When the program wrote its log line (the file's own time), or None. The log is looked
    for before asking whether the process has ended, and once more after it has."""
    deadline = time.monotonic() + give_up
    while time.monotonic() < deadline:
        written = complete_log(log)
        if written is not None:
            return written
        if ended.is_set():
            return complete_log(log)
        time.sleep(0.01)
    return None


class Ending:
    """Waits for the process in a thread and notes the wall-clock time it ended."""

    def __init__(self, process):
        self.process = process
        self.event = threading.Event()
        self.time = None
        self.status = None
        threading.Thread(target=self._wait, daemon=True).start()

    def _wait(self):
        self.status = self.process.wait()
        self.time = time.time()
        self.event.set()

    def alive(self):
        return not self.event.is_set()


def open_gate(folder, name):
    with open(os.path.join(folder, name), "w"):
        pass


def run_update(args, colours, name, fail, env):
    """A real update with gated copy and open programs: checks, returns the card to keep."""
    with tempfile.TemporaryDirectory() as folder:
        target, source = make_bundles(folder)
        log = os.path.join(folder, "update.log")
        env = dict(env, CARD_STUB_GATE_DIR=folder, CARD_STUB_COPY_STATUS="1" if fail else "0")
        stderr_path = os.path.join(folder, "stderr")
        with open(stderr_path, "wb") as stderr:
            process = subprocess.Popen([args.program, target, source, "0", log], env=env,
                                       stdout=subprocess.PIPE, stderr=stderr)
        ending = Ending(process)
        try:
            # The copy waits for its gate, so this card is the copying one.
            copying = wait_for_card(colours, ending.alive)
            if not check(copying is not None, f"{name}: card never appeared"):
                return None
            check_card(copying, colours, name + " while copying")
            if name == "compositor":
                tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True,
                                      text=True).stdout
                check(" 408x172+" in tree, "compositor: card not drawn with its shadow surround")
            check_bar_moves(colours, name)
            open_gate(folder, "copy-gate")
            # Success: the open program waits for its gate under the last status. Failure: the
            # card shows the failure for at least six seconds after the log.
            final = wait_for_shot(lambda shot: shows_card(shot, colours) and
                                  shot.region(HEADLINE) != copying.region(HEADLINE), ending.alive)
            if check(final is not None, f"{name}: the headline never changed after the copy"):
                check_card(final, colours, name + " final")
            open_gate(folder, "open-gate")
            logged = wait_for_log(log, ending.event)
            check(logged is not None, f"{name}: no log line")
            check(ending.event.wait(GIVE_UP), f"{name}: did not end")
        finally:
            if process.poll() is None:
                process.kill()
            ending.event.wait()
        check(ending.status == 0, f"{name}: exit status {ending.status}")
        line = open(log).read() if os.path.exists(log) else ""
        expected = "Update failed: " if fail else "Update installed; previous app preserved at "
        check(line.startswith(expected) and line.endswith("\n"), f"{name}: log line {line!r}")
        if logged is not None:
            # Load can only make the card stay longer, so only the least time is checked.
            delay, least = ending.time - logged, (5.5 if fail else 0.8)
            check(delay >= least, f"{name}: ended {delay:.2f} s after the log, before {least} s")
            print(f"{name}: ended {delay:.2f} s after the log line")
        check(process.stdout.read() == b"", f"{name}: wrote to standard output")
        with open(stderr_path, "rb") as f:
            written = f.read()
        check(written == b"", f"{name}: wrote to standard error: {written[:200]!r}")
        return copying if fail else final


def run_demo(args, colours, name, env, texts, applied=lambda shot: True):
    """The demo card, shown until this script ends it; the first shot with the card whose texts
    are applied (applied(shot))."""
    process = subprocess.Popen([args.demo, str(int(GIVE_UP))] + texts, env=env)
    try:
        shot = wait_for_shot(lambda shot: shows_card(shot, colours) and applied(shot),
                             lambda: process.poll() is None)
        check(shot is not None, f"{name}: card never appeared with its texts")
        return shot
    finally:
        process.terminate()
        process.wait()


def long_texts_shown(shot, colours):
    """Both long texts reach the end of their frames (the demo's texts are applied)."""
    for frame, role in [(HEADLINE, "primary"), (DETAIL, "secondary")]:
        fx, fy, fw, fh = frame
        tail = [shot.at(x, y) for y in range(CARD_Y + fy, CARD_Y + fy + fh)
                for x in range(CARD_X + fx + fw - 40, CARD_X + fx + fw)]
        if not any(distance(p, colours[role]) <= 60 for p in tail):
            return False
    return True


def check_long(shot, colours):
    for name, frame in [("headline", HEADLINE), ("detail", DETAIL)]:
        fx, fy, fw, fh = frame
        role = "primary" if name == "headline" else "secondary"
        beyond = [shot.at(x, y) for y in range(CARD_Y + fy, CARD_Y + fy + fh)
                  for x in range(CARD_X + fx + fw, CARD_X + CARD_W - 2)]
        check(all(distance(p, colours["card"]) <= 3 for p in beyond),
              f"long: {name} text beyond its 320-pixel frame")
        tail = [shot.at(x, y) for y in range(CARD_Y + fy, CARD_Y + fy + fh)
                for x in range(CARD_X + fx + fw - 40, CARD_X + fx + fw)]
        check(any(distance(p, colours[role]) <= 60 for p in tail),
              f"long: {name} text does not reach the end of its frame")


def owns_compositor_selection():
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XGetSelectionOwner.restype = ctypes.c_ulong
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        return False
    owner = x11.XGetSelectionOwner(display, x11.XInternAtom(display, b"_NET_WM_CM_S0", 0))
    x11.XCloseDisplay(display)
    return owner != 0


def run_compositor(args, env):
    compositor = subprocess.Popen(["xcompmgr"], stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + GIVE_UP
        while not owns_compositor_selection() and time.monotonic() < deadline:
            time.sleep(0.05)
        if not check(owns_compositor_selection(), "compositor: xcompmgr did not start"):
            return None
        shot = run_update(args, COLOURS["light"], "compositor", False, env)
        return shot
    finally:
        compositor.terminate()
        compositor.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("run", choices=["light", "dark", "prefer-dark", "long", "compositor"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--docs", help="folder to save the card picture into")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        print("card_screenshots: no DISPLAY; run under testing/with-display", file=sys.stderr)
        return 2
    subprocess.run(["xsetroot", "-solid", ROOT_COLOUR], check=True)
    config = tempfile.mkdtemp()
    try:
        # A settings folder of its own, so the user's GTK settings do not choose the colours.
        env = {k: v for k, v in os.environ.items() if k != "GTK_THEME"}
        env["XDG_CONFIG_HOME"] = config
        shot = None
        if args.run == "light":
            shot = run_update(args, COLOURS["light"], "light", False, env)
        elif args.run == "dark":
            shot = run_update(args, COLOURS["dark"], "dark", True, dict(env, GTK_THEME="Adwaita:dark"))
        elif args.run == "prefer-dark":
            os.makedirs(os.path.join(config, "gtk-3.0"))
            with open(os.path.join(config, "gtk-3.0", "settings.ini"), "w") as f:
                f.write("[Settings]\ngtk-application-prefer-dark-theme=1\n")
            shot = run_demo(args, COLOURS["dark"], "prefer-dark", env, [],
                            lambda shot: min(distance(p, COLOURS["dark"]["primary"])
                                             for p in shot.region(HEADLINE)) <= 16)
            if shot:
                check_card(shot, COLOURS["dark"], "prefer-dark")
        elif args.run == "long":
            words = "A status line that is much wider than the card can ever show in one line"
            shot = run_demo(args, COLOURS["light"], "long", env, [words, words + " " + words],
                            lambda shot: long_texts_shown(shot, COLOURS["light"]))
            if shot:
                check_card(shot, COLOURS["light"], "long")
                check_long(shot, COLOURS["light"])
        elif args.run == "compositor":
            shot = run_compositor(args, env)
        if shot and args.docs and not failures:
            shot.save_crop(os.path.join(args.docs, f"card-{args.run}.png"))
    finally:
        shutil.rmtree(config, ignore_errors=True)
    print(f"card_screenshots {args.run}: " + ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
