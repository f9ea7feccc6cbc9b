#!/usr/bin/env python3
"""Runs the three programs the way the host application does, showing every step:
a text window with a selection, the shortcut listener with a custom binding, a chord pressed
through XTest, the selection probe on "speak", and an update of a sample bundle with the text
window as the host that quits. Ends everything it started.

    run_demo.py --bin-dir BUILD-DIR --out OUT-DIR
"""
import argparse
import json
import os
import select
import shlex
import shutil
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


def make_bundle(path, version):
    os.makedirs(os.path.join(path, "Contents", "MacOS"))
    with open(os.path.join(path, "Contents", "Info.plist"), "w") as plist:
        plist.write(f"version {version}\n")
    with open(os.path.join(path, "Contents", "MacOS", "orlavo"), "wb") as binary:
        binary.write(os.urandom(256 * 1024))


class Demo:
    def __init__(self, bin_dir, out_dir):
        self.listener = os.path.join(bin_dir, "listener", "shortcut-listener")
        self.probe = os.path.join(bin_dir, "probe", "selection-probe")
        self.assistant = os.path.join(bin_dir, "demo", "update-assistant-demo")
        self.text_app = os.path.join(bin_dir, "probe", "tests", "probe_text_app")
        self.out = out_dir
        self.children = []

    def start(self, cmd, **kwargs):
        show(cmd)
        child = subprocess.Popen(cmd, text=True, **kwargs)
        self.children.append(child)
        return child

    def end_all(self):
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

        say("\n[1] A text window with a focused selection")
        app = self.start([self.text_app, "--text", TEXT, "--start", "0", "--end", "-1"],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if not wait_for_line(app.stdout, "ready", WAIT, "text window"):
            raise RuntimeError("the text window did not get the focus")

        say("\n[2] shortcut-listener with a custom binding: Control+R reads aloud")
        listener = self.start([self.listener, "--bindings", BINDINGS],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if not wait_for_line(listener.stderr, "ready: event tap", WAIT, "listener (stderr)"):
            raise RuntimeError("the listener did not start")

        say("\n[3] The user presses Control+R (injected through XTest)")
        press = ["xdotool", "keydown", X_CONTROL, "key", X_R, "keyup", X_CONTROL]
        show(press)
        subprocess.run(press, check=True, timeout=WAIT)

        say("\n[4] The host reads \"speak\" and asks selection-probe for the selection")
        if not wait_for_line(listener.stdout, "speak", WAIT, "listener"):
            raise RuntimeError("no speak line from the listener")
        show([self.probe])
        record = subprocess.run([self.probe], capture_output=True, text=True, timeout=WAIT).stdout
        say(f"    probe> {record}")
        say(f"    selected text: {json.loads(record).get('text')!r}")

        say("\n[5] update-assistant installs a new version; the text window is the host")
        self.update(app)

        say("\n[6] The host ends the listener")
        listener.terminate()
        status = listener.wait(timeout=WAIT)
        say(f"    listener ended by signal {-status}" if status < 0 else f"    listener exit status: {status}")
        say("\nDemo finished.")

    def update(self, host):
        target = os.path.join(self.out, "Orlavo.app")
        source = os.path.join(self.out, "download", "Orlavo.app")
        log = os.path.join(self.out, "update.log")
        make_bundle(target, "1.0")
        make_bundle(source, "2.0")
        assistant = self.start([self.assistant, target, source, str(host.pid), log])
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
        with open(os.path.join(target, "Contents", "Info.plist")) as plist:
            say(f"    installed: {plist.read().strip()}")


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
