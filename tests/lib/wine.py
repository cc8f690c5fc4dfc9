"""One Wine session for the tests of the Windows programs.

Wine starts a wineserver on first use; a wineserver started by a test's
first run would inherit that run's output pipes and keep them open, so a
test would wait forever for end of file. The session therefore starts a
persistent wineserver itself, detached from every pipe, and stops it at the
end. The prefix is kept between runs (creating one takes several seconds):
$WHIRLO_WINEPREFIX, else a folder in the temporary directory. Ending a
session stops every program of the prefix, so the tests that use it hold
one CTest resource lock, "wineprefix"; the session also holds a file lock
beside the prefix, so that sessions of two CTest runs (the x86_64 and the
i686 build) take turns too.

Every prefix is a 64-bit one (WINEARCH=win64): with 32-bit Wine installed
it runs the x86_64 and the 32-bit programs alike, while a prefix of plain
"wineboot" would then be 32-bit only. A prefix records the Wine set-up that
made it (version, loaders, and whether the kernel runs 32-bit programs); a
kept prefix of another set-up, such as one made before 32-bit Wine was
installed or on a kernel without 32-bit support, either of which has no
32-bit half, is made anew.

Programs run through tools/wine (the default command here, and the Windows
presets' emulator), which starts the 64-bit loader itself on a kernel that
cannot execute 32-bit programs. The session asks the kernel once and hands
the answer on in WHIRLO_KERNEL_RUNS_I386.

Without a display Wine's message boxes return at once, so a test of the
program's message box never waits for a key press. A session given a
display (an X server of xvfb.py) shows real windows there instead.
"""
import fcntl
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

from runs_i386 import kernel_runs_i386

QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
             stderr=subprocess.DEVNULL)


def prefix():
    return os.environ.get("WHIRLO_WINEPREFIX") or os.path.join(
        tempfile.gettempdir(), "whirlo-wineprefix-%d" % os.getuid())


# Debian's "wine" is a script that starts one of these loaders.
DEBIAN_LOADERS = ("/usr/lib/wine/wine", "/usr/lib/wine/wine64")
# Runs programs with the loader that this kernel can start.
WRAPPER = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "tools", "wine")
# Written into the prefix once wineboot has made it.
SETUP_RECORD = "whirlo-wine-setup"


class WinePrefixError(Exception):
    pass


def is_wrapper(command):
    """Whether command is this checkout's tools/wine."""
    path = shutil.which(command)
    return bool(path) and os.path.samefile(path, WRAPPER)


def wine_setup(wine, env):
    """Names the Wine installation behind the command wine: its version
    and the identity of each loader it may start."""
    version = subprocess.run(wine + ["--version"], env=env, timeout=120,
                             stdin=subprocess.DEVNULL, capture_output=True,
                             text=True).stdout.strip()
    candidates = [shutil.which("wine"), shutil.which("wine64")]
    # The wrapper is no part of the set-up: each checkout has its own.
    if not is_wrapper(wine[0]):
        candidates.append(shutil.which(wine[0]))
    lines = ["version " + version,
             "32-bit programs " + ("run" if kernel_runs_i386() else
                                   "cannot run on this kernel")]
    for path in sorted({os.path.realpath(p) for p in candidates if p}
                       | set(DEBIAN_LOADERS)):
        if os.path.isfile(path):
            info = os.stat(path)
            lines.append("loader %s %d %d" % (path, info.st_size,
                                              info.st_mtime_ns))
    return "\n".join(lines) + "\n"


def prefix_arch(path):
    """The architecture that system.reg of the prefix path names, or None."""
    try:
        with open(os.path.join(path, "system.reg"), errors="replace") as reg:
            for _, line in zip(range(20), reg):
                if line.startswith("#arch="):
                    return line[len("#arch="):].strip()
    except OSError:
        pass
    return None


def read_setup_record(path):
    try:
        with open(os.path.join(path, SETUP_RECORD)) as record:
            return record.read()
    except OSError:
        return None


def stale_reason(path, setup):
    """Why the kept prefix at path cannot serve the Wine set-up, or None
    when it can (or there is none). A folder that is not a Wine prefix is
    an error: it is never removed."""
    if not os.path.isdir(path) or not os.listdir(path):
        return None
    if not any(os.path.exists(os.path.join(path, name))
               for name in ("system.reg", "drive_c", "dosdevices")):
        raise WinePrefixError("%s is not a Wine prefix and not empty; set "
                              "WHIRLO_WINEPREFIX to another folder" % path)
    arch = prefix_arch(path)
    if arch != "win64":
        return "made for %s programs only" % (arch or "unknown")
    recorded = read_setup_record(path)
    if recorded is None:
        return "made by another Wine set-up (no record of it)"
    if recorded != setup:
        return "made by another Wine set-up"
    return None


def wine_environment(display=None):
    env = dict(os.environ, WINEPREFIX=prefix(), WINEDEBUG="-all",
               WINEARCH="win64",
               WHIRLO_KERNEL_RUNS_I386="yes" if kernel_runs_i386() else "no")
    env.pop("DISPLAY", None)
    env.pop("WINDIR", None)
    if display:
        env["DISPLAY"] = display
    return env


class WineSession:
    def __init__(self, display=None, wine=WRAPPER):
        self.env = wine_environment(display)
        self.wine = shlex.split(wine)
        self.display = display

    def __enter__(self):
        path = self.env["WINEPREFIX"]
        self.serving = False  # a wineserver of this session runs
        self.lock = open(path.rstrip("/") + ".lock", "a")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        try:
            self.prepare_prefix(path)
            if self.display:
                # No window manager runs on a virtual screen: Wine then
                # draws the captions itself, as the screenshots show them.
                self.run(["reg", "add", r"HKCU\Software\Wine\X11 Driver",
                          "/v", "Decorated", "/d", "N", "/f"], timeout=120,
                         **QUIET)
        except BaseException:
            if self.serving:
                subprocess.run(["wineserver", "-k"], env=self.env, **QUIET)
            self.lock.close()
            raise
        return self

    def prepare_prefix(self, path):
        setup = wine_setup(self.wine, self.env)
        reason = stale_reason(path, setup)
        if reason:
            print("Wine prefix %s: %s; making it anew" % (path, reason),
                  file=sys.stderr)
            subprocess.run(["wineserver", "-k"], env=self.env, **QUIET)
            shutil.rmtree(path)
        os.makedirs(path, exist_ok=True)
        subprocess.run(["wineserver", "-p"], check=True, env=self.env, **QUIET)
        self.serving = True
        boot = subprocess.run(self.wine + ["wineboot", "-i"], timeout=300,
                              env=self.env, **QUIET)
        # The wineserver writes system.reg when it ends: a new prefix has
        # none yet.
        made = os.path.isdir(os.path.join(path, "drive_c", "windows"))
        if boot.returncode != 0 or not made or \
                prefix_arch(path) not in (None, "win64"):
            hint = ""
            if not kernel_runs_i386() and not is_wrapper(self.wine[0]):
                hint = ("; this kernel cannot execute 32-bit programs, and %s "
                        "may start Wine's 32-bit loader: run Windows programs "
                        "through %s" % (self.wine[0], WRAPPER))
            raise WinePrefixError("wineboot could not make the 64-bit prefix "
                                  "%s (exit code %d)%s"
                                  % (path, boot.returncode, hint))
        if read_setup_record(path) != setup:
            with open(os.path.join(path, SETUP_RECORD), "w") as record:
                record.write(setup)

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], env=self.env, **QUIET)
        self.lock.close()
        return False

    def windows_directory(self):
        """The Unix path of the prefix's Windows directory."""
        return os.path.join(self.env["WINEPREFIX"], "drive_c", "windows")

    def run(self, words, env=None, **options):
        """Runs a Windows program (words[0]) and its arguments under Wine;
        env adds to the session's variables."""
        options.setdefault("stdin", subprocess.DEVNULL)
        return subprocess.run(self.wine + list(words),
                              env=dict(self.env, **(env or {})), **options)

    def start(self, words, **options):
        """Starts a Windows program under Wine, without waiting for it."""
        return subprocess.Popen(self.wine + list(words), env=self.env,
                                stdin=subprocess.DEVNULL, **options)


def pe_machine(path):
    """The machine a Windows program is built for ("i386", "x86_64" or
    another number), or None when path is no Windows program."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if len(head) < 64 or head[:2] != b"MZ":
        return None
    start = struct.unpack_from("<I", head, 0x3c)[0]
    if start + 6 > len(head) or head[start:start + 4] != b"PE\0\0":
        return None
    machine = struct.unpack_from("<H", head, start + 4)[0]
    return {0x14c: "i386", 0x8664: "x86_64"}.get(machine, hex(machine))


def cannot_run_here(paths):
    """Those of the paths that are 32-bit Windows programs, when this kernel
    cannot execute 32-bit programs (and so Wine cannot run them)."""
    programs = [p for p in paths if pe_machine(p) == "i386"]
    return [] if not programs or kernel_runs_i386() else programs
