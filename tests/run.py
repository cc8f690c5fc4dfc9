#!/usr/bin/env python3
"""Runs one Python suite of the tests: a folder's test_*.py or one module.

    python3 tests/run.py tests/e2e --program build/bin/whirlo32 [--emulator tools/wine]
    python3 tests/run.py tests/hardening --program build-asan/bin/whirlo32
    python3 tests/run.py tests/bridge/test_servers.py --bridge B --program P
    python3 tests/run.py tests/setup_e2e/test_setup_posix.py --setup S --distribution D

Each path option becomes a WHIRLO_* variable (tests/lib/given.py); the
suite's folder, tests/ (for lib) and tools/ are importable. Under a wine
emulator the suite runs in one Wine session. Prints a closing line
"N passed, N failed" and exits non-zero on any failure or skip.
"""

import argparse
import os
import shlex
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
# The one place that makes the harness (tests/lib) and the tools the suites
# share (tools/webstack.py, ...) importable; suites never edit the path.
sys.path[:0] = [HERE, os.path.join(os.path.dirname(HERE), "tools")]
from lib import given  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("suite", help="a folder of test_*.py files or one test module")
    for option, what in given.OPTIONS.items():
        parser.add_argument("--" + option.replace("_", "-"), dest=option, help=what)
    parser.add_argument("--emulator", default="",
                        help='command that runs the programs, e.g. tools/wine')
    parser.add_argument("-k", dest="pattern", action="append", default=[],
                        help="only tests whose name contains this text")
    parser.add_argument("-v", dest="verbose", action="store_true")
    options = parser.parse_args()

    suite = os.path.abspath(options.suite)
    if not os.path.exists(suite):
        print("no suite at %s" % suite, file=sys.stderr)
        return 2
    # Only what this run names reaches the suite, never a caller's leftover.
    for option in given.OPTIONS:
        os.environ.pop(given.variable(option), None)
        value = getattr(options, option)
        if value is None:
            continue
        if option == "wine":
            os.environ[given.variable(option)] = value
            continue
        if option == "artefacts":
            os.makedirs(value, exist_ok=True)
        exists = os.path.isdir if option in given.FOLDERS else os.path.isfile
        if not exists(value):
            print("no %s at %s" % (option.replace("_", " "), value), file=sys.stderr)
            return 2
        os.environ[given.variable(option)] = os.path.abspath(value)
    emulator = shlex.split(options.emulator)
    if emulator and os.sep in emulator[0]:  # the suites run in other folders
        emulator[0] = os.path.abspath(emulator[0])
    os.environ["WHIRLO_EMULATOR"] = " ".join(shlex.quote(w) for w in emulator)
    # Wine cannot start a 32-bit program on a kernel without 32-bit support:
    # said once here rather than as a failure of every test.
    from lib.wine import cannot_run_here
    programs = [getattr(options, o) for o in given.OPTIONS
                if o not in given.FOLDERS and o != "wine"]
    refused = cannot_run_here(p for p in programs if p)
    if refused:
        print("cannot run %s: 32-bit Windows programs, and this kernel cannot "
              "execute 32-bit programs (tools/runs_i386.py)"
              % ", ".join(refused), file=sys.stderr)
        return 1
    folder = suite if os.path.isdir(suite) else os.path.dirname(suite)
    sys.path.insert(0, folder)

    if emulator and os.path.basename(emulator[0]).startswith("wine"):
        from lib.wine import WineSession
        with WineSession(wine=os.environ["WHIRLO_EMULATOR"]) as session:
            os.environ.clear()
            os.environ.update(session.env)
            os.environ["WHIRLO_WINDOWS_DIR"] = session.windows_directory()
            return run_suite(suite, options)
    return run_suite(suite, options)


def load(suite, patterns):
    loader = unittest.TestLoader()
    if patterns:
        loader.testNamePatterns = ["*%s*" % p for p in patterns]
    if os.path.isdir(suite):
        return loader.discover(suite, pattern="test_*.py", top_level_dir=suite)
    name = os.path.splitext(os.path.basename(suite))[0]
    return loader.loadTestsFromName(name)


def run_suite(suite, options):
    tests = load(suite, options.pattern)
    runner = unittest.TextTestRunner(verbosity=2 if options.verbose else 1)
    result = runner.run(tests)
    # A failing subtest counts once, as a failure of its test.
    failed = {getattr(test, "test_case", test).id()
              for test, _ in result.failures + result.errors}
    skipped = len(result.skipped)
    print("%d passed, %d failed" % (result.testsRun - len(failed) - skipped,
                                    len(failed)))
    return 0 if result.wasSuccessful() and not skipped else 1


if __name__ == "__main__":
    sys.exit(main())
