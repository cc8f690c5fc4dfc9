"""One virtual X screen for the tests that show real windows.

-displayfd makes Xvfb choose a free display number and write it once the
server accepts clients, so nothing guesses a number or polls for readiness.
With framebuffer=True the screen is also kept in a file (-fbdir, XWD
format), for tests that read its pixels straight from memory. No window
manager runs: a window sits where its program puts it, undecorated.

Needs Xvfb, and for windows() and screenshot() xdotool and ImageMagick's
import (Debian: xvfb, xdotool, imagemagick).
"""
import os
import shutil
import signal
import subprocess
import tempfile

WAIT = 60  # seconds for one xdotool or import call


def stop_group(process):
    """Ends a process started in a session of its own, with its children."""
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    try:
        os.killpg(process.pid, signal.SIGKILL)  # helpers left behind
    except ProcessLookupError:
        pass


class Xvfb:
    def __init__(self, size=(1024, 768), framebuffer=False):
        if not shutil.which("Xvfb"):
            raise RuntimeError("Xvfb is not installed (Debian package: xvfb)")
        self.folder = tempfile.mkdtemp(prefix="whirlo-xvfb-") \
            if framebuffer else None
        ready, write = os.pipe()
        command = ["Xvfb", "-displayfd", str(write), "-screen", "0",
                   "%dx%dx24" % size, "-nolisten", "tcp"]
        if self.folder:
            command += ["-fbdir", self.folder]
        self.server = subprocess.Popen(
            command, pass_fds=[write], stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write)
        with os.fdopen(ready) as lines:
            number = lines.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    @property
    def framebuffer(self):
        """The file that holds the screen (framebuffer=True only)."""
        return os.path.join(self.folder, "Xvfb_screen0")

    def env(self, base=None):
        return dict(os.environ if base is None else base, DISPLAY=self.name)

    def xdotool(self, *args):
        """xdotool's output on this screen, split into words."""
        run = subprocess.run(["xdotool"] + list(args), env=self.env(),
                             capture_output=True, text=True, timeout=WAIT)
        return run.stdout.split()

    def windows(self, pattern, visible=False):
        """The ids of the windows whose name matches the regular expression,
        in xdotool's order."""
        only = ["--onlyvisible"] if visible else []
        return self.xdotool("search", *only, "--name", pattern)

    def screenshot(self, window, path):
        """The screen inside window's rectangle, windows above it included."""
        geometry = dict(word.split("=") for word in
                        self.xdotool("getwindowgeometry", "--shell", window))
        crop = "%sx%s+%s+%s" % (geometry["WIDTH"], geometry["HEIGHT"],
                                geometry["X"], geometry["Y"])
        subprocess.run(["import", "-window", "root", "-crop", crop, path],
                       env=self.env(), check=True, timeout=WAIT)

    def close(self):
        stop_group(self.server)
        if self.folder:
            shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
