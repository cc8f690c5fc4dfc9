#!/usr/bin/env python3
"""The Wine session's prefix: a kept prefix that another Wine set-up made
is made anew, and the build's whirlo32.exe then runs in it; a prefix of
this set-up is kept; a folder that is no prefix is never removed. Each
case uses a prefix of its own in a temporary folder. And the wrapper runs
Wine with address randomization off, its heap right after the loader.

Usage: tests/run.py tests/wine_prefix_test.py --program whirlo32.exe --wine tools/wine
"""
import os
import shutil
import subprocess
import tempfile
import time
import unittest
from unittest import mock

from lib import wine
from lib.given import given


class KeptPrefix(unittest.TestCase):
    def setUp(self):
        root = tempfile.mkdtemp(prefix="whirlo-wine-prefix-")
        self.addCleanup(shutil.rmtree, root, True)
        self.prefix = os.path.join(root, "prefix")
        os.environ["WHIRLO_WINEPREFIX"] = self.prefix
        self.addCleanup(os.environ.pop, "WHIRLO_WINEPREFIX")

    def plant(self, relative, text=""):
        path = os.path.join(self.prefix, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        return path

    def session(self):
        return wine.WineSession(wine=given("wine"))

    def assert_program_runs(self, session):
        # Without arguments the program says it cannot run from a RUN box;
        # a loader that cannot start it says nothing of the kind.
        run = session.run([given("program")], capture_output=True, timeout=120)
        self.assertIn(b"WHL1001", run.stdout, run.stderr[-2000:])

    def test_a_prefix_of_another_set_up_is_made_anew(self):
        cases = {
            "32-bit only": "#arch=win32\n",
            "no record of its set-up": "#arch=win64\n",
        }
        for name, header in cases.items():
            with self.subTest(name):
                shutil.rmtree(self.prefix, True)
                self.plant("system.reg", "WINE REGISTRY Version 2\n\n" + header)
                marker = self.plant("drive_c/stale.txt", "left by another Wine")
                with self.session() as session:
                    self.assertFalse(os.path.exists(marker))
                    self.assert_program_runs(session)
                # The wineserver writes system.reg as it ends.
                self.assertEqual(wine.prefix_arch(self.prefix), "win64")

        # A record of another set-up (another version or loaders).
        record = os.path.join(self.prefix, wine.SETUP_RECORD)
        with open(record) as f:
            made_by = f.read()
        with open(record, "w") as f:
            f.write(made_by.replace("version ", "version other "))
        marker = self.plant("drive_c/stale.txt")
        with self.session():
            self.assertFalse(os.path.exists(marker))
        with open(record) as f:
            self.assertEqual(f.read(), made_by)

        # This set-up's prefix is kept as it is.
        marker = self.plant("drive_c/kept.txt")
        with self.session() as session:
            self.assertTrue(os.path.exists(marker))
            self.assert_program_runs(session)

    def test_the_record_names_whether_32_bit_programs_run(self):
        # A prefix made where they cannot run has no 32-bit half: it must be
        # made anew once they can (and the other way round).
        session = self.session()
        made_by = wine.wine_setup(session.wine, session.env)
        self.assertEqual(wine.wine_setup(session.wine, session.env), made_by)
        runs = wine.kernel_runs_i386()
        with mock.patch.object(wine, "kernel_runs_i386", lambda: not runs):
            other_kernel = wine.wine_setup(session.wine, session.env)
        self.assertNotEqual(other_kernel, made_by)

    def test_a_folder_that_is_no_prefix_is_left_alone(self):
        mine = self.plant("notes.txt", "not Wine's")
        with self.assertRaises(wine.WinePrefixError) as raised:
            with self.session():
                pass
        self.assertIn(self.prefix, str(raised.exception))
        self.assertEqual(os.listdir(self.prefix), ["notes.txt"])
        with open(mine) as f:
            self.assertEqual(f.read(), "not Wine's")
        # The lock was given back: the next session can take it.
        os.remove(mine)
        with self.session() as session:
            self.assert_program_runs(session)

    def test_wine_runs_with_its_heap_right_after_the_loader(self):
        # Randomized, the loader's heap now and then lands on the page Wine
        # maps at 0x7ffe0000, and Wine ends with exit code 1 before the
        # program starts.
        with self.session() as session:
            process = session.start(["cmd.exe", "/c", "ping -n 4 127.0.0.1 >nul"])
            self.addCleanup(process.wait)
            self.addCleanup(process.kill)
            deadline, maps = time.monotonic() + 30, []
            while time.monotonic() < deadline and not any(m.endswith("[heap]") for m in maps):
                time.sleep(0.1)
                with open("/proc/%d/maps" % process.pid) as f:
                    maps = f.read().splitlines()
            with open("/proc/%d/personality" % process.pid) as f:
                personality = int(f.read(), 16)
        no_randomize = 0x0040000
        self.assertTrue(personality & no_randomize,
                        "Wine runs with address randomization on (setarch -R refused?)")
        loader = [m for m in maps if m.endswith(("/wine64", "/wine"))]
        heap = [m for m in maps if m.endswith("[heap]")]
        self.assertTrue(loader and heap, "\n".join(maps))
        self.assertEqual(heap[0].split("-")[0], loader[-1].split()[0].split("-")[1],
                         "the heap does not follow the loader:\n" + "\n".join(maps))
