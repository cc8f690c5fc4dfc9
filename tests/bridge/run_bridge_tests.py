#!/usr/bin/env python3
"""Runs one suite of the bridge tests.

    python3 tests/bridge/run_bridge_tests.py --bridge B --program P SUITE

SUITE is cgi, fastcgi, servers, fastcgi_servers, browser or wine
(test_bridge_cgi.py, test_fastcgi_mode.py, test_servers.py,
test_fastcgi_servers.py, test_browser.py, test_wine.py: the Windows build,
run with --emulator). Prints "N passed, N failed"; exits non-zero on failure.
"""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SUITES = {"cgi": "test_bridge_cgi", "fastcgi": "test_fastcgi_mode",
          "servers": "test_servers", "fastcgi_servers": "test_fastcgi_servers",
          "browser": "test_browser", "wine": "test_wine"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--emulator", default="", help='e.g. "wine"')
    parser.add_argument("suite", choices=sorted(SUITES))
    parser.add_argument("-k", dest="pattern", action="append", default=[])
    options = parser.parse_args()
    for path in (options.bridge, options.program):
        if not os.access(path, os.X_OK):
            print("no executable at %s" % path, file=sys.stderr)
            return 2
    os.environ["WHIRLO_BRIDGE"] = os.path.abspath(options.bridge)
    os.environ["WHIRLO_PROGRAM"] = os.path.abspath(options.program)
    os.environ["WHIRLO_EMULATOR"] = options.emulator

    sys.path.insert(0, HERE)
    loader = unittest.TestLoader()
    if options.pattern:
        loader.testNamePatterns = ["*%s*" % p for p in options.pattern]
    suite = loader.loadTestsFromName(SUITES[options.suite])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    # A failing subtest counts once, as a failure of its test.
    failed = len({getattr(test, "test_case", test).id()
                  for test, _ in result.failures + result.errors})
    skipped = len(result.skipped)
    print("%d passed, %d failed" % (result.testsRun - failed - skipped, failed))
    return 0 if result.wasSuccessful() and not skipped else 1


if __name__ == "__main__":
    sys.exit(main())
