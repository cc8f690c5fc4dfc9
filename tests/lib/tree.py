"""A private installation per test, in a temporary folder tree:

    <root>/cgi      current directory of the program (pelk.ini here)
    <root>/windows  WINDIR, where the bare name "pelk.ini" is looked up
    <root>/anim     animation directory named by the default configuration
    <root>/temp     CGI data file, content file and output file

The program under test and an optional emulator come from the environment
variables WHIRLO_PROGRAM and WHIRLO_EMULATOR; tests/run.py sets both, and a
run without a program stops at once (lib/given.py). Under
Wine the Windows directory is the prefix's own and WINDIR does not move it:
the runner then names it in WHIRLO_WINDOWS_DIR, and each test's pelk.ini
there is removed when the test ends (tests run one at a time).
"""

import hashlib
import os
import shutil
import tempfile

from lib import programs
from lib.given import given
from lib.responses import frame_bytes

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEMO_FRAMES = os.path.join(REPO, "dist", "frames")
RUN_TIMEOUT = 60


def program():
    return given("program")


def latin1(text):
    return text if isinstance(text, bytes) else text.encode("latin-1")


class Site:

    def __init__(self):
        self.root = os.path.realpath(tempfile.mkdtemp(prefix="whl"))
        self.emulated = bool(programs.emulator())
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
        return programs.windows_path(path) if self.emulated else path

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
        """Every file and folder below root with a digest of what it holds."""
        found = {}
        for top, dirs, files in os.walk(self.root):
            for name in dirs:
                found[os.path.join(top, name)] = "dir"
            for name in files:
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    found[path] = hashlib.sha1(f.read()).hexdigest()
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
        out. text (str or bytes) is the whole file instead."""
        if text is None:
            if entries is None:
                entries = {"Animation Path": self.host_dir(self.anim)}
            lines = ["[%s]" % section]
            lines += ["%s=%s" % (k, v) for k, v in entries.items() if v is not None]
            text = "\r\n".join(lines) + "\r\n"
        path = os.path.join(folder or self.cgi, "pelk.ini")
        self.write_file(path, latin1(text))
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
        """whirlo1.gif .. whirlo13.gif, the distribution's frames, in the
        anim folder. Returns {n: bytes}."""
        frames = {}
        for n in range(1, 14):
            name = "whirlo%d.gif" % n
            with open(os.path.join(DEMO_FRAMES, name), "rb") as f:
                frames[n] = self.write_picture(name, f.read())
        return frames

    def request_paths(self):
        """Fresh (data, content, output) paths in temp; nothing written."""
        self._serial += 1
        stem = os.path.join(self.temp, "whl%04d" % self._serial)
        return stem + ".ini", stem + ".inp", stem + ".out"

    def write_data_file(self, query="", referer=None, user_agent=None,
                        output=True, content=True, text=None):
        """Writes a CGI data file and returns (data, content, output) local
        paths. output: True for a fresh file in temp, None for no key, else a
        local path. A None key value leaves the key out. Values and text may
        be str or bytes."""
        data_path, content_path, fresh_output = self.request_paths()
        output_path = fresh_output if output is True else output
        if text is None:
            cgi = {"Query String": query, "Referer": referer}
            if content:
                self.write_file(content_path, b"name=value&x=1\r\n")
                cgi["Content File"] = self.host(content_path)
            lines = [b"[CGI]"]
            lines += [latin1(k) + b"=" + latin1(v) for k, v in cgi.items()
                      if v is not None]
            lines += [b"[Extra Headers]"]
            if user_agent is not None:
                lines.append(b"User-Agent=" + latin1(user_agent))
            lines += [b"[System]"]
            if output_path is not None:
                lines.append(b"Output File=" + latin1(self.host(output_path)))
            text = b"\r\n".join(lines) + b"\r\n"
        self.write_file(data_path, latin1(text))
        return data_path, content_path if content else None, output_path

    # -- runs -------------------------------------------------------------

    def request(self, query="", referer=None, user_agent=None, output=True,
                content=True, text=None, extra_args=(), cwd=None, traced=False):
        """Writes a data file and runs the program on it."""
        data, content_path, output_path = self.write_data_file(
            query, referer, user_agent, output, content, text)
        return self.run([self.host(data)] + list(extra_args), cwd=cwd,
                        data=data, content=content_path, output=output_path,
                        traced=traced)

    def run(self, words, cwd=None, data=None, content=None, output=None,
            traced=False):
        """Runs the program with these command-line words in cwd (the cgi
        folder unless told) and reports what became of the request's files."""
        env = dict(os.environ)
        if not self.shared_windir:
            env["WINDIR"] = self.host(self.windir)
        result = programs.run(programs.emulator() + [program()] + list(words),
                              cwd or self.cgi, env, traced, RUN_TIMEOUT)
        if output is not None and os.path.isfile(output):
            with open(output, "rb") as f:
                result.output = f.read()
        result.data_exists = data is not None and os.path.exists(data)
        result.content_exists = content is not None and os.path.exists(content)
        return result
