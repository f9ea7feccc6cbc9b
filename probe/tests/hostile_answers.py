#!/usr/bin/python3
"""selection-probe against a hostile accessible application (`hostile_atspi_app.py`).

Runs under `testing/with-display --dbus`. For one MODE it starts the application, runs the
probe once, as a host does, with GLib's criticals made fatal, and judges that answer: exit
status 0, nothing on standard error, one compact record that keeps its own rules (a text never
longer than its length nor than the long-selection prefix, no negative or overflowing box, no
secret), and, where the focused field is there to be found, its text.

    hostile_answers.py PROBE MODE [N]

MODE root-bus-tcp is the plain application while the X root window's AT_SPI_BUS names a
nonce-tcp bus (any X client may set it) whose peer accepts and never answers: the probe must
neither connect there nor lose the answer.

Exits 77 (skipped) when this Python has no GObject introspection (Debian's python3-gi).
"""

import json
import os
import selectors
import socket
import subprocess
import sys
import tempfile

try:
    import gi  # noqa: F401  (the application needs it; checked here to skip cleanly)
except ImportError as missing:
    print(f"SKIPPED: {sys.executable} has no GObject introspection ({missing})")
    sys.exit(77)

PROBE = os.path.abspath(os.environ.get("SELECTION_PROBE_UNDER_TEST") or sys.argv[1])
MODE = sys.argv[2]
COUNT = sys.argv[3:4]
APP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hostile_atspi_app.py")
LIMIT = 120.0  # guards against a hang only
SECRET = "s3cret-hunter2"
FIELD_TEXT = "Read this hostile field."
PREFIX_UNITS = 1350
INT32 = range(-2**31, 2**31)


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def start_application():
    mode = "plain" if MODE == "root-bus-tcp" else MODE
    process = subprocess.Popen([sys.executable, APP, mode, *COUNT], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True, start_new_session=True)
    lines = selectors.DefaultSelector()
    lines.register(process.stdout, selectors.EVENT_READ)
    if not lines.select(LIMIT) or process.stdout.readline().strip() != "ready":
        process.kill()
        sys.exit(f"the hostile application did not start ({MODE})")
    return process


def probe():
    env = dict(os.environ, G_DEBUG="fatal-criticals")
    done = subprocess.run([PROBE], capture_output=True, timeout=LIMIT, env=env)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr


def rule_failures(status, out, err):
    """What any answer must keep, whatever the application sent."""
    failures = []
    if status != 0:
        failures.append(f"exit status {status}")
    if err:
        failures.append(f"standard error: {err[:300]!r}")
    try:
        answer = json.loads(out)
    except ValueError:
        return failures + [f"not one JSON record: {out[:300]!r}"], {}
    if answer.get("trusted") is not True:
        failures.append("not trusted")
    box = [answer.get(member) for member in ("x", "y", "width", "height")]
    if any(value is not None for value in box):
        if any(not isinstance(value, int) or value not in INT32 for value in box):
            failures.append(f"box incomplete or out of range: {box}")
        elif box[2] < 0 or box[3] < 0:
            failures.append(f"negative box: {box}")
    if "text" in answer:
        units = utf16_length(answer["text"])
        if "selectedLength" not in answer:
            failures.append("text without its length")
        elif units > answer["selectedLength"] or units > PREFIX_UNITS:
            failures.append(f"text of {units} units beside length {answer['selectedLength']}")
    if SECRET in out:
        failures.append("the secret left the application")
    return failures, answer


def expect_field_text(start, end):
    def check(answer):
        wanted = FIELD_TEXT[start:end]
        return [] if answer.get("text") == wanted else [f"text {answer.get('text')!r}, not {wanted!r}"]
    return check


def expect_secret_kept(answer):
    kept = [member for member in ("text", "selectedLength") if member in answer]
    failures = [f"{member} given for a range holding a password" for member in kept]
    if "width" not in answer:
        failures.append("the paragraph's box is lost")
    return failures


def expect_sane_box(answer):
    """The field lies at positive coordinates: a far or negative extent gives no such box."""
    box = [answer.get(member, 0) for member in ("x", "y", "width", "height")]
    return [] if min(box) >= 0 else [f"box {box} from extents that do not fit"]


def expect_nothing_selected(answer):
    """A caret, as a GTK entry gives it: length 0 and no text, whatever the text call answered."""
    if answer.get("selectedLength") == 0 and "text" not in answer:
        return []
    return [f"a caret answered as {answer.get('selectedLength')!r}, {answer.get('text')!r}"]


MODE_CHECKS = {
    "inclusive-end": expect_nothing_selected,
    "root-bus-tcp": expect_field_text(5, 12),
    "extents-far": expect_sane_box,
    "extents-negative": expect_sane_box,
    "password-child": expect_secret_kept,
    "cache-loop": expect_field_text(5, 12),
    "background-crowd": expect_field_text(5, 12),
    "nameless-child": expect_field_text(5, 12),
    "text-longer": lambda answer: [] if answer.get("selectedLength") == 5 else ["length lost"],
}


class SilentPeer:
    """A TCP peer named on the root window as the accessibility bus: it takes connections and
    never answers."""

    def __init__(self, folder):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(8)
        self.server.setblocking(False)
        nonce = os.path.join(folder, "nonce")
        with open(nonce, "wb") as file:
            file.write(b"0123456789abcdef")
        port = self.server.getsockname()[1]
        address = f"nonce-tcp:host=127.0.0.1,port={port},noncefile={nonce}"
        subprocess.run(["xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS",
                        address], check=True, timeout=LIMIT)

    def connections(self):
        count = 0
        while True:
            try:
                connection, _ = self.server.accept()
            except BlockingIOError:
                return count
            connection.close()
            count += 1


def main():
    application = start_application()
    folder = tempfile.TemporaryDirectory()
    peer = SilentPeer(folder.name) if MODE == "root-bus-tcp" else None
    try:
        status, out, err = probe()
    finally:
        folder.cleanup()
        application.stdin.close()
        application.terminate()
        application.wait(timeout=LIMIT)
    failures, answer = rule_failures(status, out, err)
    if peer and peer.connections():
        failures.append("the probe connected to the bus an X client named")
    if answer:
        failures += MODE_CHECKS.get(MODE, lambda _answer: [])(answer)
    print(f"{MODE} {' '.join(COUNT)}: {out.strip()[:400]}")
    for failure in failures:
        print(f"FAIL {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
