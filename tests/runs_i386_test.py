"""tools/runs_i386.py: its program really is an i386 program that exits 0
(checked under qemu's i386 emulation, which runs on any x86_64 kernel), so
"no" comes only from a kernel that refuses it; a program the kernel cannot
execute reads as "no", not as an error; the shell's two forms agree.

    tests/run.py tests/runs_i386_test.py
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

import runs_i386

PROBE = os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "tools", "runs_i386.py")


class Probe(unittest.TestCase):
    def write(self, program):
        folder = tempfile.mkdtemp(prefix="whirlo-i386-test-")
        self.addCleanup(shutil.rmtree, folder)
        path = os.path.join(folder, "probe")
        with open(path, "wb") as f:
            f.write(program)
        os.chmod(path, 0o700)
        return path

    def test_the_program_is_an_i386_program_that_exits_0(self):
        qemu = shutil.which("qemu-i386")
        self.assertTrue(qemu, "qemu-i386 is missing: install the Debian "
                        "package qemu-user (tools/install-deps does)")
        path = self.write(runs_i386.i386_executable())
        run = subprocess.run([qemu, path], capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        # qemu runs what it is given: a program that exits 7 shows that the
        # status is the program's own.
        exits_7 = runs_i386.CODE.replace(b"\x31\xdb", b"\xb3\x07")
        with mock.patch.object(runs_i386, "CODE", exits_7):
            path = self.write(runs_i386.i386_executable())
        run = subprocess.run([qemu, path], capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 7, run.stderr)

    def test_a_program_the_kernel_cannot_execute_means_no(self):
        # The same program for a machine no x86 kernel runs (ARM).
        program = bytearray(runs_i386.i386_executable())
        struct.pack_into("<H", program, 18, 40)
        with mock.patch.object(runs_i386, "i386_executable",
                               lambda: bytes(program)):
            self.assertIs(runs_i386.run_once(tempfile.gettempdir()), False)

    def test_the_two_forms_for_shell_scripts_agree(self):
        answer = subprocess.run([sys.executable, PROBE, "--answer"],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(answer.returncode, 0, answer.stderr)
        self.assertIn(answer.stdout, ("yes\n", "no\n"))
        status = subprocess.run([sys.executable, PROBE], timeout=60).returncode
        self.assertEqual(status, 0 if answer.stdout == "yes\n" else 1)
        self.assertEqual(runs_i386.kernel_runs_i386(),
                         answer.stdout == "yes\n")


if __name__ == "__main__":
    unittest.main()
