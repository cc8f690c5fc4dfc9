"""tests/lib/machine.py, which the browser suites wait on: a machine where
more tasks want a CPU than there are CPUs reads as busy, by the kernel's
pressure figure and by the runnable-task samples used where the kernel has
none, and a wait that never sees a quiet machine fails with the figures.

    tests/run.py tests/machine_test.py
"""

import os
import subprocess
import sys
import unittest
from unittest import mock

from lib import machine

SPIN = "import time\nend = time.monotonic() + 30\nwhile time.monotonic() < end: pass\n"


class Busy(unittest.TestCase):
    def setUp(self):
        # Two more spinning tasks than CPUs: some task always waits.
        self.spinners = [subprocess.Popen([sys.executable, "-c", SPIN])
                         for _ in range((os.cpu_count() or 1) + 2)]
        for spinner in self.spinners:
            self.addCleanup(spinner.wait)
            self.addCleanup(spinner.kill)

    def test_both_measures_read_a_queue_for_the_cpus_as_busy(self):
        sources = {"samples": "/nonexistent"}
        if machine.stalled_microseconds() is not None:  # the kernel keeps it
            sources["pressure"] = machine.PRESSURE
        for source, path in sources.items():
            with self.subTest(source=source), mock.patch.object(machine, "PRESSURE", path):
                self.assertGreater(machine.waiting_share(1.0), 0.5)

    def test_a_wait_that_sees_no_quiet_machine_fails_with_the_figures(self):
        with self.assertRaisesRegex(RuntimeError, r"a test window needs a quiet "
                                    r"machine: for \d+ s .* more than 25 % of the time "
                                    r"\(\d+ % in the last 1 s\)"):
            machine.wait_until_quiet("a test window", window=1.0, bound=0)


if __name__ == "__main__":
    unittest.main()
