#!/usr/bin/env python3
"""Runs the hardening tests: malformed inputs and confinement, end to end.

    python3 tests/hardening/run_hardening.py --program build-asan/bin/whirlo32

Needs strace (tools/run-tests installs it). Prints "N passed, N failed".
"""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("-k", dest="pattern", action="append", default=[])
    parser.add_argument("-v", dest="verbose", action="store_true")
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    if not os.path.isfile(program):
        print("no program at %s" % program, file=sys.stderr)
        return 2
    os.environ["WHIRLO_PROGRAM"] = program

    sys.path.insert(0, HERE)
    loader = unittest.TestLoader()
    if options.pattern:
        loader.testNamePatterns = ["*%s*" % p for p in options.pattern]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    result = unittest.TextTestRunner(verbosity=2 if options.verbose else 1).run(suite)
    failed = {getattr(t, "test_case", t).id()
              for t, _ in result.failures + result.errors}
    passed = result.testsRun - len(failed) - len(result.skipped)
    print("%d passed, %d failed" % (passed, len(failed)))
    return 0 if result.wasSuccessful() and not result.skipped else 1


if __name__ == "__main__":
    sys.exit(main())
