#!/usr/bin/env python3
"""Counts the D-Bus method calls one run of a program makes on the accessibility bus.

    count_calls.py ADDRESS PROGRAM [RUNS]

Runs PROGRAM RUNS times (default 5) under `dbus-monitor --profile` on the bus at ADDRESS and
prints the median number of method calls sent by the connections that each run opened (those
that sent Hello while watched), `Hello` included, and the calls by interface member of the
median run on a second line.
"""

import collections
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    address, program = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryFile() as log:
        monitor = subprocess.Popen(["dbus-monitor", "--address", address, "--profile"],
                                   stdout=log, stderr=subprocess.DEVNULL)
        try:
            time.sleep(0.5)
            for _ in range(runs):
                subprocess.run([program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=60)
                time.sleep(0.2)
            time.sleep(0.3)
        finally:
            monitor.send_signal(signal.SIGTERM)
            monitor.wait(timeout=10)
        log.seek(0)
        lines = log.read().decode("utf-8", "replace").splitlines()
    calls = collections.defaultdict(list)
    for line in lines:
        fields = line.split("\t")
        if len(fields) >= 8 and fields[0] == "mc":
            calls[fields[3]].append(fields[7])
    runs_seen = [members for members in calls.values() if members and members[0] == "Hello"]
    if not runs_seen:
        print("?")
        return
    runs_seen.sort(key=len)
    median = runs_seen[len(runs_seen) // 2]
    print(statistics.median(len(members) for members in runs_seen))
    top = collections.Counter(median).most_common(6)
    print(" ".join(f"{name}={count}" for name, count in top))


if __name__ == "__main__":
    main()
