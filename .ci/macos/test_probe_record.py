#!/usr/bin/env python3
"""Cases for probe_record.py, the judge of selection-probe's record in CI:

    python3 .ci/macos/test_probe_record.py
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "probe_record.py")
sys.path.insert(0, HERE)
import probe_record  # noqa: E402  (the judge beside this file)

FULL = ('{"trusted":true,"selectedLength":33,"x":109,"y":88.5,"width":219,"height":17,'
        '"text":"Read this sentence aloud, please."}')

ACCEPTED = {
    "untrusted": b'{"trusted":false}',
    "trusted, nothing focused": b'{"trusted":true}',
    "documented full record": FULL.encode(),
    "solidus escaped as Foundation writes it": b'{"trusted":true,"text":"a\\/b and c\\/d"}',
    "spaces, tabs and braces inside the text": b'{"trusted":true,"text":"a  b\\t{ } : ,"}',
    "non-ASCII text as UTF-8": '{"trusted":true,"text":"Grüße, 世界 😀"}'.encode(),
    "caret with the small box": b'{"trusted":true,"selectedLength":0,"x":100,"y":80,"width":48,'
                                b'"height":22}',
    "negative coordinates, exponent": b'{"trusted":true,"x":-1,"y":-1.5,"width":1e21,"height":12}',
}

REJECTED = {
    "space after a colon": (b'{"trusted": false}', "whitespace"),
    "line break after the record": (b'{"trusted":false}\n', "whitespace"),
    "line break between members": (b'{"trusted":true,\n"selectedLength":0}', "whitespace"),
    "two records": (b'{"trusted":false}{"trusted":false}', "not one JSON value"),
    "member written twice": (b'{"trusted":false,"trusted":true}', "more than once"),
    "untrusted with a box": (b'{"trusted":false,"x":1,"y":2,"width":8,"height":12}',
                             "besides trusted"),
    "no trusted member": (b'{"selectedLength":0}', "no boolean trusted"),
    "trusted as a number": (b'{"trusted":1}', "no boolean trusted"),
    "an array": (b'[{"trusted":false}]', "not a JSON object"),
    "half a box": (b'{"trusted":true,"x":1,"y":2}', "all of x, y, width and height"),
    "length as a float": (b'{"trusted":true,"selectedLength":3.5}', "count of UTF-16"),
    "length as a boolean": (b'{"trusted":true,"selectedLength":true}', "count of UTF-16"),
    "number not shortest": (b'{"trusted":true,"x":412.0,"y":1,"width":8,"height":12}',
                            "shortest form"),
    "null instead of absent": (b'{"trusted":true,"text":null}', "non-empty string"),
    "empty text": (b'{"trusted":true,"text":""}', "non-empty string"),
    "undocumented member": (b'{"trusted":true,"role":"AXTextField"}', "undocumented"),
    "box member as a string": (b'{"trusted":true,"x":"1","y":2,"width":8,"height":12}',
                               "not a number"),
    "invalid UTF-8": (b'{"trusted":true,"text":"\xff"}', "not UTF-8"),
    "no output": (b"", "no output"),
}


class Judge(unittest.TestCase):
    def test_accepted(self):
        for name, data in ACCEPTED.items():
            with self.subTest(name):
                self.assertIsInstance(probe_record.judge(data)["trusted"], bool)

    def test_rejected_with_the_reason(self):
        for name, (data, reason) in REJECTED.items():
            with self.subTest(name):
                with self.assertRaises(probe_record.Wrong) as caught:
                    probe_record.judge(data)
                self.assertIn(reason, str(caught.exception))

    def test_parsed_members(self):
        record = probe_record.judge(b'{"trusted":true,"selectedLength":7,"text":"a\\/b"}')
        self.assertEqual(record, {"trusted": True, "selectedLength": 7, "text": "a/b"})


class CommandLine(unittest.TestCase):
    def run_on(self, data):
        with tempfile.NamedTemporaryFile(suffix=".out") as output:
            output.write(data)
            output.flush()
            return subprocess.run([sys.executable, SCRIPT, output.name], capture_output=True,
                                  text=True)

    def test_answer_on_standard_output(self):
        self.assertEqual(self.run_on(b'{"trusted":true}').stdout, "trusted: true\n")
        self.assertEqual(self.run_on(b'{"trusted":false}').stdout, "trusted: false\n")

    def test_wrong_record_fails_with_the_reason(self):
        result = self.run_on(b'{"trusted": false}')
        self.assertEqual(result.returncode, 1)
        self.assertIn("whitespace", result.stderr)
        self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main()
