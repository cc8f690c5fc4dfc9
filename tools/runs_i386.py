#!/usr/bin/env python3
"""Whether this kernel runs 32-bit x86 (i386) programs.

    python3 tools/runs_i386.py            exit 0: it does; 1: it does not
    python3 tools/runs_i386.py --answer   prints yes or no, exits 0

Exit 2 (with a message) when the question could not be answered. A kernel
built without IA32 emulation, or booted with it off, refuses every i386
program with "Exec format error", and then Debian's 32-bit Wine loader
cannot start either. No i386 toolchain is needed: the probe writes a
static i386 executable of a few bytes that only exits, and runs it.

From Python: runs_i386.kernel_runs_i386() (asked once per process).
"""

import errno
import functools
import os
import struct
import subprocess
import sys
import tempfile
import time

BASE = 0x08048000
# mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
CODE = b"\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80"
ELF_HEADER_SIZE, PROGRAM_HEADER_SIZE = 52, 32


class ProbeError(Exception):
    pass


def i386_executable():
    """A static i386 ELF executable that exits with status 0: one loadable
    segment holding the headers and the code, entered right after them."""
    entry = BASE + ELF_HEADER_SIZE + PROGRAM_HEADER_SIZE
    size = ELF_HEADER_SIZE + PROGRAM_HEADER_SIZE + len(CODE)
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)  # 32-bit, LSB, v1
    header = ident + struct.pack(
        "<HHIIIIIHHHHHH",
        2, 3, 1,             # executable, Intel 80386, version 1
        entry, ELF_HEADER_SIZE, 0, 0,  # entry, program headers, no sections
        ELF_HEADER_SIZE, PROGRAM_HEADER_SIZE, 1, 0, 0, 0)
    segment = struct.pack(
        "<IIIIIIII",
        1, 0, BASE, BASE,    # loadable, from offset 0, at BASE
        size, size, 5, 0x1000)  # read and execute
    return header + segment + CODE


def folders():
    """Where the executable may be written: the temporary folder, and this
    checkout's tools/ should that one be mounted noexec."""
    yield tempfile.gettempdir()
    yield os.path.dirname(os.path.abspath(__file__))


def run_once(folder):
    """True or False, or None when this folder cannot hold a program."""
    fd, path = tempfile.mkstemp(prefix=".whirlo-i386-probe-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(i386_executable())
        os.chmod(path, 0o700)
        # Another thread's child may hold the file open for writing for a
        # moment (until its exec closes it): "Text file busy" then.
        for attempt in range(50):
            try:
                run = subprocess.run([path], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, timeout=30)
            except OSError as e:
                if e.errno == errno.ENOEXEC:
                    return False
                if e.errno == errno.ETXTBSY and attempt < 49:
                    time.sleep(0.02)
                    continue
                if e.errno == errno.EACCES:
                    return None
                raise ProbeError("could not run %s: %s" % (path, e))
            if run.returncode != 0:
                raise ProbeError("the i386 probe exited with %d, not 0"
                                 % run.returncode)
            return True
    finally:
        os.unlink(path)


@functools.lru_cache(maxsize=None)
def kernel_runs_i386():
    """True when the kernel runs i386 programs; raises ProbeError when that
    cannot be told."""
    tried = []
    for folder in folders():
        try:
            answer = run_once(folder)
        except OSError as e:  # the folder cannot be written
            tried.append("%s (%s)" % (folder, e.strerror))
            continue
        if answer is not None:
            return answer
        tried.append("%s (not executable there)" % folder)
    raise ProbeError("found no folder to run the i386 probe from: "
                     + ", ".join(tried))


def main(argv):
    if argv not in ([], ["--answer"]):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        runs = kernel_runs_i386()
    except ProbeError as e:
        print("runs_i386.py: %s" % e, file=sys.stderr)
        return 2
    if argv:
        print("yes" if runs else "no")
        return 0
    return 0 if runs else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
