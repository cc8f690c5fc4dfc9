"""whirlo32-fastcgi keeps its files in memory between requests; whatever
changes on disk is seen by the next request: pelk.ini rewritten, a frame
added, removed or rewritten in place with the same size, a pelk.ini
beside the program appearing. The tree is left to settle first, so that
the service has kept every file before it changes."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from lib.fastcgi_client import ask
from lib.given import given
from webstack import stop, wait_until

# Longer than the time a file must stand unchanged before it is kept.
SETTLE_S = 2.5
STILL = "Lynx/2.8"


class ChangesAreSeen(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="whl-changes-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.cgi, self.anim, self.windows = (
            self.mkdir(name) for name in ("cgi", "anim", "windows"))
        for n in range(1, 4):
            self.frame(n, b"frame %d " % n)
        self.config(b"Allow Viewer=Mozilla\r\n")
        shutil.copy(given("fastcgi_program"), self.cgi)
        self.socket = os.path.join(self.root, "player.sock")
        self.log = os.path.join(self.root, "player.log")
        with open(self.log, "wb") as log:
            self.server = subprocess.Popen(
                [os.path.join(self.cgi, "whirlo32-fastcgi"), "--fastcgi",
                 "unix:" + self.socket, "--allow-root"],
                env={"WINDIR": self.windows}, stdout=log, stderr=log,
                stdin=subprocess.DEVNULL)
        self.addCleanup(stop, self.server)
        self.assertTrue(wait_until(lambda: b"FastCGI service on" in self.logged()),
                        self.logged())
        time.sleep(SETTLE_S)

    def mkdir(self, name):
        path = os.path.join(self.root, name)
        os.mkdir(path)
        return path

    def logged(self):
        with open(self.log, "rb") as f:
            return f.read()

    def frame(self, n, data):
        with open(os.path.join(self.anim, "f%d.gif" % n), "wb") as f:
            f.write(data)

    def config(self, extra, folder=None):
        with open(os.path.join(folder or self.windows, "pelk.ini"), "wb") as f:
            f.write(b"[Whirl]\r\nAnimation Path=" + self.anim.encode()
                    + b"/\r\n" + extra)

    def body(self, query="f", agent="Mozilla/5.0"):
        stdout, status = ask(self.socket, {
            "SCRIPT_FILENAME": os.path.join(self.cgi, "nph-whirlo32.cgi"),
            "QUERY_STRING": query, "HTTP_USER_AGENT": agent})
        self.assertEqual(status, 0, stdout)
        return stdout

    def frames_in(self, response):
        return [int(part.split(b" ")[0]) for part in response.split(b"frame ")[1:]]

    def test_every_change_counts_at_the_next_request(self):
        self.assertEqual(self.frames_in(self.body()), [1, 2, 3])
        self.assertEqual(self.frames_in(self.body(agent=STILL)), [1])
        self.frame(4, b"frame 4 ")
        self.assertEqual(self.frames_in(self.body()), [1, 2, 3, 4])
        os.remove(os.path.join(self.anim, "f3.gif"))
        self.assertEqual(self.frames_in(self.body()), [1, 2])
        # In place, the same size: only the status change time tells.
        self.frame(2, b"frame 9 ")
        self.assertEqual(self.frames_in(self.body()), [1, 9])
        # The configuration: Lynx now animates.
        self.config(b"Allow Viewer=Lynx\r\n")
        self.assertEqual(self.frames_in(self.body(agent=STILL)), [1, 9])
        # A pelk.ini beside the program is looked for first.
        self.config(b"Allow Viewer=Nobody\r\n", folder=self.cgi)
        self.assertEqual(self.frames_in(self.body(agent=STILL)), [1])
        self.assertIsNone(self.server.poll())


if __name__ == "__main__":
    unittest.main()
