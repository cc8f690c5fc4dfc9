"""The test case base of the suites that run whirlo32: a private Site per
test and assertions on exit code, messages and the output file."""

import os
import time
import unittest

from lib.responses import exit_code, message
from lib.tree import Site


def describe_difference(actual, expected):
    n = 0
    limit = min(len(actual), len(expected))
    while n < limit and actual[n] == expected[n]:
        n += 1
    lo = max(0, n - 40)
    return ("lengths %d (got) / %d (expected), first difference at byte %d\n"
            "  got:      %r\n  expected: %r"
            % (len(actual), len(expected), n, actual[lo:n + 60], expected[lo:n + 60]))


class SiteTestCase(unittest.TestCase):
    maxDiff = 4000
    configured = False  # True: each test starts with the default pelk.ini
    x_frames = ()       # numbers of the frames x<n>.gif each test starts with

    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.close)
        if self.configured:
            self.site.write_config()
        self.frames = self.site.write_frames("x", self.x_frames)

    def expected_stdout(self, numbers):
        text = b"".join(message(n) for n in numbers)
        if self.site.emulated:
            text = text.replace(b"\n", b"\r\n")
        return text

    def assertStdout(self, result, numbers):
        self.assertEqual(result.stdout, self.expected_stdout(numbers),
                         "standard output")

    def assertBytes(self, actual, expected, what="output file"):
        if actual is None:
            self.fail("%s not created, expected %d bytes" % (what, len(expected)))
        if actual != expected:
            self.fail("%s differs: %s" % (what, describe_difference(actual, expected)))

    def assertOutcome(self, result, number=0, messages=None, output=None):
        """Exit code, exact standard output and output file. messages defaults
        to the one message of `number` (none for 0); output None means no
        output file must exist."""
        if messages is None:
            messages = [number] if number else []
        self.assertEqual(result.code, exit_code(number),
                         "exit code; %r" % result)
        self.assertStdout(result, messages)
        if output is None:
            self.assertIsNone(result.output, "no output file expected")
        else:
            self.assertBytes(result.output, output)

    def assertServed(self, result, output, messages=()):
        """A complete response, exit code 0, request files deleted."""
        self.assertOutcome(result, 0, list(messages), output)
        self.assertFalse(result.data_exists, "data file left behind")
        self.assertFalse(result.content_exists, "content file left behind")

    def run_confined(self, data, content, output, traced=True):
        """Runs one request and checks what every run must do, whatever its
        input: no crash, the data file and the content file gone, nothing
        below root written or removed but those three files, and (traced,
        natively only) nothing anywhere else written, removed, renamed or
        created."""
        traced = traced and not self.site.emulated
        before = self.site.snapshot()
        result = self.site.run([self.site.host(data)], output=output,
                               traced=traced)
        if self.site.emulated:
            # Wine's server may finish a deletion just after the program's
            # end has been reported.
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and any(
                    p and os.path.isfile(p) for p in (data, content)):
                time.sleep(0.02)
        after = self.site.snapshot()
        self.assertIsNotNone(result.code, "timed out: %r" % result)
        self.assertGreaterEqual(result.code, 0, "killed by a signal: %r" % result)
        self.assertNotIn(b"Sanitizer", result.stderr, result.stderr[-3000:])
        self.assertFalse(os.path.lexists(data) and os.path.isfile(data),
                         "data file left behind: %r" % result)
        if content:
            self.assertFalse(os.path.exists(content),
                             "content file left behind: %r" % result)
        expected = {p: h for p, h in before.items() if p not in (data, content)}
        if os.path.isdir(data):
            expected[data] = "dir"
        changed = {p for p in set(expected) | set(after)
                   if expected.get(p) != after.get(p) and p != output}
        self.assertEqual(changed, set(), "files changed besides the output file")
        if result.trace:
            allowed = {os.path.normpath(p) for p in (data, content, output) if p}
            self.assertEqual(set(result.trace.written) - allowed, set(),
                             "files opened for writing")
            self.assertEqual(set(result.trace.removed) - allowed, set(),
                             "files removed")
            self.assertEqual(result.trace.changed, [], "other changes")
        return result
