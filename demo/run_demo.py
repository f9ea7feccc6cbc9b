#!/usr/bin/env python3
"""Runs the three programs the way the host application does, showing every step:
a text window with a selection, the shortcut listener with a custom binding, a chord pressed
through XTest, the selection probe on "speak", and an update of the text window's own bundle:
it quits, the shipped update-assistant installs version 2.0 and reopens it through the bundle's
AppRun, and the window comes back. Ends everything it started.

    run_demo.py --bin-dir BUILD-DIR --out OUT-DIR
"""
import argparse
import json
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import time

TEXT = "Read this sentence aloud, please."
# Control + R (macOS key code 15) reads the selection aloud.
BINDINGS = json.dumps({"read": {"fn": False, "control": True, "option": False, "shift": False,
                                "command": False, "keyCode": 15, "keyLabel": "R"}},
                      separators=(",", ":"))
X_CONTROL, X_R = "37", "27"  # X key codes of left Control and R (evdev positions)


def say(text=""):
    print(text, flush=True)


def show(cmd):
    say("    $ " + shlex.join(str(part) for part in cmd))


# The longest any step may take: far more than a loaded machine needs, and no slower when it
# does not.
WAIT = 60

def read_line(stream, timeout):
    """One line from a child's pipe, or None after the timeout."""
    ready, _, _ = select.select([stream], [], [], timeout)
    return stream.readline() if ready else None


def wait_for_line(stream, wanted, timeout, echo):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = read_line(stream, deadline - time.monotonic())
        if line is None or line == "":
            break
        say(f"    {echo}> {line.rstrip()}")
        if line.rstrip("\n") == wanted:
            return True
    return False


def screenshot(path):
    cmd = ["import", "-window", "root", str(path)]
    show(cmd)
    subprocess.run(cmd, check=True, timeout=WAIT)
    say(f"    screenshot: {path}")


def window_title(version):
    return f"Orlavo {version}"


def make_bundle(path, version, application):
    """A Linux bundle: Contents/ with the application, and AppRun at the root that starts it."""
    os.makedirs(os.path.join(path, "Contents", "MacOS"))
    with open(os.path.join(path, "Contents", "Info.plist"), "w") as plist:
        plist.write(f"version {version}\n")
    shutil.copy2(application, os.path.join(path, "Contents", "MacOS", "orlavo"))
    app_run = os.path.join(path, "AppRun")
    with open(app_run, "w") as script:
        script.write("#!/bin/sh\n"
                     f"# Starts Orlavo {version}: the text window with its selection.\n"
                     'here=$(dirname "$(readlink -f "$0")")\n'
                     f'exec "$here/Contents/MacOS/orlavo" --title {shlex.quote(window_title(version))}'
                     f' --text {shlex.quote(TEXT)} --start 0 --end -1\n')
    os.chmod(app_run, 0o755)


def find_window(title, timeout):
    """The id of a window with exactly this title, or None after the timeout."""
    deadline = time.monotonic() + timeout
    pattern = "^" + re.escape(title) + "$"
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--name", pattern],
                               capture_output=True, text=True, timeout=WAIT).stdout.split()
        if found:
            return found[0]
        time.sleep(0.1)
    return None


class Demo:
    def __init__(self, bin_dir, out_dir):
        self.listener = os.path.join(bin_dir, "listener", "shortcut-listener")
        self.probe = os.path.join(bin_dir, "probe", "selection-probe")
        self.assistant = os.path.join(bin_dir, "updater", "update-assistant")
        self.text_app = os.path.join(bin_dir, "probe", "tests", "probe_text_app")
        self.out = out_dir
        self.children = []
        self.reopened = None  # pid of the application the assistant reopened
        self.target = os.path.join(out_dir, "Orlavo.app")
        self.source = os.path.join(out_dir, "download", "Orlavo.app")

    def start(self, cmd, **kwargs):
        show(cmd)
        child = subprocess.Popen(cmd, text=True, **kwargs)
        self.children.append(child)
        return child

    def end_all(self):
        if self.reopened:
            end_process(self.reopened)
        for child in self.children:
            if child.poll() is None:
                child.terminate()
        for child in self.children:
            try:
                child.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()

    def run(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        say(f"Display {os.environ.get('DISPLAY')}, output in {self.out}")

        say("\n[1] Orlavo 1.0, a text window with a focused selection, started through its bundle")
        make_bundle(self.target, "1.0", self.text_app)
        app = self.start([os.path.join(self.target, "AppRun")],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if not wait_for_line(app.stdout, "ready", WAIT, "text window"):
            raise RuntimeError("the text window did not get the focus")

        say("\n[2] shortcut-listener with a custom binding: Control+R reads aloud")
        listener = self.start([self.listener, "--bindings", BINDINGS],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if not wait_for_line(listener.stderr, "ready: event tap", WAIT, "listener (stderr)"):
            raise RuntimeError("the listener did not start")

        say("\n[3] The user presses and holds Control+R (injected through XTest)")
        press = ["xdotool", "keydown", X_CONTROL, "keydown", X_R]
        show(press)
        subprocess.run(press, check=True, timeout=WAIT)

        say("\n[4] The host reads \"speak\" and at once asks selection-probe for the selection,"
            " while the keys are still held")
        try:
            if not wait_for_line(listener.stdout, "speak", WAIT, "listener"):
                raise RuntimeError("no speak line from the listener")
            show([self.probe])
            record = subprocess.run([self.probe], capture_output=True, text=True,
                                    timeout=WAIT).stdout
        finally:
            release = ["xdotool", "keyup", X_R, "keyup", X_CONTROL]
            show(release)
            subprocess.run(release, check=True, timeout=WAIT)
        say(f"    probe> {record}")
        say(f"    selected text: {json.loads(record).get('text')!r}")

        say("\n[5] update-assistant installs Orlavo 2.0; the text window is the host, and comes back")
        self.update(app)

        say("\n[6] The host ends the listener")
        listener.terminate()
        status = listener.wait(timeout=WAIT)
        say(f"    listener ended by signal {-status}" if status < 0 else f"    listener exit status: {status}")
        say("\nDemo finished.")

    def update(self, host):
        log = os.path.join(self.out, "update.log")
        make_bundle(self.source, "2.0", self.text_app)
        assistant = self.start([self.assistant, self.target, self.source, str(host.pid), log])
        time.sleep(1.0)
        screenshot(os.path.join(self.out, "card-waiting.png"))
        say("    the host quits")
        host.terminate()
        host.wait(timeout=WAIT)
        deadline = time.monotonic() + WAIT
        while not os.path.exists(log) and time.monotonic() < deadline:
            time.sleep(0.02)
        # The card stays 1.0 s after success: time enough for the picture.
        screenshot(os.path.join(self.out, "card.png"))
        status = assistant.wait(timeout=WAIT)
        with open(log) as text:
            say(f"    log> {text.read().rstrip()}")
        say(f"    update-assistant exit status: {status}")
        say("    files beside the bundle: " + " ".join(sorted(os.listdir(self.out))))
        with open(os.path.join(self.target, "Contents", "Info.plist")) as plist:
            say(f"    installed: {plist.read().strip()}")
        self.see_reopened()

    def see_reopened(self):
        title = window_title("2.0")
        window = find_window(title, WAIT)
        if window is None:
            raise RuntimeError(f"no window {title!r} came back")
        pid = subprocess.run(["xdotool", "getwindowpid", window], capture_output=True,
                             text=True, timeout=WAIT).stdout.strip()
        self.reopened = int(pid) if pid.isdigit() else None
        program = os.readlink(f"/proc/{pid}/exe") if self.reopened else "?"
        say(f"    the text window is back: {title!r}, window {window}, process {pid} ({program})")
        screenshot(os.path.join(self.out, "reopened.png"))


def end_process(pid):
    """Ends a process that is not our child (the reopened application lives in its own session)."""
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                if stat.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return
        except (FileNotFoundError, ProcessLookupError):
            return
        time.sleep(0.02)
    os.kill(pid, signal.SIGKILL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    demo = Demo(os.path.abspath(args.bin_dir), os.path.abspath(args.out))
    try:
        demo.run()
        return 0
    except (RuntimeError, OSError, subprocess.SubprocessError, ValueError) as error:
        say(f"demo failed: {error}")
        return 1
    finally:
        demo.end_all()


if __name__ == "__main__":
    sys.exit(main())
