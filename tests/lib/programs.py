"""Running a program under test: natively or through an emulator (wine),
optionally under strace, which then lists every file the run opened,
wrote, removed or looked at."""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time

# Writing system calls, and those that name a path the run looks at.
TRACED = ("open,openat,creat,stat,lstat,newfstatat,access,faccessat,"
          "statx,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,"
          "rmdir,truncate,link,linkat,symlink,symlinkat,chmod,fchmodat")
WRITE_FLAGS = ("O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND")
COARSE_CLOCK_LAG = 0.05  # seconds; a clock tick is at most 10 ms
SIGNAL = re.compile(r"--- (SIG\w+) \{.*?si_pid=(\d+)")


def windows_path(path):
    """A local path as a program under Wine names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def emulator():
    """The emulator command of the suite (WHIRLO_EMULATOR), a list of words."""
    return shlex.split(os.environ.get("WHIRLO_EMULATOR", ""))


def process_name(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("latin-1").strip()
    except OSError:
        return "ended"


def signal_senders(log):
    """The signals a traced run received, each with its sender, from
    strace's log: who killed a run is otherwise lost with it."""
    found = ["%s from process %s (%s)" % (name, pid, process_name(int(pid)))
             for name, pid in SIGNAL.findall(log)]
    return found or ["strace logged none: one came before it traced the program,"
                     " or strace itself was killed"]


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
    """How a run ended: code is the exit status mod 256, negative when a
    signal killed it, None on a timeout; trace is None when untraced;
    t_before and t_after are the whole seconds around the run: every
    second the program's clock can read lies between them (the C library's
    time() reads a coarse clock that may lag ours by a tick, so t_before
    is taken a little early). Site.run adds what became of the request's
    files."""

    def __init__(self, code, stdout, stderr, trace, t_before, t_after,
                 signals=()):
        self.code, self.stdout, self.stderr = code, stdout, stderr
        self.signals = list(signals)  # of a traced run that a signal ended
        self.trace, self.t_before, self.t_after = trace, t_before, t_after
        self.output = None          # bytes of the output file, None if absent
        self.data_exists = self.content_exists = False

    def __repr__(self):
        out = None if self.output is None else "%d bytes" % len(self.output)
        signals = " signals=%r" % self.signals if self.signals else ""
        return "<code=%r stdout=%r stderr=%r output=%s%s>" % (
            self.code, self.stdout[:300], self.stderr[-300:], out, signals)


def run(command, cwd, env, traced=False, timeout=60):
    """Runs `command` (the emulator already in front when there is one);
    under strace when traced, with LeakSanitizer off as it cannot run under
    ptrace."""
    log = None
    if traced:
        env = dict(env, ASAN_OPTIONS="detect_leaks=0")
        log = tempfile.NamedTemporaryFile(prefix="whltrace", delete=False)
        log.close()
        command = [strace_path(), "-f", "-qq", "-s", "4096", "-o", log.name,
                   "-e", "trace=" + TRACED] + list(command)
    t_before = int(time.time() - COARSE_CLOCK_LAG)
    trace, signals = None, []
    try:
        proc = subprocess.run(command, cwd=cwd, env=env,
                              stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout)
        code, stdout, stderr = proc.returncode, proc.stdout, proc.stderr
        if code >= 0:
            code %= 256
        if log:
            with open(log.name, encoding="latin-1") as f:
                text = f.read()
            trace = Trace(text, cwd)
            if code < 0:
                signals = signal_senders(text)
    except subprocess.TimeoutExpired as e:
        code, stdout, stderr = None, e.stdout or b"", e.stderr or b""
    finally:
        if log:
            os.unlink(log.name)
    return Result(code, stdout, stderr, trace, t_before, int(time.time()),
                  signals)
