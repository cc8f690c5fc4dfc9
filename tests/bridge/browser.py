"""Headless Chromium driven over its DevTools pipe, and a PNG reader.

Only the standard library: the browser reads commands on file descriptor 3
and answers on 4, one JSON message per NUL byte.
"""

import base64
import json
import os
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

CHROMIUM_NAMES = ("chromium", "chromium-browser", "google-chrome")


def find_chromium():
    for name in CHROMIUM_NAMES:
        path = shutil.which(name)
        if path:
            return path
    raise RuntimeError("Chromium is not installed (Debian package: chromium)")


class Browser:
    def __init__(self, user_agent=None, size=(800, 600), timeout=30):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="whirlo-chromium-")
        to_child, self._write = os.pipe()
        self._read, from_child = os.pipe()
        args = [find_chromium(), "--headless", "--no-sandbox", "--disable-gpu",
                "--no-first-run", "--disable-extensions", "--mute-audio",
                "--remote-debugging-pipe", "--user-data-dir=" + self.profile,
                "--window-size=%d,%d" % size, "--force-device-scale-factor=1"]
        if user_agent:
            args.append("--user-agent=" + user_agent)

        def wire_pipe():  # via fresh numbers, since a pipe may already be 3 or 4
            read_end, write_end = os.dup(to_child), os.dup(from_child)
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        self.process = subprocess.Popen(args, preexec_fn=wire_pipe, close_fds=False,
                                        stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        os.close(to_child)
        os.close(from_child)
        self._buffer = b""
        self._next_id = 0
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target,
                                 flatten=True)["sessionId"]
        self.call("Page.enable", session=True)

    def call(self, method, session=False, **params):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self._write, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self._next_id:
                if "error" in reply:
                    raise RuntimeError("%s failed: %s" % (method, reply["error"]))
                return reply.get("result", {})

    def _receive(self, deadline):
        while b"\0" not in self._buffer:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("Chromium did not answer")
            chunk = os.read(self._read, 1 << 20)
            if not chunk:
                raise RuntimeError("Chromium closed its pipe")
            self._buffer += chunk
        message, _, self._buffer = self._buffer.partition(b"\0")
        return json.loads(message)

    def navigate(self, url):
        self.call("Page.navigate", session=True, url=url)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", session=True,
                           expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def wait_for(self, expression, timeout=10):
        """Polls a JavaScript expression until it is true."""
        deadline = time.monotonic() + timeout
        while not self.evaluate(expression):
            if time.monotonic() > deadline:
                raise RuntimeError("page never satisfied: " + expression)
            time.sleep(0.02)

    def screenshot(self, x, y, width, height):
        """The pixels of a page area as (width, height, RGBA rows)."""
        clip = {"x": x, "y": y, "width": width, "height": height, "scale": 1}
        deadline = time.monotonic() + 5
        while True:
            try:
                result = self.call("Page.captureScreenshot", session=True,
                                   format="png", clip=clip)
                return decode_png(base64.b64decode(result["data"]))
            except RuntimeError as error:  # a navigation is being committed
                if "active page" not in str(error) or time.monotonic() > deadline:
                    raise
                time.sleep(0.02)

    def close(self):
        try:
            os.write(self._write, json.dumps(
                {"id": 0, "method": "Browser.close"}).encode() + b"\0")
            self.process.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        finally:
            os.close(self._write)
            os.close(self._read)
            shutil.rmtree(self.profile, ignore_errors=True)


def decode_png(data):
    """Decodes an 8-bit RGB or RGBA, non-interlaced PNG into RGBA rows."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, color, _, _, interlace = header
    if depth != 8 or color not in (2, 6) or interlace:
        raise ValueError("unsupported PNG layout")
    channels = 4 if color == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                guess = left + up - corner
                pick = min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                           (abs(guess - corner), 2, corner))[2]
                line[i] = (line[i] + pick) & 255
        previous = line
        if channels == 3:
            line = bytearray(b"".join(bytes(line[i:i + 3]) + b"\xff"
                                      for i in range(0, stride, 3)))
        rows.append(bytes(line))
    return width, height, tuple(rows)
