#!/usr/bin/env python3
"""Runs the whirlo32 end-to-end tests.

    python3 tests/e2e/run_e2e.py --program build/bin/whirlo32 [--emulator "wine"]

Prints a closing line "N passed, N failed" and exits non-zero on any failure.
"""

import argparse
import os
import shlex
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the whirlo32 executable")
    parser.add_argument("--emulator", default="",
                        help='command that runs the program, e.g. "wine"')
    parser.add_argument("-k", dest="pattern", action="append", default=[],
                        help="only tests whose name contains this text")
    parser.add_argument("-v", dest="verbose", action="store_true")
    options = parser.parse_args()

    program = os.path.abspath(options.program)
    if not os.path.isfile(program):
        print("no program at %s" % program, file=sys.stderr)
        return 2
    emulator = shlex.split(options.emulator)
    os.environ["WHIRLO_PROGRAM"] = program
    os.environ["WHIRLO_EMULATOR"] = " ".join(shlex.quote(w) for w in emulator)
    sys.path.insert(0, HERE)

    if emulator and os.path.basename(emulator[0]).startswith("wine"):
        from wine_session import WineSession
        with WineSession() as session:
            os.environ.clear()
            os.environ.update(session.env)
            os.environ["WHIRLO_WINDOWS_DIR"] = session.windows_directory()
            return run_suite(options)
    return run_suite(options)


def run_suite(options):
    loader = unittest.TestLoader()
    if options.pattern:
        loader.testNamePatterns = ["*%s*" % p for p in options.pattern]
    suite = loader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    runner = unittest.TextTestRunner(verbosity=2 if options.verbose else 1)
    result = runner.run(suite)

    failed = set()
    for test, _ in result.failures + result.errors:
        failed.add(getattr(test, "test_case", test).id())
    passed = result.testsRun - len(failed) - len(result.skipped)
    print("%d passed, %d failed" % (passed, len(failed)))
    return 0 if result.wasSuccessful() and not failed else 1


if __name__ == "__main__":
    sys.exit(main())
