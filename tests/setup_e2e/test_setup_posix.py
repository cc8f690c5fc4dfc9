#!/usr/bin/env python3
"""End-to-end test of the POSIX installer: the terminal form, driven by a
script of lines, installs the distribution set into temporary folders; the
installed CGI program, started in the CGI directory, then serves the
demonstration animation with the pelk.ini the installer wrote.

    tests/run.py tests/setup_e2e/test_setup_posix.py --setup build/bin/setup \
        --distribution build/distribution
"""
import os
import shutil
import stat
import subprocess
import tempfile
import unittest

from lib.distribution import FRAMES, TARGETS
from lib.given import given
from lib.responses import animation, part, single

TIMEOUT = 30
INSTALLED = ("[Whirlo-32 V1.2 Setup] Whirlo-32 V1.2 has been installed! "
             "Please see the Whirlo32.DOC or Whirlo32.WRI files in your "
             "anim. path for more information.")


def read(path):
    with open(path, "rb") as f:
        return f.read()


class SetupPosixTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="whirlo-setup-e2e-")
        self.addCleanup(shutil.rmtree, self.root)
        for name in ("cgi", "windows", "temp"):
            os.mkdir(self.path(name))
        self.dist = self.path("dist")
        shutil.copytree(given("distribution"), self.dist)

    def path(self, *names):
        return os.path.join(self.root, *names)

    def env(self):
        return dict(os.environ, WINDIR=self.path("windows"))

    def setup(self, *lines):
        """Runs the installer in the distribution folder on these lines."""
        run = subprocess.run([given("setup")], cwd=self.dist,
                             env=self.env(), input="".join(
                                 line + "\n" for line in lines).encode(),
                             capture_output=True, timeout=TIMEOUT)
        return run.returncode, run.stdout.decode("latin-1")

    def serve(self, user_agent):
        """Runs the installed program as a Windows CGI server would."""
        output = self.path("temp", "response.out")
        data = self.path("temp", "request.ini")
        with open(data, "w") as f:
            f.write("[CGI]\nRequest Method=GET\nQuery String=\n"
                    "Referer=http://localhost/page.html\n[Extra Headers]\n"
                    "User-Agent=%s\n[System]\nOutput File=%s\n"
                    % (user_agent, output))
        run = subprocess.run([self.path("cgi", "whirlo32.exe"), data],
                             cwd=self.path("cgi"), env=self.env(),
                             capture_output=True, timeout=TIMEOUT)
        self.assertEqual(run.returncode, 0, run.stdout)
        return read(output)

    def install_first(self):
        code, out = self.setup(self.path("cgi"), self.path("anim"), "", "",
                               "O", "O", "")
        self.assertEqual(code, 1, out)
        self.assertIn("The animation path specified does not exist, create?",
                      out)
        self.assertIn("Help: whirlo32.hlp, contents\n" + INSTALLED, out)
        return out

    def test_installs_a_set_that_serves_the_demonstration(self):
        self.install_first()
        self.assertEqual(sorted(os.listdir(self.path("cgi"))),
                         ["pelk.ini", "whirlo32.exe"])
        self.assertEqual(len(os.listdir(self.path("anim"))), 16)
        for source, folder, name in TARGETS:
            self.assertEqual(read(self.path(folder, name)),
                             read(os.path.join(self.dist, source)), name)
        mode = os.stat(self.path("cgi", "whirlo32.exe")).st_mode
        self.assertTrue(mode & stat.S_IXUSR)
        self.assertEqual(read(self.path("cgi", "pelk.ini")),
                         ("[Whirl]\r\nAnimation Path=%s/\r\nAllow Only=\r\n"
                          "Allow Viewer=Mozilla\r\nCGI-WIN Path=%s/\r\n"
                          % (self.path("anim"), self.path("cgi"))).encode())

        frames = [read(self.path("anim", name)) for _, _, name in FRAMES]
        self.assertEqual(self.serve("Mozilla/5.0"),
                         animation(part(".GIF", f) for f in frames))
        self.assertEqual(self.serve("Lynx/2.8"), single(part(".GIF", frames[7])))

    def test_repeated_installation_asks_before_replacing(self):
        self.install_first()
        for name in ("whirlo32.exe", "whirlo32.hlp"):
            folder = "cgi" if name.endswith(".exe") else "anim"
            with open(self.path(folder, name), "wb") as f:
                f.write(b"changed")
        # The installer never reads the pelk.ini it wrote, so the folders
        # are typed again. OK; Yes to the program, No to the help file and
        # the two documents, Yes to all pictures; OK to the final message.
        code, out = self.setup(self.path("cgi"), self.path("anim"), "", "",
                               "", "y", "n", "n", "n", "y", "")
        self.assertEqual(code, 1, out)
        questions = [line for line in out.splitlines()
                     if line.endswith("?") and "exists" in line]
        self.assertEqual(len(questions), 5, out)
        self.assertNotEqual(read(self.path("cgi", "whirlo32.exe")), b"changed")
        self.assertEqual(read(self.path("anim", "whirlo32.hlp")), b"changed")

    def test_refused_directory_shows_the_form_again_and_cancel_ends(self):
        # No to creating the animation directory: message 5, the form again
        # with the typed values; then Cancel.
        code, out = self.setup(self.path("cgi"), self.path("anim"), "", "",
                               "", "c", "", "", "", "", "", "c", "")
        self.assertEqual(code, 1, out)
        self.assertIn("Error : Invalid animation path.", out)
        self.assertIn("Animations Path : [%s]" % self.path("anim"), out)
        self.assertIn("Error: Whirlo has not been installed.", out)
        self.assertEqual(os.listdir(self.path("cgi")), [])
        self.assertFalse(os.path.exists(self.path("anim")))

    def test_start_values_come_from_the_windows_directory(self):
        with open(self.path("windows", "pelk.ini"), "w") as f:
            f.write("[Whirl]\nCGI-WIN Path=/srv/cgi\nAllow Viewer=Lynx\n")
        code, out = self.setup("", "", "", "")  # then end of input: Cancel
        self.assertEqual(code, 1)
        self.assertIn("Windows CGI Path : [/srv/cgi]\n"
                      "Animations Path : [/var/www/anim]\n"
                      "Allow only users referering from : []\n"
                      "Viewer that allows animation : [Lynx]\n", out)

