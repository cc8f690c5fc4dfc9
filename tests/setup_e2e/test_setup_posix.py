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


class SetupCase(unittest.TestCase):
    """A distribution set, a CGI and a Windows folder for each test."""

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

    def setup(self, *lines, args=(), cwd=None):
        """Runs the installer in the distribution folder on these lines."""
        run = self.run_setup(*lines, args=args, cwd=cwd)
        return run.returncode, run.stdout.decode("latin-1")

    def run_setup(self, *lines, args=(), cwd=None):
        return subprocess.run([given("setup")] + list(args),
                              cwd=cwd or self.dist, env=self.env(), input="".join(
                                  line + "\n" for line in lines).encode(),
                              capture_output=True, timeout=TIMEOUT)

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
        self.assertEqual(code, 0, out)
        self.assertIn("The animation path specified does not exist, create?",
                      out)
        self.assertIn("Help: whirlo32.hlp, contents\n" + INSTALLED, out)
        return out


class SetupPosixTest(SetupCase):
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
        self.assertEqual(code, 0, out)
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


class SetupGuardsTest(SetupCase):
    """What the installer does before its form: its command line, the
    distribution set it needs, the folders it must not write into."""

    def test_help_and_version_answer_without_the_form(self):
        for arg, text in (("--help", "usage: whirlo32-setup"),
                          ("--version", "whirlo32-setup (Whirlo-32 V1.2)")):
            with self.subTest(arg=arg):
                run = self.run_setup(args=[arg], cwd=self.root)
                self.assertEqual((run.returncode, run.stderr), (0, b""))
                self.assertIn(text, run.stdout.decode())
                self.assertNotIn("Windows CGI Path", run.stdout.decode())
        run = self.run_setup(args=["--bogus"])
        self.assertEqual((run.returncode, run.stdout), (2, b""))
        self.assertIn(b"unknown argument --bogus", run.stderr)

    def test_without_a_distribution_set_it_names_what_is_missing(self):
        os.remove(os.path.join(self.dist, "whirlo7._if"))
        run = self.run_setup(self.path("cgi"), self.path("anim"), "", "", "O")
        self.assertEqual((run.returncode, run.stdout), (1, b""))
        self.assertIn(b"missing: whirlo7._if\n", run.stderr)
        self.assertIn(b"build/distribution", run.stderr)
        self.assertEqual(os.listdir(self.path("cgi")), [])

    def test_package_manager_folders_are_refused(self):
        # The package's own pelk.ini names its frames under /usr/share: that
        # start value is replaced. A link into /usr is refused on OK as /usr
        # itself is, and the form comes again; then Cancel.
        with open(self.path("windows", "pelk.ini"), "w") as f:
            f.write("[Whirl]\nAnimation Path=/usr/share/whirlo32/\n")
        os.symlink("/usr/share", self.path("shared"))
        code, out = self.setup(self.path("cgi"), self.path("shared"), "", "", "O",
                               "/usr/lib/whirlo32", self.path("anim"), "", "", "O",
                               "c")
        self.assertEqual(code, 1, out)
        self.assertIn("/usr/share/whirlo32/ belongs to the package manager; "
                      "/var/www/anim is offered instead", out)
        self.assertIn("%s (/usr/share) belongs to the package manager"
                      % self.path("shared"), out)
        self.assertIn("] /usr/lib/whirlo32 belongs to the package manager", out)
        self.assertIn("Error: Whirlo has not been installed.", out)
        self.assertEqual(os.listdir(self.path("cgi")), [])
        self.assertFalse(os.path.exists(self.path("anim")))

    def test_folders_of_the_administrator_are_accepted(self):
        local = self.path("usr", "local")  # only /usr/local itself is special
        os.makedirs(local)
        code, out = self.setup(self.path("cgi"), local, "", "", "O", "")
        self.assertEqual(code, 0, out)
        self.assertNotIn("package manager", out)

