"""Shared fixture and expected-response builders for the whirlo32 end-to-end tests.

The program under test and an optional emulator come from the environment
variables WHIRLO_PROGRAM and WHIRLO_EMULATOR; run_e2e.py sets both from its
command line. Every test gets a private folder tree:

    <root>/cgi      current directory of the program
    <root>/windows  WINDIR, where the bare name "pelk.ini" is looked up
    <root>/anim     animation directory named by the default configuration
    <root>/temp     CGI data file, content file and output file

Under Wine the Windows directory is the prefix's own and WINDIR does not
move it: run_e2e.py then names it in WHIRLO_WINDOWS_DIR, and each test's
pelk.ini there is removed when the test ends (tests run one at a time).
"""

import glob
import os
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
DEMO_FRAMES = os.path.join(REPO, "dist", "frames")
RUN_TIMEOUT = 20


def program():
    return os.environ.get("WHIRLO_PROGRAM") or os.path.join(
        REPO, "build", "bin", "whirlo32")


def emulator():
    return shlex.split(os.environ.get("WHIRLO_EMULATOR", ""))


# ---------------------------------------------------------------------------
# Error channel

REASONS = {
    1001: "",
    1002: "",
    1003: " (invalid picture extension)",
    1004: " (Can't open output file)",
    1005: " (cannot open picture files)",
    2001: " (Referer not allowed)",
    2002: " (bad command in query string)",
}


def message(number):
    """The text written to standard output for an error number, LF line ends."""
    return "\nWhirlo-32 V1.2, error : WHL%d%s.\nSee WHIRLO32.HLP for help" % (
        number, REASONS[number])


def exit_code(number):
    """What a POSIX parent sees of an error number."""
    return number % 256


# ---------------------------------------------------------------------------
# Response builders

STATUS = b"HTTP/1.0 200 OK\n"
BOUNDARY = b"\n--sometext\n"
MULTIPART_HEADER = (b"Content-type: multipart/x-mixed-replace;boundary=sometext\n"
                    + BOUNDARY)
MIME = {".GIF": b"image/gif", ".JPG": b"image/jpeg", ".TIF": b"image/tif"}
ERROR_PAGE = (b"Content-type: text/html\n\n"
              b"<html><body>Whirlo-32 V1.2, error : WHL1005 "
              b"(cannot open picture files)</body></html>" + BOUNDARY)


def part(extension, data):
    """One body part for a picture whose path ends in `extension`."""
    return b"Content-type: " + MIME[extension.upper()] + b"\n\n" + data + BOUNDARY


def animation(parts):
    """Layout A: status line, multipart header, the parts."""
    return STATUS + MULTIPART_HEADER + b"".join(parts)


def single(picture_part=b""):
    """Layout B: status line and one part (nothing when the picture is missing)."""
    return STATUS + picture_part


def error_response():
    """Layout C: the WHL1005 page."""
    return STATUS + ERROR_PAGE


def frame_bytes(base, number, extension=".gif", salt=""):
    """Distinct content for a frame file, with CR, LF, 0x1A and NUL in it."""
    tag = ("<%s%s%d%s|" % (salt, base.upper(), number, extension.upper())
           ).encode("latin-1")
    return tag + b"\r\n\x1a\x00\r" + bytes([number % 256]) * (number % 5) + b">"


def frame_parts(frames, order, extension=".GIF"):
    return [part(extension, frames[n]) for n in order]


def identify_parts(body, candidates):
    """Splits `body` into a list of candidate keys, or None when some bytes
    are not one of the candidate parts."""
    keys, pos = [], 0
    while pos < len(body):
        for key, blob in candidates.items():
            if body.startswith(blob, pos):
                keys.append(key)
                pos += len(blob)
                break
        else:
            return None
    return keys


def lcg_draws(seed, count):
    state = seed & 0xFFFFFFFF
    draws = []
    for _ in range(count):
        state = (state * 214013 + 2531011) & 0xFFFFFFFF
        draws.append((state >> 16) & 0x7FFF)
    return draws


def random_frames(seed, start, end, count):
    return [start + r % (end - start) for r in lcg_draws(seed, count)]


# ---------------------------------------------------------------------------
# Runs

class Result:
    def __init__(self, code, stdout, stderr, output, data_exists,
                 content_exists, t_before, t_after):
        self.code = code              # exit status mod 256, None on timeout
        self.stdout = stdout          # bytes
        self.stderr = stderr          # bytes
        self.output = output          # bytes of the output file, None if absent
        self.data_exists = data_exists
        self.content_exists = content_exists
        self.t_before = t_before      # whole seconds around the run
        self.t_after = t_after

    def __repr__(self):
        out = None if self.output is None else "%d bytes" % len(self.output)
        return "<code=%r stdout=%r output=%s>" % (self.code, self.stdout, out)


class Site:
    """A private installation in a temporary folder."""

    def __init__(self):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="whl"))
        self.emulated = bool(emulator())
        self.sep = "\\" if self.emulated else "/"
        self.cgi = self.mkdir("cgi")
        shared = os.environ.get("WHIRLO_WINDOWS_DIR") if self.emulated else None
        self.shared_windir = bool(shared)
        self.windir = shared or self.mkdir("windows")
        self._drop_windir_config()
        self.anim = self.mkdir("anim")
        self.temp = self.mkdir("temp")
        self._serial = 0

    def close(self):
        self._drop_windir_config()
        shutil.rmtree(self.root, ignore_errors=True)

    def _drop_windir_config(self):
        if self.shared_windir:
            for name in os.listdir(self.windir):
                if name.lower() == "pelk.ini":
                    os.remove(os.path.join(self.windir, name))

    # -- paths ------------------------------------------------------------

    def path(self, *names):
        return os.path.join(self.root, *names)

    def mkdir(self, *names):
        path = self.path(*names)
        os.makedirs(path, exist_ok=True)
        return path

    def host(self, path):
        """A local path as the program sees it."""
        if self.emulated:
            return "Z:" + path.replace("/", "\\")
        return path

    def host_dir(self, path):
        """A directory as an "Animation Path" value: with a trailing separator."""
        return self.host(path) + self.sep

    def dir_of_host_length(self, length, fill="d"):
        """Creates a folder under root whose host path has exactly `length`
        characters."""
        name_len = length - len(self.host(self.root)) - 1
        if not 0 < name_len <= 255:
            raise RuntimeError("temporary folder too deep for a %d-character path"
                               % length)
        path = self.mkdir(fill * name_len)
        assert len(self.host(path)) == length
        return path

    def snapshot(self):
        """All files and folders below root."""
        found = set()
        for top, dirs, files in os.walk(self.root):
            for name in dirs + files:
                found.add(os.path.relpath(os.path.join(top, name), self.root))
        return found

    # -- files ------------------------------------------------------------

    def write_file(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return data

    def write_config(self, entries=None, folder=None, section="Whirl", text=None):
        """Writes pelk.ini (in the cgi folder unless told). Without entries it
        names the anim folder as "Animation Path"; a None value leaves the key
        out."""
        if text is None:
            if entries is None:
                entries = {"Animation Path": self.host_dir(self.anim)}
            lines = ["[%s]" % section]
            lines += ["%s=%s" % (k, v) for k, v in entries.items() if v is not None]
            text = "\r\n".join(lines) + "\r\n"
        path = os.path.join(folder or self.cgi, "pelk.ini")
        self.write_file(path, text.encode("latin-1"))
        return path

    def write_picture(self, name, data, folder=None):
        self.write_file(os.path.join(folder or self.anim, name), data)
        return data

    def write_frames(self, base, numbers, extension=".gif", folder=None, salt=""):
        """Frame files base+n+extension with distinct bytes; returns {n: bytes}.
        A salt makes the bytes differ from another set of the same names."""
        frames = {}
        for n in numbers:
            frames[n] = self.write_picture(
                "%s%d%s" % (base, n, extension),
                frame_bytes(base, n, extension, salt), folder)
        return frames

    def install_demo_frames(self):
        """whirlo1.gif .. whirlo13.gif in the anim folder: the distribution's
        frames when they have been made, else stand-ins. Returns {n: bytes}."""
        shipped = glob.glob(os.path.join(DEMO_FRAMES, "*.gif"))
        for source in shipped:
            shutil.copyfile(source, os.path.join(self.anim, os.path.basename(source)))
        frames = {}
        for n in range(1, 14):
            path = os.path.join(self.anim, "whirlo%d.gif" % n)
            if not os.path.exists(path):
                self.write_file(path, frame_bytes("whirlo", n))
            with open(path, "rb") as f:
                frames[n] = f.read()
        return frames

    def write_data_file(self, query="", referer=None, user_agent=None,
                        output=True, content=True, text=None):
        """Writes a CGI data file and returns (data, content, output) local
        paths. output: True for a fresh file in temp, None for no key, else a
        local path. A None key value leaves the key out."""
        self._serial += 1
        stem = os.path.join(self.temp, "whl%04d" % self._serial)
        data_path, content_path = stem + ".ini", None
        output_path = stem + ".out" if output is True else output
        if text is None:
            cgi = {"Query String": query, "Referer": referer}
            if content:
                content_path = stem + ".inp"
                self.write_file(content_path, b"name=value&x=1\r\n")
                cgi["Content File"] = self.host(content_path)
            lines = ["[CGI]"]
            lines += ["%s=%s" % (k, v) for k, v in cgi.items() if v is not None]
            lines += ["[Extra Headers]"]
            if user_agent is not None:
                lines.append("User-Agent=%s" % user_agent)
            lines += ["[System]"]
            if output_path is not None:
                lines.append("Output File=%s" % self.host(output_path))
            text = "\r\n".join(lines) + "\r\n"
        self.write_file(data_path, text.encode("latin-1"))
        return data_path, content_path, output_path

    def request(self, query="", referer=None, user_agent=None, output=True,
                content=True, text=None, extra_args=(), cwd=None):
        """Writes a data file and runs the program on it."""
        data, content_path, output_path = self.write_data_file(
            query, referer, user_agent, output, content, text)
        return self.run([self.host(data)] + list(extra_args), cwd=cwd,
                        data=data, content=content_path, output=output_path)

    def run(self, words, cwd=None, data=None, content=None, output=None):
        env = dict(os.environ)
        if not self.shared_windir:
            env["WINDIR"] = self.host(self.windir)
        command = emulator() + [program()] + list(words)
        t_before = int(time.time())
        try:
            proc = subprocess.run(command, cwd=cwd or self.cgi, env=env,
                                  stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=RUN_TIMEOUT)
            code, stdout, stderr = proc.returncode, proc.stdout, proc.stderr
            if code >= 0:
                code %= 256
        except subprocess.TimeoutExpired as e:
            code, stdout, stderr = None, e.stdout or b"", e.stderr or b""
        t_after = int(time.time())
        out_bytes = None
        if output is not None and os.path.isfile(output):
            with open(output, "rb") as f:
                out_bytes = f.read()
        return Result(code, stdout, stderr, out_bytes,
                      data is not None and os.path.exists(data),
                      content is not None and os.path.exists(content),
                      t_before, t_after)


# ---------------------------------------------------------------------------
# Test case base

def _describe_difference(actual, expected):
    n = 0
    limit = min(len(actual), len(expected))
    while n < limit and actual[n] == expected[n]:
        n += 1
    lo = max(0, n - 40)
    return ("lengths %d (got) / %d (expected), first difference at byte %d\n"
            "  got:      %r\n  expected: %r"
            % (len(actual), len(expected), n, actual[lo:n + 60], expected[lo:n + 60]))


class WhirloTestCase(unittest.TestCase):
    maxDiff = 4000

    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.close)

    def expected_stdout(self, numbers):
        text = "".join(message(n) for n in numbers)
        if self.site.emulated:
            text = text.replace("\n", "\r\n")
        return text.encode("latin-1")

    def assertStdout(self, result, numbers):
        self.assertEqual(result.stdout, self.expected_stdout(numbers),
                         "standard output")

    def assertBytes(self, actual, expected, what="output file"):
        if actual is None:
            self.fail("%s not created, expected %d bytes" % (what, len(expected)))
        if actual != expected:
            self.fail("%s differs: %s" % (what, _describe_difference(actual, expected)))

    def assertOutcome(self, result, number=0, messages=None, output=None):
        """Exit code, exact standard output and output file. messages defaults
        to the one message of `number` (none for 0); output None means no
        output file must exist."""
        if messages is None:
            messages = [number] if number else []
        self.assertEqual(result.code, exit_code(number),
                         "exit code; stdout %r" % result.stdout)
        self.assertStdout(result, messages)
        if output is None:
            self.assertIsNone(result.output, "no output file expected")
        else:
            self.assertBytes(result.output, output)

    def assertServed(self, result, output, messages=()):
        """A complete response, exit code 0, request files deleted."""
        self.assertOutcome(result, 0, list(messages), output)
        self.assertFalse(result.data_exists, "data file left behind")
        self.assertFalse(result.content_exists, "content file left behind")
