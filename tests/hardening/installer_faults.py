#!/usr/bin/env python3
"""Fault injection against the installer and the CGI program, with the
real built programs: links planted under the probe's name, a re-install
killed at many points, a full disk, flushes around every rename.

    python3 tests/hardening/installer_faults.py --setup build-asan/bin/setup \\
        --distribution build-asan/distribution --program build-asan/bin/whirlo32

Needs strace and root for mounting a small tmpfs; where the mount is
refused the full-disk cases print a SKIP line naming what went untested.
Prints "N passed, N failed, N skipped".
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from lib.distribution import TARGETS
from lib.given import given
from lib.programs import strace_path
from lib.responses import WRITE_FAILED, exit_code

TIMEOUT = 30
PROBE_NAMES = ("~whl.tmp", "~WHL.TMP")
CANNOT_COPY = "Error : Cannot copy"
TEMPORARY = re.compile(r"\.~[A-Za-z0-9]{6}$")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def digest(data):
    return len(data), hashlib.sha1(data).hexdigest()


def pattern(seed, size):
    """Bytes whose every prefix differs from any other seed's."""
    unit = bytes((seed * 37 + i * 11) % 251 for i in range(4093))
    return (unit * (size // len(unit) + 1))[:size]


class Installation:
    """A CGI and an animation folder under `base`, and distribution sets."""

    def __init__(self, base):
        self.base = base
        for name in ("cgi", "anim", "windows"):
            os.makedirs(self.path(name), exist_ok=True)

    def path(self, *names):
        return os.path.join(self.base, *names)

    def distribution(self, name, seed, program_size):
        """A copy of the real set whose files carry `seed`'s bytes."""
        folder = self.path(name)
        shutil.copytree(given("distribution"), folder)
        for source, _, _ in TARGETS:
            size = program_size if source.endswith("._xe") else 3000
            write(os.path.join(folder, source), pattern(seed, size + seed))
        os.chmod(os.path.join(folder, "whirlo32._xe"), 0o755)
        return folder

    def lines(self, referers, *answers):
        """The form filled and OK'd, then the answers to the questions."""
        return [self.path("cgi"), self.path("anim"), referers, "", "O"] + \
            list(answers)

    def setup(self, dist, lines, prefix=()):
        # LeakSanitizer cannot run under ptrace.
        env = dict(os.environ, WINDIR=self.path("windows"),
                   ASAN_OPTIONS="detect_leaks=%d" % (not prefix))
        run = subprocess.run(list(prefix) + [given("setup")], cwd=dist, env=env,
                             input="".join(l + "\n" for l in lines).encode(),
                             capture_output=True, timeout=TIMEOUT)
        return run.returncode, run.stdout.decode("latin-1")

    def installed(self):
        """Each installed file's size and digest, by name."""
        return {name: digest(read(self.path(folder, name)))
                for _, folder, name in TARGETS
                if os.path.exists(self.path(folder, name))}

    def temporaries(self):
        return [name for folder in ("cgi", "anim")
                for name in os.listdir(self.path(folder))
                if TEMPORARY.search(name)]


class FaultTestCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="whlfault")
        self.addCleanup(shutil.rmtree, self.root, True)

    def mount_tmpfs(self, name, size):
        """A tmpfs of `size` bytes, or a loud skip where mounting is refused."""
        point = os.path.join(self.root, name)
        os.mkdir(point)
        run = subprocess.run(["mount", "-t", "tmpfs", "-o",
                              "size=%d,mode=0755" % size, "tmpfs", point],
                             capture_output=True, text=True)
        if run.returncode != 0:
            print("\nSKIP: %s: mounting a tmpfs was refused (%s); the "
                  "full-disk case is NOT tested" % (self.id(),
                                                    run.stderr.strip()),
                  file=sys.stderr)
            self.skipTest("mounting a tmpfs was refused")
        self.addCleanup(subprocess.run, ["umount", "-l", point])
        return point


def fill(folder):
    """Writes a file until the file system has no room left."""
    with open(os.path.join(folder, "filler"), "wb", buffering=0) as f:
        block = b"\xff" * 4096
        try:
            while True:
                f.write(block)
        except OSError:
            pass


class ProbeTests(FaultTestCase):
    """A link under the probe's name, in either letter case and in either
    folder, is removed itself; what it points at is left alone."""

    def test_planted_links_are_removed_never_followed(self):
        for folder in ("cgi", "anim"):
            for name in PROBE_NAMES:
                with self.subTest(folder=folder, name=name):
                    site = Installation(os.path.join(self.root, folder + name))
                    victim = site.path("victim")
                    write(victim, b"precious")
                    os.symlink(victim, site.path(folder, name))
                    dist = site.distribution("dist", 1, 5000)
                    code, out = site.setup(dist, site.lines("", ""))
                    self.assertIn("has been installed", out)
                    self.assertEqual(read(victim), b"precious")
                    self.assertFalse(os.path.lexists(site.path(folder, name)))
                    self.assertFalse(os.path.lexists(site.path(folder,
                                                               "~whl.tmp")))


class ReinstallKillTests(FaultTestCase):
    """A re-install killed before any one of its system calls leaves every
    installed file whole, old or new, and pelk.ini too; the next complete
    run installs the new set and removes what the killed ones left."""

    KILLED_CALLS = ("openat", "write", "fsync", "rename", "link", "unlink",
                    "close")

    def call_counts(self, site, dist, lines):
        log = os.path.join(self.root, "counts.log")
        site.setup(dist, lines, [strace_path(), "-f", "-qq", "-o", log, "-e",
                                 "trace=" + ",".join(self.KILLED_CALLS)])
        counts = dict.fromkeys(self.KILLED_CALLS, 0)
        with open(log) as f:
            for line in f:
                m = re.match(r"(?:\d+\s+)?(\w+)\(", line)
                if m and m.group(1) in counts:
                    counts[m.group(1)] += 1
        return counts

    def test_kills_at_many_points_leave_old_or_new_files(self):
        site = Installation(self.root)
        old_dist = site.distribution("old", 1, 2275704)
        new_dist = site.distribution("new", 2, 1900000)
        code, out = site.setup(old_dist, site.lines("", ""))
        self.assertIn("has been installed", out)
        old_files, old_ini = site.installed(), read(site.path("cgi", "pelk.ini"))
        new_files = {name: digest(read(os.path.join(new_dist, source)))
                     for source, _, name in TARGETS}
        lines = site.lines("www.example.com", *["y"] * 5, "")
        counts = self.call_counts(site, new_dist, lines)
        # The measuring run installed the new set: start again from the old.
        code, out = site.setup(old_dist, site.lines("", *["y"] * 5, ""))
        self.assertEqual(site.installed(), old_files)
        kills = 0
        for call, count in counts.items():
            step = max(1, count // 12)
            for n in range(1, count + 1, step):
                site.setup(new_dist, lines, [
                    strace_path(), "-f", "-qq", "-o", "/dev/null", "-e",
                    "trace=" + call, "-e",
                    "inject=%s:signal=KILL:when=%d" % (call, n)])
                kills += 1
                for name, data in site.installed().items():
                    self.assertIn(data, (old_files[name], new_files[name]),
                                  "%s torn by a kill at %s #%d" % (name, call, n))
                self.assertEqual(len(site.installed()), len(TARGETS))
                ini = read(site.path("cgi", "pelk.ini"))
                self.assertIn(b"Allow Only=", ini)
                self.assertTrue(ini == old_ini or b"www.example.com" in ini,
                                "pelk.ini torn at %s #%d" % (call, n))
        print("\n%d kills over %s" % (kills, counts), file=sys.stderr)
        self.assertGreater(counts["rename"], len(TARGETS))
        code, out = site.setup(new_dist, lines)
        self.assertIn("has been installed", out)
        self.assertEqual(site.installed(), new_files)
        self.assertEqual(site.temporaries(), [])


class FlushOrderTests(FaultTestCase):
    """Each replaced file is flushed before its rename and its folder
    after, as a database does."""

    def test_file_flushed_before_and_folder_after_each_rename(self):
        site = Installation(self.root)
        dist = site.distribution("dist", 1, 100000)
        log = os.path.join(self.root, "flush.log")
        site.setup(dist, site.lines("", ""), [
            strace_path(), "-f", "-qq", "-y", "-o", log, "-e",
            "trace=fsync,fdatasync,rename,renameat,renameat2,link,linkat"])
        with open(log) as f:
            calls = [line for line in f if "= -1" not in line]
        flushed = [re.search(r"<(.*)>", l).group(1) for l in calls
                   if re.match(r"(?:\d+\s+)?f(data)?sync\(", l)]
        published = []
        for i, line in enumerate(calls):
            m = re.search(r'(?:rename|link)\w*\(.*?"([^"]+)".*?"([^"]+)"', line)
            if not m:
                continue
            temporary, target = (os.path.join(site.path("dist"), p)
                                 for p in m.groups())
            published.append(target)
            before = "".join(calls[:i])
            after = "".join(calls[i + 1:i + 3])
            self.assertIn("<%s>" % os.path.realpath(temporary), before, line)
            self.assertIn("<%s>" % os.path.dirname(os.path.realpath(target)),
                          after, line)
        self.assertTrue(flushed)
        names = {os.path.basename(p) for p in published}
        self.assertLessEqual({"whirlo32.exe", "whirlo1.gif", "pelk.ini"},
                             names)


class FullDiskTests(FaultTestCase):
    def test_reinstall_on_a_full_disk_keeps_the_old_files(self):
        site = Installation(self.mount_tmpfs("disk", 4 << 20))
        old_dist = site.distribution(os.path.join(self.root, "old"), 1, 1 << 20)
        new_dist = site.distribution(os.path.join(self.root, "new"), 2,
                                     3 << 19)
        code, out = site.setup(old_dist, site.lines("", ""))
        self.assertIn("has been installed", out)
        old_files, old_ini = site.installed(), read(site.path("cgi", "pelk.ini"))
        fill(site.base)
        code, out = site.setup(new_dist, site.lines("www.example.com",
                                                    *["y"] * 5, ""))
        self.assertIn(CANNOT_COPY, out)
        self.assertEqual(site.installed(), old_files)
        self.assertEqual(read(site.path("cgi", "pelk.ini")), old_ini)
        self.assertEqual(site.temporaries(), [])

    def test_response_cut_by_a_full_disk_reports_1004(self):
        disk = self.mount_tmpfs("disk", 256 << 10)
        site = Installation(self.root)
        write(site.path("cgi", "pelk.ini"), b"[Whirl]\r\nAnimation Path=%s/\r\n"
              b"Allow Viewer=Mozilla\r\n" % site.path("anim").encode())
        for n in range(1, 14):
            write(site.path("anim", "whirlo%d.gif" % n), pattern(n, 64 << 10))
        for output in (os.path.join(disk, "cgi.out"), "/dev/full"):
            with self.subTest(output=output):
                data = site.path("cgi.dat")
                write(data, b"[CGI]\r\nQuery String=\r\n[Extra Headers]\r\n"
                      b"User-Agent=Mozilla\r\n[System]\r\nOutput File=%s\r\n"
                      % output.encode())
                run = subprocess.run([given("program"), data], cwd=site.path("cgi"),
                                     env=dict(os.environ,
                                              WINDIR=site.path("windows")),
                                     capture_output=True, timeout=TIMEOUT)
                self.assertEqual(run.returncode, exit_code(1004))
                self.assertEqual(run.stdout, WRITE_FAILED)

