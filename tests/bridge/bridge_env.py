"""Shared fixture for the bridge tests: the built programs, private folder
trees, whirlo32 run directly as a Windows CGI server would, and one real
web server for a test class (tests/lib/servers.py, tools/webstack.py).

The bridge and whirlo32 come from the environment variables WHIRLO_BRIDGE
and WHIRLO_PROGRAM (tests/run.py sets them).
"""

import os
import shutil
import subprocess
import tempfile

from lib import servers
from lib.given import given
from webstack import (MOZILLA, body_of, free_port, http_get,  # noqa: F401 (for the suites)
                      http_get_all, on_free_port, process_gone, stop, wait_until)

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
FRAMES = os.path.join(REPO, "dist", "frames")
FAKES = os.path.join(HERE, "fake_programs")
# A FastCGI service logs this once its socket's mode and owner are set and
# root is dropped: it counts as started then (webstack.Server's ready).
STARTED = "FastCGI service on "

# Queries whose responses do not depend on the clock.
QUERIES = ["", "whirlo?.gif?D", "whirlo?.gif?U?start=3?end=6?D?loop=2",
           "whirlo?.gif?pict=11", "whirlo?.gif?name===12", "whirlo?.gif?start=20"]


def bridge():
    return given("bridge")


def program():
    return given("program")


def assert_paced(case, started, arrivals, interval, parts=13):
    """The parts of a paced stream arrived (times in arrivals, monotonic
    seconds, the request sent at started) held apart by interval seconds.
    Only what a busy machine cannot fake is required: a late read shortens
    the gap after it and all gaps may grow, but the last part never comes
    before parts - 1 intervals have passed, and most gaps stay long."""
    case.assertEqual(len(arrivals), parts, arrivals)
    case.assertGreaterEqual(arrivals[-1] - started, (parts - 1) * interval,
                            "the last part came early")
    gaps = sorted(b - a for a, b in zip(arrivals, arrivals[1:]))
    case.assertGreaterEqual(gaps[len(gaps) // 2], 0.8 * interval, gaps)


class Tree:
    """A private folder tree readable by every user (servers run CGI
    programs as an unprivileged user):

        root/cgi-bin   the bridge as whirlo32.cgi and nph-whirlo32.cgi,
                       whirlo32 and pelk.ini
        root/anim      the demonstration frames
        root/windows   WINDIR
        root/temp      WINCGI_TEMP, writable by all
    """

    def __init__(self, viewers="Mozilla"):
        self.root = tempfile.mkdtemp(prefix="whirlo-bridge-")
        os.chmod(self.root, 0o755)
        self.cgi = self.folder("cgi-bin")
        self.anim = self.folder("anim")
        self.windows = self.folder("windows")
        self.temp = self.folder("temp")
        os.chmod(self.temp, 0o1777)
        for name in os.listdir(FRAMES):
            shutil.copy(os.path.join(FRAMES, name), self.anim)
        self.install(program(), "whirlo32")
        self.install(bridge(), "whirlo32.cgi")
        self.install(bridge(), "nph-whirlo32.cgi")
        self.write("cgi-bin/pelk.ini", "[Whirl]\nAnimation Path=%s/\nAllow Only=\n"
                   "Allow Viewer=%s\n" % (self.anim, viewers))

    def folder(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, 0o755)
        return path

    def install(self, source, name):
        target = os.path.join(self.cgi, name)
        shutil.copy(source, target)
        os.chmod(target, 0o755)
        return target

    def write(self, relative, text):
        path = os.path.join(self.root, relative)
        with open(path, "w") as handle:
            handle.write(text)
        os.chmod(path, 0o644)
        return path

    def leftovers(self):
        """What runs left behind in the temporary folder."""
        return os.listdir(self.temp)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def cgi_env(self, query="", agent=MOZILLA, **extra):
        env = {"PATH": "/usr/bin:/bin", "GATEWAY_INTERFACE": "CGI/1.1",
               "SERVER_PROTOCOL": "HTTP/1.0", "REQUEST_METHOD": "GET",
               "SCRIPT_NAME": "/cgi-bin/whirlo32.cgi", "QUERY_STRING": query,
               "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "80",
               "REMOTE_ADDR": "127.0.0.1", "HTTP_USER_AGENT": agent,
               "WINDIR": self.windows, "WINCGI_TEMP": self.temp}
        env.update(extra)
        return env

    def run_bridge(self, name="nph-whirlo32.cgi", env=None, body=b"", timeout=30):
        """Runs the bridge as a CGI/1.1 server would; (stdout, stderr, code)."""
        done = subprocess.run([os.path.join(self.cgi, name)], cwd=self.cgi,
                              env=env if env is not None else self.cgi_env(),
                              input=body, capture_output=True, timeout=timeout)
        return done.stdout, done.stderr.decode("latin-1"), done.returncode

    def direct_output(self, query, agent=MOZILLA):
        """What whirlo32 writes into its output file for a request, run by
        hand as a Windows CGI server runs it (b"" when it writes nothing)."""
        work = tempfile.mkdtemp(dir=self.root)
        data = os.path.join(work, "req.dat")
        output = os.path.join(work, "req.out")
        with open(data, "w") as handle:
            handle.write("[CGI]\r\nQuery String=%s\r\n[Extra Headers]\r\n"
                         "User-Agent=%s\r\n[System]\r\nOutput File=%s\r\n"
                         % (query, agent, output))
        subprocess.run([os.path.join(self.cgi, "whirlo32"), data], cwd=self.cgi,
                       env={"WINDIR": self.windows}, capture_output=True,
                       timeout=30)
        result = b""
        if os.path.exists(output):
            with open(output, "rb") as handle:
                result = handle.read()
        shutil.rmtree(work)
        return result


class ServedTree:
    """A unittest class mixin: a Tree and one web server for the class on a
    free port. Subclasses give start(tree, port), which returns the
    server's name and its configuration (tests/lib/servers.py) and may add
    what it starts besides to cls.started; self.tree.root keeps their files
    and logs. They are stopped in the reverse order. When a server ends
    before it listens (a port taken meanwhile), all start again on other
    ports."""

    @classmethod
    def setUpClass(cls):
        cls.tree = Tree()
        cls.started = []

        def start(port):
            cls.stop_started()
            cls.port = port
            name, config = cls.start(cls.tree, port)
            cls.started.append(servers.start(name, cls.tree.root, config, port))
        try:
            on_free_port(start)
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def stop_started(cls):
        while cls.started:
            cls.started.pop().stop()

    @classmethod
    def tearDownClass(cls):
        cls.stop_started()
        cls.tree.remove()

    def get(self, target, agent=MOZILLA):
        response = http_get(self.port, target, agent)
        self.assertRegex(response[:20], rb"^HTTP/1\.[01] ", response[:300])
        return response

    def assert_answers(self, target, agents, check):
        """check(response, expected) for the response to target(query) for
        every query of QUERIES from each of agents, expected being what
        whirlo32 writes for that request. The requests go out at once."""
        pairs = [(query, agent) for query in QUERIES for agent in agents]
        responses = http_get_all(self.port, [(target(q), a) for q, a in pairs])
        for (query, agent), response in zip(pairs, responses):
            with self.subTest(target=target(query), agent=agent):
                response = response.result()
                self.assertRegex(response[:20], rb"^HTTP/1\.[01] ", response[:300])
                check(response, self.tree.direct_output(query, agent))
