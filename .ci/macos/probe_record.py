#!/usr/bin/env python3
"""Judges one record of selection-probe the way a host reads it:

    .ci/macos/probe_record.py FILE        (FILE holds the probe's standard output; - for stdin)

The record must be one JSON object in UTF-8, each member once, with only the documented members
and types, and compact: no whitespace outside its strings and nothing after the closing brace,
not even a line break. Compactness is judged on the text itself and everything else on the parsed
object, never by comparing the text with another writer's: the probe writes "/" as "\\/", as
Foundation's writer does, where Python's json writes "/". Prints "trusted: true" or
"trusted: false"; exits 1 with the reason when the record is wrong.
"""

import json
import math
import re
import sys

BOX = ("x", "y", "width", "height")
MEMBERS = {"trusted", "selectedLength", "text", *BOX}
# A number in its shortest form: no fraction that ends in a zero ("412", never "412.0").
SHORTEST_NUMBER = re.compile(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]*[1-9])?(?:[eE][-+]?[0-9]+)?")
NUMBER_TOKEN = re.compile(r"-?[0-9][0-9.eE+-]*")


class Wrong(Exception):
    """The record breaks the probe's output contract; the message says how."""


def outside_strings(text):
    """text with each string literal, quotes included, replaced by one '"'."""
    kept = []
    index = 0
    while index < len(text):
        if text[index] == '"':
            _, index = json.decoder.scanstring(text, index + 1, True)
            kept.append('"')
        else:
            kept.append(text[index])
            index += 1
    return "".join(kept)


def unique_members(pairs):
    names = [name for name, _ in pairs]
    repeated = sorted({name for name in names if names.count(name) > 1})
    if repeated:
        raise Wrong(f"member written more than once: {', '.join(repeated)}")
    return dict(pairs)


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def judge(data):
    """The parsed record of the probe's output bytes; raises Wrong when they break the contract."""
    if not data:
        raise Wrong("no output")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise Wrong(f"not UTF-8: {error}") from None
    try:
        record = json.loads(text, object_pairs_hook=unique_members)
    except json.JSONDecodeError as error:
        raise Wrong(f"not one JSON value: {error}") from None
    if not isinstance(record, dict):
        raise Wrong("not a JSON object")
    skeleton = outside_strings(text)
    if re.search(r"\s", skeleton):
        raise Wrong("whitespace outside strings (the record must be compact, on one line with "
                    "no line break after it)")
    for token in NUMBER_TOKEN.findall(skeleton):
        if not SHORTEST_NUMBER.fullmatch(token):
            raise Wrong(f"number not in its shortest form: {token}")

    if not isinstance(record.get("trusted"), bool):
        raise Wrong("no boolean trusted member")
    if not record["trusted"] and record != {"trusted": False}:
        raise Wrong("an untrusted record has members besides trusted")
    unknown = sorted(set(record) - MEMBERS)
    if unknown:
        raise Wrong(f"undocumented members: {', '.join(unknown)}")
    length = record.get("selectedLength")
    if "selectedLength" in record and not (
            isinstance(length, int) and not isinstance(length, bool) and length >= 0):
        raise Wrong(f"selectedLength is not a count of UTF-16 units: {length!r}")
    present = [name for name in BOX if name in record]
    if present and len(present) != len(BOX):
        raise Wrong(f"a box needs all of x, y, width and height, not only {', '.join(present)}")
    for name in present:
        if not is_number(record[name]):
            raise Wrong(f"{name} is not a number: {record[name]!r}")
    if "text" in record and not (isinstance(record["text"], str) and record["text"]):
        raise Wrong(f"text is not a non-empty string: {record['text']!r}")
    return record


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if argv[1] == "-":
        data = sys.stdin.buffer.read()
    else:
        with open(argv[1], "rb") as output:
            data = output.read()
    try:
        record = judge(data)
    except Wrong as wrong:
        print(f"probe record {data!r}: {wrong}", file=sys.stderr)
        return 1
    print("trusted:", "true" if record["trusted"] else "false")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
