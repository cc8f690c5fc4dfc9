"""What the bridge logs when the installation is wrong: each mistake an
operator makes with pelk.ini, the animation folder or the frames gives a
log line that names the file or folder at fault, while the client gets the
program's bytes unchanged. The bridge runs as a CGI/1.1 server runs it, as
an unprivileged user when the tests run as root, so that permissions
count."""

import os
import subprocess
import unittest

from bridge_env import MOZILLA, Tree, body_of

SERVING_USER = "nobody" if os.geteuid() == 0 else None


class MistakeTest(unittest.TestCase):
    def setUp(self):
        self.tree = Tree()
        self.addCleanup(self.tree.remove)

    def serve(self, query=""):
        """The bridge's answer and its log lines for one request."""
        done = subprocess.run([os.path.join(self.tree.cgi, "nph-whirlo32.cgi")],
                              cwd=self.tree.cgi, env=self.tree.cgi_env(query),
                              capture_output=True, timeout=30, user=SERVING_USER)
        return done.stdout, done.stderr.decode("latin-1").splitlines()

    def pelk(self, text):
        self.tree.write("cgi-bin/pelk.ini", "[Whirl]\n" + text)

    def assert_logged(self, lines, *fragments):
        """One log line holds every fragment, and it names the request."""
        matching = [line for line in lines if all(f in line for f in fragments)]
        self.assertEqual(len(matching), 1, "\n".join(lines))
        self.assertTrue(matching[0].startswith("wincgi-bridge: [/cgi-bin/whirlo32.cgi"),
                        matching[0])


class EmptyStream(MistakeTest):
    """An empty query: the client gets a push stream without a picture, as
    whirlo32 writes it, and the log says why."""

    def test_missing_configuration_names_both_places_looked(self):
        os.remove(os.path.join(self.tree.cgi, "pelk.ini"))
        out, log = self.serve()
        self.assertEqual(body_of(out), b"--sometext\n")
        self.assert_logged(log, "push stream ended without a picture",
                           "no configuration file: looked for %s/pelk.ini, then %s/pelk.ini"
                           % (self.tree.cgi, self.tree.windows))

    def test_unreadable_configuration_says_so(self):
        os.chmod(os.path.join(self.tree.cgi, "pelk.ini"), 0o000)
        _, log = self.serve()
        self.assert_logged(log, "configuration %s/pelk.ini (NOT readable by the serving user)"
                           % self.tree.cgi)

    def test_missing_animation_folder(self):
        self.pelk("Animation Path=%s/gone/\n" % self.tree.root)
        _, log = self.serve()
        self.assert_logged(log, "Animation Path=%s/gone/" % self.tree.root,
                           "the animation folder %s/gone/ does not exist" % self.tree.root,
                           "%s/gone/Whirlo1.GIF: missing" % self.tree.root)

    def test_animation_path_without_final_separator(self):
        self.pelk("Animation Path=%s\n" % self.tree.anim)
        _, log = self.serve()
        self.assert_logged(log, "Animation Path %s does not end with /" % self.tree.anim,
                           "frames looked for as %sWhirlo<n>.GIF" % self.tree.anim)

    def test_a_query_with_an_explicit_range_of_missing_frames(self):
        self.pelk("Animation Path=/nonexistent/\n")
        _, log = self.serve("whirlo?.gif?U?start=3?end=9?D?loop=2")
        self.assert_logged(log, "push stream ended without a picture",
                           "/nonexistent/WHIRLO1.GIF: missing")

    def test_unreadable_frames(self):
        for name in os.listdir(self.tree.anim):
            os.chmod(os.path.join(self.tree.anim, name), 0o000)
        out, log = self.serve()
        self.assert_logged(log, "push stream ended without a picture",
                           "Whirlo1.GIF: not readable by the serving user")


class FrameRangeEmpty(MistakeTest):
    """A query whose frames are not there: error 1005. The program's own
    message comes line by line, each on a line of its own, then the
    diagnosis, then the exit code."""

    def test_error_1005_names_configuration_and_frames(self):
        self.pelk("Animation Path=/nonexistent/\n")
        query = "whirlo?.gif?D?loop=2"
        out, log = self.serve(query)
        self.assertEqual(out, self.tree.direct_output(query))
        prefix = "wincgi-bridge: [/cgi-bin/whirlo32.cgi?%s] " % query
        self.assertEqual(log[:2], [
            prefix + "whirlo32: Whirlo-32 V1.2, error : WHL1005 (cannot open picture files).",
            prefix + "whirlo32: See WHIRLO32.HLP for help"])
        self.assert_logged(log, "no frame to play (error 1005)",
                           "configuration %s/pelk.ini (readable" % self.tree.cgi,
                           "Animation Path=/nonexistent/",
                           "frames looked for as /nonexistent/WHIRLO<n>.GIF")
        self.assertTrue(log[-1].startswith(prefix) and "exit code 237" in log[-1], log)

    def test_a_sound_installation_logs_nothing(self):
        out, log = self.serve("whirlo?.gif?D")
        self.assertIn(b"--sometext", out)
        self.assertEqual(log, [])


class CheckCommand(MistakeTest):
    """wincgi-bridge --check, run as the serving user, says the same."""

    def check(self, *args):
        done = subprocess.run([os.path.join(self.tree.cgi, "whirlo32.cgi"), "--check"]
                              + list(args), cwd=self.tree.cgi, capture_output=True,
                              text=True, timeout=30, user=SERVING_USER,
                              env={"WINDIR": self.tree.windows})
        return done.returncode, done.stdout

    def test_sound_installation(self):
        code, out = self.check()
        self.assertEqual(code, 0, out)
        self.assertIn("configuration: %s/pelk.ini (beside the program), readable\n"
                      "  Animation Path=%s/\n" % (self.tree.cgi, self.tree.anim), out)
        self.assertIn("demonstration frames: 13 found", out)

    def test_reports_each_problem(self):
        self.pelk("Animation Path=%s/gone\n" % self.tree.root)
        code, out = self.check()
        self.assertEqual(code, 1, out)
        problems = [line for line in out.splitlines() if line.startswith("problem: ")]
        self.assertEqual(len(problems), 2, out)
        self.assertIn("does not end with /", problems[0])
        self.assertIn("no frame %s/goneWhirlo1.GIF" % self.tree.root, problems[1])
        os.remove(os.path.join(self.tree.cgi, "pelk.ini"))
        code, out = self.check()
        self.assertIn("configuration: %s/pelk.ini (the Windows directory's), missing"
                      % self.tree.windows, out)

    def test_a_script_that_names_no_program(self):
        for script in ("/usr/sbin/wincgi-bridge", "wincgi-bridge"):
            with self.subTest(script=script):
                code, out = self.check(script)
                self.assertEqual(code, 2)
                self.assertIn("name the script", out)


if __name__ == "__main__":
    unittest.main()
