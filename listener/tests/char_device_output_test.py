#!/usr/bin/env python3
"""The built listener with a terminal, a pty or /dev/null as its standard streams, as a host
that reads it through a pty, or a developer in a terminal, runs it. poll() is made to answer as
macOS's does for devices (POLLNVAL) by the preloaded shim, so the lines must get out without it.

    char_device_output_test.py LISTENER SHIM    (on an X display: testing/with-display)
"""

import os
import select
import signal
import subprocess
import sys
import time
import tty
import unittest

LISTENER, SHIM = sys.argv[1], sys.argv[2]
PASS_LINE = b"native shortcut state-machine PASS; default, replacement, remapped and Caps Lock preservation\n"
CONTROL, KEY_A = "37", "38"  # X key codes under evdev rules


def environment():
    # Beside whatever else the run preloads (the macOS-conditions lane does).
    preload = " ".join(filter(None, [SHIM, os.environ.get("LD_PRELOAD")]))
    env = dict(os.environ, LD_PRELOAD=preload)
    # The sanitizer build tolerates a preloaded library ahead of its runtime.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    return env


def open_pty():
    main, terminal = os.openpty()
    tty.setraw(terminal)  # no "\r" added to lines
    return main, terminal


def read_until(fd, wanted, seconds=60, count=1):
    """Everything read from fd until it holds wanted count times (or the time is up)."""
    got = b""
    deadline = time.monotonic() + seconds
    while got.count(wanted) < count and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.5)
        if ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            got += chunk
    return got


def press_control_a(times):
    args = ["xdotool", "keydown", CONTROL]
    for _ in range(times):
        args += ["key", "--delay", "0", KEY_A]
    subprocess.run(args + ["keyup", CONTROL], check=True)


class Listener:
    """The listener in record mode with the given standard output and error."""

    def __init__(self, stdout, stderr):
        self.process = subprocess.Popen([LISTENER, "--record"], stdin=subprocess.DEVNULL,
                                        stdout=stdout, stderr=stderr, env=environment())

    def end(self):
        """Ends it; gives its exit status. What it wrote to a piped standard error after the
        lines already read is kept in self.rest."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=60)
        self.rest = b""
        if self.process.stderr is not None:
            self.rest = self.process.stderr.read()
            self.process.stderr.close()
        return status


class SelfTestOnDevices(unittest.TestCase):
    def test_pass_line_reaches_a_pty(self):
        main, terminal = open_pty()
        try:
            process = subprocess.Popen([LISTENER, "--self-test"], stdout=terminal,
                                       stderr=subprocess.PIPE, env=environment())
            os.close(terminal)
            got = read_until(main, PASS_LINE)
            self.assertEqual(process.wait(timeout=60), 0)
            self.assertEqual(got, PASS_LINE)
            self.assertEqual(process.stderr.read(), b"")
            process.stderr.close()
        finally:
            os.close(main)

    def test_dev_null_as_standard_output_passes(self):
        with open(os.devnull, "wb") as null:
            result = subprocess.run([LISTENER, "--self-test"], stdout=null, capture_output=False,
                                    stderr=subprocess.PIPE, env=environment(), timeout=60)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")


class RecordModeOnDevices(unittest.TestCase):
    def test_lines_reach_a_pty_and_diagnostics_a_pipe(self):
        main, terminal = open_pty()
        listener = Listener(terminal, subprocess.PIPE)
        os.close(terminal)
        try:
            self.assertEqual(read_until(listener.process.stderr.fileno(), b"\n"),
                             b"ready: event tap\n")
            press_control_a(3)
            got = read_until(main, b"\n", count=3)
            lines = got.decode().splitlines()
            self.assertEqual(len(lines), 3, got)
            for line in lines:
                self.assertEqual(line, 'record:{"fn":false,"control":true,"option":false,'
                                 '"shift":false,"command":false,"keyCode":0,"keyLabel":"A"}')
        finally:
            listener.end()
            os.close(main)

    def test_diagnostics_reach_a_pty(self):
        main, terminal = open_pty()
        with open(os.devnull, "wb") as null:
            listener = Listener(null, terminal)
        os.close(terminal)
        try:
            self.assertEqual(read_until(main, b"\n"), b"ready: event tap\n")
        finally:
            listener.end()
            os.close(main)

    def test_dev_null_takes_more_than_the_queue_holds(self):
        # 800 lines of about 100 bytes are more than the 64 KiB queue: were they not written,
        # the queue would overflow and say so on standard error.
        with open(os.devnull, "wb") as null:
            listener = Listener(null, subprocess.PIPE)
        try:
            err = listener.process.stderr.fileno()
            self.assertEqual(read_until(err, b"\n"), b"ready: event tap\n")
            press_control_a(800)
            self.assertIsNone(listener.process.poll(), "the listener is still running")
        finally:
            status = listener.end()
        self.assertEqual(status, -signal.SIGTERM)
        self.assertEqual(listener.rest, b"", "no diagnostic, no overflow")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
