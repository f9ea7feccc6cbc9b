#!/usr/bin/env python3
"""Runs the demo on a private X server and D-Bus bus and checks its transcript: the speak line,
the probe's JSON with the selected text, the success log line, a PNG of the card, and the new
version's window back on screen, started from the installed bundle. Fails if any process of the
demo is left behind."""
import argparse
import json
import os
import re
import subprocess
import sys
import time

TEXT = "Read this sentence aloud, please."


DEMO_PROGRAMS = ("listener/shortcut-listener", "probe/selection-probe",
                 "updater/update-assistant", "probe/tests/probe_text_app")


def leftovers(bin_dir, out_dir):
    """Live processes of the demo's own programs from this build, or with the demo's files."""
    ps = subprocess.run(["ps", "-eo", "pid=,stat=,args="], capture_output=True, text=True).stdout
    programs = [os.path.join(bin_dir, program) for program in DEMO_PROGRAMS]
    found = []
    for line in ps.splitlines():
        pid, stat, args = (line.split(None, 2) + ["", ""])[:3]
        if stat.startswith("Z"):
            continue
        if any(args.startswith(program) for program in programs) or out_dir in args:
            if "transcript_test" not in args and "run_demo" not in args:
                found.append(line)
    return found


def checks(transcript):
    probe = re.search(r"^    probe> (\{.*\})$", transcript, re.M)
    card = re.search(r"^    screenshot: (\S+/card\.png)$", transcript, re.M)
    yield "speak line", re.search(r"^    listener> speak$", transcript, re.M) is not None
    yield "probe JSON with the selected text", bool(
        probe and json.loads(probe.group(1)).get("text") == TEXT
        and json.loads(probe.group(1)).get("trusted") is True)
    yield "success log line", re.search(
        r"^    log> Update installed; previous app preserved at \S+\.update-previous-\d+$",
        transcript, re.M) is not None
    yield "card PNG", bool(card and open(card.group(1), "rb").read(8) == b"\x89PNG\r\n\x1a\n")
    yield "new version installed", "    installed: version 2.0" in transcript
    reopened = re.search(r"^    the text window is back: 'Orlavo 2\.0', window \d+, process \d+ \((\S+)\)$",
                         transcript, re.M)
    yield "new version's window reopened from the bundle", bool(
        reopened and reopened.group(1).endswith("/Orlavo.app/Contents/MacOS/orlavo"))
    shot = re.search(r"^    screenshot: (\S+/reopened\.png)$", transcript, re.M)
    yield "reopened PNG", bool(shot and open(shot.group(1), "rb").read(8) == b"\x89PNG\r\n\x1a\n")
    yield "demo finished", transcript.rstrip().endswith("Demo finished.")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--with-display", "--demo", "--bin-dir", "--out"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    run = subprocess.run([args.with_display, "--dbus", "--", sys.executable, args.demo,
                          "--bin-dir", args.bin_dir, "--out", args.out],
                         capture_output=True, text=True, timeout=150)
    print(run.stdout)
    print(run.stderr, file=sys.stderr)
    results = list(checks(run.stdout))
    time.sleep(0.2)
    results.append(("exit status 0", run.returncode == 0))
    left = leftovers(os.path.abspath(args.bin_dir), os.path.abspath(args.out))
    results.append(("no process left behind", not left))
    for line in left:
        print("left behind:", line)
    failed = [name for name, ok in results if not ok]
    for name, ok in results:
        print(("ok   " if ok else "FAIL ") + name)
    print(f"{len(results) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
