"""Opens the generated help file in Wine's help viewer under Xvfb.

A small Windows program (help_probe.cc, built here with mingw-w64) asks
for topics through WinHelpA, as the installer does, and prints the text
of the topic that the viewer then shows. Checked:

- HELP_CONTENTS shows the contents topic with its links;
- HELP_CONTEXT N shows the topic "Error N" for every error number;
- Wine's WinHelpA accepts HELP_KEY but does nothing with it, so the
  keywords are checked through the viewer's Index dialog instead:
  "Setup", "Installation" and "Error 2001" each lead to their topic;
- every screenshot shows text (many colours from font smoothing) and
  differs from the others.

Screenshots of the help window go to --screenshots.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from wine_session import WineSession  # noqa: E402

ERRORS = [1001, 1002, 1003, 1004, 1005, 2001, 2002]
TOOLS = ["wine", "wineserver", "Xvfb", "xdotool", "import", "identify",
         "x86_64-w64-mingw32-g++"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Display:
    """A private Xvfb server; -displayfd picks a free display number."""

    def __enter__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"], pass_fds=[write], stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        check(number, "Xvfb did not start")
        self.name = ":" + number
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait(timeout=10)
        return False


class HelpSession(WineSession):
    def __init__(self, display, workdir):
        super().__init__()
        self.env["WINEPREFIX"] = os.environ.get("WHIRLO_HELP_WINEPREFIX") or \
            os.path.join(tempfile.gettempdir(), "whirlo-help-wineprefix-%d" % os.getuid())
        self.env["DISPLAY"] = display
        self.workdir = workdir

    def probe(self, *args):
        # Files, not pipes: the viewer that WinHelpA starts inherits them
        # and outlives the probe.
        out_path = os.path.join(self.workdir, "probe.out")
        with open(out_path, "wb") as out:
            run = subprocess.run(
                ["wine", os.path.join(self.workdir, "help_probe.exe")] + list(args),
                env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT, timeout=120)
        with open(out_path, "rb") as f:
            text = f.read().decode("cp1252").replace("\r", "\n")
        return run.returncode, text

    def topic(self, *args):
        code, text = self.probe(*args)
        check(code == 0, "help_probe %s: no topic (%d)" % (" ".join(args), code))
        lines = [l for l in text.split("\n") if l.strip()]
        return lines

    def screenshot(self, path):
        time.sleep(0.5)  # the last repaint
        found = subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", "Wine Help"],
            env=self.env, capture_output=True, text=True)
        windows = found.stdout.split()
        check(windows, "no help window on the display")
        geometry = subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", windows[0]],
            env=self.env, capture_output=True, text=True, check=True).stdout
        g = dict(l.split("=") for l in geometry.split())
        crop = "%sx%s+%s+%s" % (g["WIDTH"], g["HEIGHT"], g["X"], g["Y"])
        subprocess.run(["import", "-window", "root", "-crop", crop, path],
                       env=self.env, check=True)
        colours = int(subprocess.run(["identify", "-format", "%k", path],
                                     capture_output=True, text=True, check=True).stdout)
        check(colours > 16, "%s looks blank (%d colours)" % (path, colours))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def expect_topic(lines, title, *phrases):
    check(lines and lines[0] == title, "expected topic %r, got %r" % (title, lines[:1]))
    body = " ".join(lines)
    for phrase in phrases:
        check(phrase in body, "topic %r lacks %r" % (title, phrase))


def contents_and_map_numbers(s, hlp, shots):
    expect_topic(s.topic("contents", hlp), "Whirlo-32 V1.2",
                 "Setup", "The configuration file", "The query language", "Error numbers")
    s.screenshot(os.path.join(shots, "contents.png"))
    for n in ERRORS:
        expect_topic(s.topic("context", hlp, str(n)), "Error %d" % n,
                     "WHL%d" % n, "Cause:", "What to do:")
    s.screenshot(os.path.join(shots, "error2002.png"))


def keywords(s, hlp, shots):
    code, text = s.probe("key", hlp, "Setup")
    check(code == 0, "WinHelpA(HELP_KEY) failed: " + text)
    expect_topic(s.topic("index", "Installation"), "Setup", "Windows CGI Path")
    expect_topic(s.topic("index", "Error 2001"), "Error 2001", "Allow Only")
    expect_topic(s.topic("index", "Query language"), "The query language",
                 "whirlo?.gif?R?start=5?end=10")
    s.screenshot(os.path.join(shots, "query-language.png"))
    expect_topic(s.topic("index", "Setup"), "Setup", "Animations Path", "pelk.ini")
    s.screenshot(os.path.join(shots, "setup.png"))


def distinct(shots):
    names = sorted(os.listdir(shots))
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            run = subprocess.run(["compare", "-metric", "AE", os.path.join(shots, a),
                                  os.path.join(shots, b), "null:"],
                                 capture_output=True, text=True)
            check(run.returncode == 1, "%s and %s show the same" % (a, b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--help-file", required=True)
    parser.add_argument("--screenshots", required=True)
    args = parser.parse_args()
    missing = [t for t in TOOLS + ["compare"] if not shutil.which(t)]
    if missing:
        sys.exit("wine_help_test: missing %s (tools/run-tests installs them)"
                 % " ".join(missing))
    shutil.rmtree(args.screenshots, ignore_errors=True)
    os.makedirs(args.screenshots)
    started = time.time()
    with tempfile.TemporaryDirectory() as work, Display() as display:
        subprocess.run(["x86_64-w64-mingw32-g++", "-std=c++17", "-O1", "-static",
                        "-o", os.path.join(work, "help_probe.exe"),
                        os.path.join(os.path.dirname(__file__), "help_probe.cc"),
                        "-luser32"], check=True)
        hlp = windows_path(args.help_file)
        with HelpSession(display.name, work) as session:
            try:
                contents_and_map_numbers(session, hlp, args.screenshots)
                keywords(session, hlp, args.screenshots)
                distinct(args.screenshots)
            except Failure as e:
                sys.exit("FAIL: %s" % e)
            finally:
                session.probe("quit", hlp)
    print("help viewer: contents, %d map numbers, index keywords: ok (%.1f s); "
          "screenshots in %s" % (len(ERRORS), time.time() - started, args.screenshots))


if __name__ == "__main__":
    main()
