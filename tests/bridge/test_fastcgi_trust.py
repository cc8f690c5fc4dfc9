"""The FastCGI service trusts nobody who reaches its socket: what runs,
where its files go and its limits are its own configuration; it listens
where it was told, admits only the peers it was told, keeps to its own
user and its own socket, and a kill leaves no program and no folder for
long. Also its command line and the CGI mode's exit code for a cut
response."""

import os
import pty
import shutil
import signal
import socket
import subprocess
import unittest

from bridge_env import FAKES, MOZILLA, STARTED, Tree, bridge, free_port, wait_until
from test_fastcgi_mode import read_records, request_bytes
from test_fastcgi_servers import process_gone
from webstack import Server

NOBODY = 65534
IS_ROOT = os.geteuid() == 0


def status_of(stdout):
    return stdout.split(b"\r\n", 1)[0]


class ServiceTest(unittest.TestCase):
    """A tree, and bridges started on its socket with the options a test
    gives; every bridge's output goes to one log."""

    def setUp(self):
        self.tree = Tree()
        self.addCleanup(self.tree.remove)
        self.socket_path = os.path.join(self.tree.root, "bridge.sock")
        self.log_path = os.path.join(self.tree.root, "bridge.log")

    def env(self, **settings):
        env = {"PATH": "/usr/bin:/bin", "WINDIR": self.tree.windows,
               "WINCGI_TEMP": self.tree.temp}
        env.update(settings)
        return env

    def install_fake(self, fake, name):
        """The fake program as NAME beside whirlo32, served as NAME.cgi."""
        shutil.copy(os.path.join(FAKES, fake), os.path.join(self.tree.cgi, name))
        os.chmod(os.path.join(self.tree.cgi, name), 0o755)

    def start(self, *options, address=None, env=None, served=None):
        """A bridge serving the tree's programs (or `served`, a list of
        options) as root allows; its Server."""
        address = address or "unix:" + self.socket_path
        served = served if served is not None else ["--programs", self.tree.cgi]
        probe = self.socket_path if address.startswith("unix:") else int(address.split(":")[1])
        # Its start line comes once the socket's mode, owner and the user
        # are set, which the cases look at.
        server = Server([bridge(), "--fastcgi", address] + served + list(options), probe,
                        self.log_path, env or self.env(), "the bridge", timeout=10,
                        ready=STARTED)
        self.addCleanup(server.stop)
        return server

    def run_once(self, *words, env=None):
        done = subprocess.run([bridge()] + list(words), env=env or self.env(),
                              capture_output=True, timeout=20, stdin=subprocess.DEVNULL)
        return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")

    def params(self, script, query="", **extra):
        params = {"SCRIPT_FILENAME": script, "QUERY_STRING": query, "REQUEST_METHOD": "GET",
                  "GATEWAY_INTERFACE": "CGI/1.1", "HTTP_USER_AGENT": MOZILLA}
        params.update(extra)
        return params

    def cgi(self, name):
        return os.path.join(self.tree.cgi, name)

    def ask(self, params, body=b"", family=socket.AF_UNIX, address=None, source=None):
        """Request 1's stdout, b"" when the bridge closed the connection."""
        with socket.socket(family) as conn:
            if source:
                conn.bind((source, 0))
            conn.connect(address or self.socket_path)
            try:
                conn.sendall(request_bytes(1, params, keep=False, body=body))
                stdout, _ = read_records(conn)
            except (BrokenPipeError, ConnectionResetError):  # closed unread
                return b""
        return stdout.get(1, b"")

    def log(self):
        with open(self.log_path, encoding="latin-1") as handle:
            return handle.read()


class WhatRunsIsTheServicesOwn(ServiceTest):
    def test_a_peer_cannot_choose_the_program(self):
        self.start(served=["--program", self.cgi("whirlo32"), "--allow-root"])
        touched = os.path.join(self.tree.root, "touched")
        attacks = {
            "touch.cgi": self.params("/usr/bin/touch.cgi", touched),
            "shell": self.params("/bin/sh.cgi", HTTP_USER_AGENT="x; touch %s; exit 0;" % touched,
                                 HTTP_REFERER="$(touch %s)" % touched),
            "a path out of the folder": self.params(
                os.path.join(self.tree.cgi, "..", "..", "..", "usr", "bin", "touch.cgi"), touched),
        }
        for name, params in attacks.items():
            with self.subTest(name):
                self.assertEqual(status_of(self.ask(params)), b"Status: 403 Forbidden")
        self.assertFalse(os.path.exists(touched))
        missing = self.ask(self.params(self.cgi("nosuch.cgi")))
        self.assertEqual(status_of(missing), b"Status: 404 Not Found")
        # WINCGI_PROGRAM as a parameter counts for nothing: whirlo32 answers.
        served = self.ask(self.params(self.cgi("whirlo32.cgi"), "whirlo?.gif?D",
                                      WINCGI_PROGRAM="/usr/bin/touch"))
        self.assertEqual(status_of(served), b"Status: 200 OK")
        self.assertIn("not a program this service runs: /usr/bin/touch", self.log())
        self.assertIn("FastCGI service on unix:%s" % self.socket_path, self.log())

    def test_without_a_program_it_does_not_start(self):
        code, _, err = self.run_once("--fastcgi", "unix:" + self.socket_path, "--allow-root")
        self.assertEqual(code, 1)
        self.assertIn("--program", err)
        self.assertFalse(os.path.exists(self.socket_path))

    def test_parameters_lower_the_limits_and_name_no_folder(self):
        self.install_fake("echo_request.py", "echo")
        self.install_fake("sleeper.py", "sleeper")
        self.start("--allow-root", env=self.env(WINCGI_MAX_BODY="1000", WINCGI_TIMEOUT="2",
                                                WINCGI_MAX_OUTPUT="1400"))
        echo = self.cgi("echo.cgi")
        elsewhere = os.path.join(self.tree.root, "elsewhere")
        os.mkdir(elsewhere)
        # The echo's answer is about 700 bytes and the body.
        cases = [("raised body limit", {"WINCGI_MAX_BODY": "2000000"}, 2000, b"Status: 413"),
                 ("lowered body limit", {"WINCGI_MAX_BODY": "100"}, 500, b"Status: 413"),
                 ("within the limits", {"WINCGI_TEMP": elsewhere}, 500, b"Content-type"),
                 ("raised output cap", {"WINCGI_MAX_OUTPUT": "1000000"}, 900, b"Status: 502")]
        answers = {}
        for name, extra, size, status in cases:
            with self.subTest(name):
                params = self.params(echo, CONTENT_LENGTH=str(size), **extra)
                answers[name] = self.ask(params, body=b"b" * size)
                self.assertTrue(status_of(answers[name]).startswith(status), answers[name][:200])
        self.assertIn(b'"%s/wc' % self.tree.temp.encode(), answers["within the limits"])
        self.assertEqual(os.listdir(elsewhere), [])
        slow = self.ask(self.params(self.cgi("sleeper.cgi"), WINCGI_TIMEOUT="600"))
        self.assertTrue(status_of(slow).startswith(b"Status: 504"), slow[:200])


class WhereItListens(ServiceTest):
    def test_tcp_only_on_loopback_unless_allowed(self):
        port = free_port()
        code, _, err = self.run_once("--fastcgi", "0.0.0.0:%d" % port, "--allow-root",
                                     "--program", self.cgi("whirlo32"))
        self.assertEqual(code, 1)
        self.assertIn("not a loopback address", err)
        self.start("--allow-root", "--allow-remote", address="0.0.0.0:%d" % port)
        answer = self.ask(self.params(self.cgi("whirlo32.cgi")), family=socket.AF_INET,
                          address=("127.0.0.1", port))
        self.assertEqual(status_of(answer), b"Status: 200 OK")

    def test_allowed_clients_and_peer_credentials(self):
        port = free_port()
        self.start("--allow-root", "--allowed-clients", "127.0.0.2,127.0.0.3",
                   address="127.0.0.1:%d" % port)
        request = self.params(self.cgi("whirlo32.cgi"))
        self.assertEqual(self.ask(request, family=socket.AF_INET, address=("127.0.0.1", port)),
                         b"")
        allowed = self.ask(request, family=socket.AF_INET, address=("127.0.0.1", port),
                           source="127.0.0.2")
        self.assertEqual(status_of(allowed), b"Status: 200 OK")
        self.assertIn("connection refused: 127.0.0.1 is not an allowed client", self.log())
        if not IS_ROOT:
            return  # the peer-credential half needs a second user
        self.start("--allow-root", "--peer-user", "root", "--socket-mode", "666",
                   "--socket-owner", "nobody")
        info = os.stat(self.socket_path)
        self.assertEqual((info.st_mode & 0o777, info.st_uid), (0o666, NOBODY))
        self.assertEqual(status_of(self.ask(request)), b"Status: 200 OK")
        as_nobody = subprocess.run(
            ["python3", "-c", "import socket, sys\n"
             "s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.settimeout(10)\n"
             "try:\n    s.sendall(sys.stdin.buffer.read()); print(len(s.recv(65536)))\n"
             "except (BrokenPipeError, ConnectionResetError):\n    print(0)",
             self.socket_path], input=request_bytes(1, request, keep=False),
            capture_output=True, user=NOBODY, timeout=20)
        self.assertEqual(as_nobody.stdout.strip(), b"0", as_nobody.stderr)
        self.assertIn("is not the peer user", self.log())

    def test_a_live_socket_is_left_alone_and_its_own_goes_at_the_end(self):
        first = self.start("--allow-root")
        inode = os.stat(self.socket_path).st_ino
        code, _, err = self.run_once("--fastcgi", "unix:" + self.socket_path, "--allow-root",
                                     "--programs", self.tree.cgi)
        self.assertEqual(code, 1)
        self.assertIn("already in use", err)
        self.assertEqual(os.stat(self.socket_path).st_ino, inode)
        self.assertEqual(status_of(self.ask(self.params(self.cgi("whirlo32.cgi")))),
                         b"Status: 200 OK")
        self.assertEqual(first.stop(), 0)
        self.assertFalse(os.path.exists(self.socket_path))


@unittest.skipUnless(IS_ROOT, "needs root, as CI has")
class AsRoot(ServiceTest):
    def test_root_is_refused_unless_allowed_or_dropped(self):
        code, _, err = self.run_once("--fastcgi", "unix:" + self.socket_path,
                                     "--programs", self.tree.cgi)
        self.assertEqual(code, 1)
        self.assertIn("refusing to run as root", err)
        self.assertFalse(os.path.exists(self.socket_path))
        self.install_fake("descriptors.py", "descriptors")
        server = self.start("--user", "nobody", "--socket-mode", "666")
        with open("/proc/%d/status" % server.pid) as handle:
            ids = [line.split()[1:] for line in handle if line.startswith(("Uid:", "Gid:"))]
        self.assertEqual(ids, [[str(NOBODY)] * 4, [str(NOBODY)] * 4])
        answer = self.ask(self.params(self.cgi("descriptors.cgi")))
        self.assertIn(b"\nuid %d\n" % NOBODY, answer)


class AfterAKill(ServiceTest):
    def kill_during_a_run(self):
        """Kills a bridge while it runs a program; checks the program died
        with it and left its folder."""
        pid_file = self.cgi("endless.pid")
        if os.path.exists(pid_file):
            os.remove(pid_file)
        bridge_process = self.start("--allow-root").process
        conn = socket.socket(socket.AF_UNIX)
        self.addCleanup(conn.close)
        conn.connect(self.socket_path)
        conn.sendall(request_bytes(1, self.params(self.cgi("endless.cgi"))))

        def program_pid():
            with open(pid_file) as handle:
                return int(handle.read() or 0)
        self.assertTrue(wait_until(lambda: os.path.exists(pid_file) and program_pid(), 10))
        pid = program_pid()
        bridge_process.send_signal(signal.SIGKILL)
        bridge_process.wait()
        self.assertTrue(wait_until(lambda: process_gone(pid), 10), "the program outlived it")
        self.assertEqual(len(self.tree.leftovers()), 1)

    def test_programs_die_with_the_bridge_and_the_next_one_sweeps(self):
        self.install_fake("endless.py", "endless")
        self.kill_during_a_run()
        _, _, code = self.tree.run_bridge("whirlo32.cgi")  # the CGI mode sweeps too
        self.assertEqual((code, self.tree.leftovers()), (0, []))
        self.kill_during_a_run()
        started = self.log().count("FastCGI service on")
        self.start("--allow-root")  # on the dead one's socket file
        # The start line comes after the sweep; connecting may come before.
        self.assertTrue(wait_until(
            lambda: self.log().count("FastCGI service on") > started, 10))
        self.assertEqual(self.tree.leftovers(), [])
        self.assertEqual(status_of(self.ask(self.params(self.cgi("whirlo32.cgi")))),
                         b"Status: 200 OK")

    def test_a_program_gets_descriptors_0_1_2_only(self):
        self.install_fake("descriptors.py", "descriptors")
        self.start("--allow-root")
        # Another request holds its content file open while the program starts.
        pending = socket.socket(socket.AF_UNIX)
        self.addCleanup(pending.close)
        pending.connect(self.socket_path)
        pending.sendall(request_bytes(1, self.params(self.cgi("descriptors.cgi"),
                                                     CONTENT_LENGTH="10"))[:-8])
        answer = self.ask(self.params(self.cgi("descriptors.cgi")))
        lines = answer.split(b"\r\n\r\n", 1)[1].decode().split("\n")[1:]
        descriptors = [line for line in lines if line]
        self.assertEqual([line.split()[0] for line in descriptors], ["0", "1", "2"], answer)
        self.assertEqual(descriptors[0], "0 /dev/null")


class CommandLine(ServiceTest):
    def test_help_version_and_a_terminal(self):
        code, out, _ = self.run_once("--help")
        self.assertEqual(code, 0)
        for option in ("--program PATH", "--allow-root", "--peer-user", "--socket-owner"):
            self.assertIn(option, out)
        code, out, _ = self.run_once("--version")
        self.assertEqual((code, out.startswith("wincgi-bridge (Whirlo-32 ")), (0, True), out)
        code, _, err = self.run_once("--no-such-option", "1")
        self.assertEqual(code, 2)
        self.assertIn("unknown option --no-such-option", err)
        pid, terminal = pty.fork()
        if pid == 0:
            os.execve(bridge(), [bridge()], self.env())
        said = b""
        while True:
            try:
                chunk = os.read(terminal, 4096)
            except OSError:
                break
            if not chunk:
                break
            said += chunk
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 2)
        self.assertIn(b"--fastcgi", said)
        self.assertNotIn(b"500", said)
        # Under a CGI server the words are the query's, never options.
        code, out, _ = self.run_once("--help", env=self.tree.cgi_env())
        self.assertNotIn("usage", out)


class CgiModeExitCode(unittest.TestCase):
    def test_a_response_cut_after_it_began_fails_the_run(self):
        tree = Tree()
        self.addCleanup(tree.remove)
        shutil.copy(os.path.join(FAKES, "endless.py"), os.path.join(tree.cgi, "endless"))
        os.chmod(os.path.join(tree.cgi, "endless"), 0o755)
        tree.install(bridge(), "nph-endless.cgi")
        out, err, code = tree.run_bridge("nph-endless.cgi", tree.cgi_env(WINCGI_TIMEOUT="1",
                                                                 WINCGI_FRAME_INTERVAL="50"))
        self.assertIn(b"--cut\n", out)
        self.assertIn("time limit", err)
        self.assertEqual(code, 1)


if __name__ == "__main__":
    unittest.main()
