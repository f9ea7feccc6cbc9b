#!/usr/bin/env python3
"""Runs the demo on a private X server and D-Bus bus and checks its transcript: the speak line,
the probe's JSON with the selected text, the success log line, a PNG of the card, and the new
version's window back on screen, started from the installed bundle. Fails if any process the
demo started is left behind (found by a marker in their environment; the reopened application
carries it too, since the assistant passes on the environment it was given)."""
import argparse
import json
import os
import re
import subprocess
import sys
import time

TEXT = "Read this sentence aloud, please."


def leftovers(marker):
    """Live processes that carry this run's marker in their environment: the demo and whatever
    it started, and nothing that other tests running beside it started from the same build."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if marker not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                args = f.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:  # ended meanwhile, or not ours to read
            continue
        if state != "Z":
            found.append(f"{pid} {args}")
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
    marker_value = f"{os.getpid()}-{time.time_ns()}"
    marker = f"DEMO_TRANSCRIPT_RUN={marker_value}".encode()
    run = subprocess.run([args.with_display, "--dbus", "--", sys.executable, args.demo,
                          "--bin-dir", args.bin_dir, "--out", args.out],
                         env=dict(os.environ, DEMO_TRANSCRIPT_RUN=marker_value),
                         capture_output=True, text=True, timeout=600)
    print(run.stdout)
    print(run.stderr, file=sys.stderr)
    results = list(checks(run.stdout))
    time.sleep(0.2)
    results.append(("exit status 0", run.returncode == 0))
    left = leftovers(marker)
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
