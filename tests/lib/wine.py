"""One Wine session for the tests of the Windows programs.

Wine starts a wineserver on first use; a wineserver started by a test's
first run would inherit that run's output pipes and keep them open, so a
test would wait forever for end of file. The session therefore starts a
persistent wineserver itself, detached from every pipe, and stops it at the
end. The prefix is kept between runs (creating one takes several seconds):
$WHIRLO_WINEPREFIX, else a folder in the temporary directory. Ending a
session stops every program of the prefix, so the tests that use it hold
one CTest resource lock, "wineprefix".

Without a display Wine's message boxes return at once, so a test of the
program's message box never waits for a key press. A session given a
display (an X server of xvfb.py) shows real windows there instead.
"""
import os
import shlex
import subprocess
import tempfile

QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
             stderr=subprocess.DEVNULL)


def prefix():
    return os.environ.get("WHIRLO_WINEPREFIX") or os.path.join(
        tempfile.gettempdir(), "whirlo-wineprefix-%d" % os.getuid())


def wine_environment(display=None):
    env = dict(os.environ, WINEPREFIX=prefix(), WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    env.pop("WINDIR", None)
    if display:
        env["DISPLAY"] = display
    return env


class WineSession:
    def __init__(self, display=None, wine="wine"):
        self.env = wine_environment(display)
        self.wine = shlex.split(wine)
        self.display = display

    def __enter__(self):
        os.makedirs(self.env["WINEPREFIX"], exist_ok=True)
        subprocess.run(["wineserver", "-p"], check=True, env=self.env, **QUIET)
        subprocess.run(["wineboot", "-i"], timeout=300, env=self.env, **QUIET)
        if self.display:
            # No window manager runs on a virtual screen: Wine then draws
            # the captions itself, as the screenshots should show them.
            self.run(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                      "Decorated", "/d", "N", "/f"], timeout=120, **QUIET)
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], env=self.env, **QUIET)
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
