"""Fixture of the hardening tests: a private folder tree per test, runs of
the program with a snapshot of that tree before and after, and, under
strace, the list of every file the run opened, wrote, removed or looked at.

    <root>/cgi      current directory of the program (pelk.ini here)
    <root>/windows  WINDIR
    <root>/anim     the animation directory
    <root>/temp     data file, content file and output file

The program comes from WHIRLO_PROGRAM (run_hardening.py sets it).
"""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest

RUN_TIMEOUT = 60
STATUS = b"HTTP/1.0 200 OK\n"
BOUNDARY = b"\n--sometext\n"
MULTIPART = (b"Content-type: multipart/x-mixed-replace;boundary=sometext\n"
             + BOUNDARY)
ERROR_PAGE = (b"Content-type: text/html\n\n<html><body>Whirlo-32 V1.2, error : "
              b"WHL1005 (cannot open picture files)</body></html>" + BOUNDARY)
MIME = {".GIF": b"image/gif", ".JPG": b"image/jpeg", ".TIF": b"image/tif"}
REASONS = {1001: "", 1002: "", 1003: " (invalid picture extension)",
           1004: " (Can't open output file)", 1005: " (cannot open picture files)",
           2001: " (Referer not allowed)", 2002: " (bad command in query string)"}

# Writing system calls, and those that name a path the run looks at.
TRACED = ("open,openat,creat,stat,lstat,newfstatat,access,faccessat,"
          "statx,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,"
          "rmdir,truncate,link,linkat,symlink,symlinkat,chmod,fchmodat")
WRITE_FLAGS = ("O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND")


def message(number):
    return ("\nWhirlo-32 V1.2, error : WHL%d%s.\nSee WHIRLO32.HLP for help"
            % (number, REASONS[number])).encode()


def part(extension, data):
    return b"Content-type: " + MIME[extension] + b"\n\n" + data + BOUNDARY


def frame_bytes(name):
    """Bytes that tell which file was sent, with CR, LF, 0x1A and NUL."""
    return b"<" + name.encode() + b">\r\n\x1a\x00\r"


def strace_path():
    path = shutil.which("strace")
    if not path:
        raise RuntimeError("strace is missing: install the Debian package "
                           "strace (tools/run-tests does)")
    return path


class Trace:
    """What one run did to the file system, from strace's log."""

    CALL = re.compile(r'^(?:\d+\s+)?(\w+)\((.*)\)\s+=\s+(-?\d+|\?)')

    def __init__(self, text, cwd):
        # Successful calls only, except looked_at, which lists every path.
        self.opened, self.written, self.removed, self.changed = [], [], [], []
        self.looked_at = []
        for line in text.splitlines():
            m = self.CALL.match(line)
            if not m:
                continue
            call, args = m.group(1), m.group(2)
            failed = m.group(3).startswith("-")
            paths = [self._absolute(p, cwd) for p in
                     re.findall(r'"((?:[^"\\]|\\.)*)"', args)]
            if not paths:
                continue
            self.looked_at += paths
            if failed:
                continue  # a refused call changed nothing
            if call in ("open", "openat", "creat"):
                if call == "creat" or any(f in args for f in WRITE_FLAGS):
                    self.written.append(paths[0])
                elif "O_DIRECTORY" not in args:
                    self.opened.append(paths[0])
            elif call in ("unlink", "unlinkat", "rmdir"):
                self.removed.append(paths[0])
            elif call not in ("stat", "lstat", "newfstatat", "access",
                              "faccessat", "statx"):
                self.changed.append((call, paths))

    @staticmethod
    def _absolute(path, cwd):
        path = path.encode("latin-1").decode("unicode_escape").encode(
            "latin-1").decode("utf-8", "surrogateescape")
        return os.path.normpath(os.path.join(cwd, path))


class Result:
    def __init__(self, code, stdout, stderr, output, trace):
        self.code, self.stdout, self.stderr = code, stdout, stderr
        self.output, self.trace = output, trace

    def __repr__(self):
        return "<code=%r stdout=%r stderr=%r>" % (self.code, self.stdout[:300],
                                                  self.stderr[-300:])


class Site:
    def __init__(self):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="whlhard"))
        for name in ("cgi", "windows", "anim", "temp"):
            os.makedirs(self.path(name))
        self.serial = 0

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.root, *names)

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def write_config(self, text, folder="cgi"):
        return self.write(self.path(folder, "pelk.ini"), text)

    def standard_config(self, extra=b""):
        return self.write_config(b"[Whirl]\r\nAnimation Path=" +
                                 self.path("anim").encode() + b"/\r\n" + extra)

    def write_frames(self, base, numbers, extension=".gif"):
        frames = {}
        for n in numbers:
            name = "%s%d%s" % (base, n, extension)
            frames[n] = frame_bytes(name)
            self.write(self.path("anim", name), frames[n])
        return frames

    def new_request_paths(self):
        self.serial += 1
        stem = self.path("temp", "req%04d" % self.serial)
        return stem + ".ini", stem + ".inp", stem + ".out"

    def data_file(self, query=b"", referer=None, user_agent=None):
        """A well-formed data file; returns (data, content, output) paths."""
        data, content, output = self.new_request_paths()
        self.write(content, b"a=1&b=2\r\n")
        lines = [b"[CGI]", b"Query String=" + query,
                 b"Content File=" + content.encode()]
        if referer is not None:
            lines.append(b"Referer=" + referer)
        lines.append(b"[Extra Headers]")
        if user_agent is not None:
            lines.append(b"User-Agent=" + user_agent)
        lines += [b"[System]", b"Output File=" + output.encode()]
        self.write(data, b"\r\n".join(lines) + b"\r\n")
        return data, content, output

    def snapshot(self):
        """Every file and folder below root with what it holds."""
        found = {}
        for top, dirs, files in os.walk(self.root):
            for name in dirs:
                found[os.path.join(top, name)] = "dir"
            for name in files:
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    found[path] = hashlib.sha1(f.read()).hexdigest()
        return found

    def run(self, words, output=None, traced=True, cwd=None):
        env = dict(os.environ)
        env["WINDIR"] = self.path("windows")
        # LeakSanitizer cannot run under ptrace; untraced runs keep it.
        env["ASAN_OPTIONS"] = "detect_leaks=%d" % (0 if traced else 1)
        command = [os.environ["WHIRLO_PROGRAM"]] + list(words)
        cwd = cwd or self.path("cgi")
        log = None
        if traced:
            log = tempfile.NamedTemporaryFile(prefix="whltrace", delete=False)
            log.close()
            command = [strace_path(), "-f", "-qq", "-s", "4096", "-o", log.name,
                       "-e", "trace=" + TRACED] + command
        try:
            proc = subprocess.run(command, cwd=cwd, env=env,
                                  stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=RUN_TIMEOUT)
            trace = None
            if log:
                with open(log.name, encoding="latin-1") as f:
                    trace = Trace(f.read(), cwd)
        finally:
            if log:
                os.unlink(log.name)
        out = None
        if output and os.path.isfile(output):
            with open(output, "rb") as f:
                out = f.read()
        return Result(proc.returncode, proc.stdout, proc.stderr, out, trace)


class HardeningTestCase(unittest.TestCase):
    maxDiff = 2000

    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.close)

    def run_request(self, data, content, output, traced=True):
        """Runs one request and checks what every run must do, whatever its
        input: no crash, the data file and the content file gone, nothing
        below root written or removed but those three files, and (traced)
        nothing anywhere else written, removed, renamed or created."""
        before = self.site.snapshot()
        result = self.site.run([data], output=output, traced=traced)
        after = self.site.snapshot()
        self.assertGreaterEqual(result.code, 0, "killed by a signal: %r" % result)
        self.assertNotIn(b"Sanitizer", result.stderr, result.stderr[-3000:])
        self.assertFalse(os.path.lexists(data) and os.path.isfile(data),
                         "data file left behind")
        if content:
            self.assertFalse(os.path.exists(content), "content file left behind")
        expected = {p: h for p, h in before.items() if p not in (data, content)}
        if os.path.isdir(data):
            expected[data] = "dir"
        changed = {p for p in set(expected) | set(after)
                   if expected.get(p) != after.get(p) and p != output}
        self.assertEqual(changed, set(), "files changed besides the output file")
        if result.trace:
            allowed = {os.path.normpath(p) for p in (data, content, output) if p}
            self.assertEqual(set(result.trace.written) - allowed, set(),
                             "files opened for writing")
            self.assertEqual(set(result.trace.removed) - allowed, set(),
                             "files removed")
            self.assertEqual(result.trace.changed, [], "other changes")
        return result

    def assertResponse(self, result, number, output, messages=None):
        """Exit code (mod 256), exact messages and output (None: no file)."""
        if messages is None:
            messages = [number] if number else []
        self.assertEqual(result.code, number % 256, repr(result))
        self.assertEqual(result.stdout, b"".join(message(n) for n in messages))
        if output is None:
            self.assertIsNone(result.output, "no output file expected")
        else:
            self.assertIsNotNone(result.output, "output file missing")
            self.assertEqual(result.output, output)
