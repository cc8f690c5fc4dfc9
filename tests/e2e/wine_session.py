"""A Wine session for the tests of the Windows programs.

Wine starts a wineserver on first use; a wineserver started by a test's
first run would inherit that run's output pipes and keep them open, so a
test would wait forever for end of file. The session therefore starts a
persistent wineserver itself, detached from every pipe, and stops it at the
end. The prefix is kept between runs (creating one takes several seconds):
$WHIRLO_WINEPREFIX, else a folder in the temporary directory.

Without a display Wine's message boxes return at once, so a test of the
program's message box never waits for a key press.
"""
import os
import subprocess
import tempfile


def wine_environment():
    prefix = os.environ.get("WHIRLO_WINEPREFIX") or os.path.join(
        tempfile.gettempdir(), "whirlo-wineprefix-%d" % os.getuid())
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    env.pop("WINDIR", None)
    return env


class WineSession:
    def __init__(self):
        self.env = wine_environment()

    def __enter__(self):
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=self.env)
        os.makedirs(self.env["WINEPREFIX"], exist_ok=True)
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        subprocess.run(["wineboot", "-i"], timeout=300, **quiet)
        return self

    def __exit__(self, *exc):
        subprocess.run(["wineserver", "-k"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return False

    def windows_directory(self):
        """The Unix path of the prefix's Windows directory."""
        return os.path.join(self.env["WINEPREFIX"], "drive_c", "windows")
