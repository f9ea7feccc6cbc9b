#!/usr/bin/env python3
"""The listener with a pty and /dev/null as its standard streams, on macOS, whose poll() answers
POLLNVAL for devices: the self-test's line must reach a pty and the first diagnostic line must
reach a pty as standard error.

    .ci/macos/device_streams.py BUILD_DIR
"""

import os
import select
import subprocess
import sys
import time
import tty

listener = os.path.join(sys.argv[1], "listener", "shortcut-listener")
PASS = b"native shortcut state-machine PASS; default, replacement, remapped and Caps Lock preservation\n"
FIRST_LINES = (b"ready: event tap\n",
               b"event tap unavailable; using NSEvent monitors (check Accessibility/Input Monitoring)\n")


def read_line(fd, seconds=30):
    got = b""
    deadline = time.monotonic() + seconds
    while b"\n" not in got and time.monotonic() < deadline:
        if select.select([fd], [], [], 0.5)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            got += chunk
    return got


def pty():
    main, terminal = os.openpty()
    tty.setraw(terminal)
    return main, terminal


failures = 0
main, terminal = pty()
process = subprocess.Popen([listener, "--self-test"], stdout=terminal, stdin=subprocess.DEVNULL)
os.close(terminal)
line = read_line(main)
status = process.wait(timeout=60)
print(("ok  " if line == PASS and status == 0 else "FAIL"), "self-test line on a pty:", line, status)
failures += not (line == PASS and status == 0)

with open(os.devnull, "wb") as null:
    status = subprocess.run([listener, "--self-test"], stdout=null, timeout=60).returncode
print(("ok  " if status == 0 else "FAIL"), "self-test with /dev/null as standard output:", status)
failures += status != 0

main, terminal = pty()
with open(os.devnull, "wb") as null:
    process = subprocess.Popen([listener], stdout=null, stderr=terminal, stdin=subprocess.DEVNULL)
os.close(terminal)
line = read_line(main)
process.terminate()
process.wait(timeout=60)
print(("ok  " if line in FIRST_LINES else "FAIL"), "first diagnostic on a pty:", line)
failures += line not in FIRST_LINES
sys.exit(failures)
