"""tests/lib/programs.py's traced runs: a run that a signal ends says which
signal it was and which process sent it, as strace saw them.

    tests/run.py tests/traced_runs_test.py
"""

import os
import sys
import unittest

from lib import programs


class SignalledRun(unittest.TestCase):
    def test_names_the_signal_and_its_sender(self):
        # The program's parent sends the signal: a sender other than itself.
        script = ("import os, signal, time\n"
                  "print(os.getpid(), flush=True)\n"
                  "child = os.fork()\n"
                  "if child == 0:\n"
                  "    time.sleep(30)\n"
                  "    os._exit(0)\n"
                  "time.sleep(0.2)\n"
                  "os.kill(child, signal.SIGHUP)\n"
                  "os.waitpid(child, 0)\n"
                  "os.kill(os.getpid(), signal.SIGHUP)\n")
        result = programs.run([sys.executable, "-c", script], os.getcwd(),
                              dict(os.environ), traced=True)
        self.assertEqual(result.code, -1, result)
        sender = int(result.stdout)
        hangups = [s for s in result.signals if s.startswith("SIGHUP")]
        self.assertEqual(hangups, ["SIGHUP from process %d (ended)" % sender] * 2,
                         result.signals)
        self.assertIn("signals=", repr(result))

    def test_a_run_that_ends_by_itself_has_none(self):
        result = programs.run(["true"], os.getcwd(), dict(os.environ), traced=True)
        self.assertEqual((result.code, result.signals), (0, []))


if __name__ == "__main__":
    unittest.main()
