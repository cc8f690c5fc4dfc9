"""The server tests that the FastCGI services share, the bridge's FastCGI
mode and whirlo32-fastcgi: real servers on 127.0.0.1, each with a
generated configuration, in front of one service: nginx (`fastcgi_pass` to
a unix socket), lighttpd (`mod_fastcgi` starting the service itself with
the listening socket as its standard input) and Apache httpd
(`mod_proxy_fcgi` to a TCP port). Bodies must be byte for byte what
whirlo32 writes, parts must arrive paced, a client that goes away must
free everything its request held, and Chromium through nginx must show
every frame.

A suite's class puts a server's mixin (NginxFront, LighttpdFront,
ApacheFront) before FastCGICase and names its service (BridgeService,
PlayerService, ConfiguredPlayerService)."""

import os
import socket
import struct
import time

from bridge_env import (MOZILLA, STARTED, ServedTree, assert_paced, body_of, bridge,
                        free_port, servers, wait_until)
from browser import FRAME_INTERVAL, START_PICTURES, Display, Window, assert_played, watch
from lib.given import given
from webstack import Server

INTERVAL_MS = 60
BROWSER_INTERVAL_MS = int(FRAME_INTERVAL * 1000)
LYNX = "Lynx/2.8.9"
# Solid colours, one a frame, for the browser check through nginx.
COLOURS = [(255, 0, 0), (0, 160, 0), (0, 0, 255), (255, 200, 0),
           (200, 0, 200), (0, 200, 200)]
# 50 ascending runs of the 13 frames: at INTERVAL_MS it would play for 39 s,
# longer than WINCGI_TIMEOUT (20 s) lets it.
LONG_QUERY = "?".join(["whirlo", ".gif"] + ["U"] * 50)


def parsed_target(query):
    return "/cgi-bin/whirlo32.cgi?" + query


def settings(tree, interval=INTERVAL_MS):
    return {"WINCGI_FRAME_INTERVAL": str(interval), "WINCGI_TEMP": tree.temp,
            "WINCGI_TIMEOUT": "20"}


def solid_gif(colour):
    """A 1 x 1 GIF of one colour (a two-entry palette, pixel index 0)."""
    return (b"GIF89a" + struct.pack("<HHBBB", 1, 1, 0x80, 0, 0)
            + bytes(colour) + b"\0\0\0" + b"," + struct.pack("<HHHHB", 0, 0, 1, 1, 0)
            + b"\x02\x02\x44\x01\x00;")


class BridgeService:
    """The bridge's FastCGI mode, allowed every program of the tree's CGI
    folder."""

    what = "the bridge"

    def __init__(self, tree):
        self.program = bridge()
        self.command = [self.program, "--allow-root", "--programs", tree.cgi]
        self.env = {"PATH": "/usr/bin:/bin", "WINCGI_TEMP": tree.temp}


class PlayerService:
    """whirlo32-fastcgi installed beside the tree's pelk.ini, where it finds
    it as whirlo32 does. The Windows directory, where it would look next,
    is the tree's empty one."""

    what = "whirlo32-fastcgi"

    def __init__(self, tree):
        self.program = tree.install(given("fastcgi_program"), "whirlo32-fastcgi")
        self.command = [self.program, "--allow-root"]
        self.env = {"PATH": "/usr/bin:/bin", "WINDIR": tree.windows}


class ConfiguredPlayerService(PlayerService):
    """whirlo32-fastcgi where it was built, told the tree's pelk.ini."""

    def __init__(self, tree):
        self.program = given("fastcgi_program")
        self.command = [self.program, "--allow-root", "--config",
                        os.path.join(tree.cgi, "pelk.ini")]
        self.env = {"PATH": "/usr/bin:/bin", "WINDIR": tree.windows}


def nginx_config(tree, port, socket_path):
    def location(prefix, interval):
        params = "".join("        fastcgi_param %s %s;\n" % item
                         for item in settings(tree, interval).items())
        return """    location ~ ^/%s/([^/]+\\.cgi)$ {
        gzip off;
        fastcgi_buffering off;
        include /etc/nginx/fastcgi_params;
        fastcgi_param SCRIPT_FILENAME %s/$1;
%s        fastcgi_pass unix:%s;
    }
""" % (prefix, tree.cgi, params, socket_path)

    return servers.nginx_config(
        tree.root, port, "    root %s/page;\n" % tree.root + location("cgi-bin", INTERVAL_MS)
        + location("paced-bin", BROWSER_INTERVAL_MS), user="root", temp=True)


def lighttpd_config(tree, port, service):
    env = ", ".join('"%s" => "%s"' % item for item in settings(tree).items())
    bin_env = ", ".join('"%s" => "%s"' % item for item in service.env.items())
    return """server.modules = ("mod_alias", "mod_fastcgi", "mod_setenv")
server.bind = "127.0.0.1"
server.port = %(port)d
server.document-root = "%(root)s"
server.errorlog = "%(root)s/lighttpd-error.log"
server.stream-response-body = 2
alias.url = ("/cgi-bin/" => "%(cgi)s/")
$HTTP["url"] =~ "^/cgi-bin/" {
  fastcgi.server = (".cgi" => (("socket" => "%(root)s/service.socket",
                                "bin-path" => "%(command)s",
                                "bin-environment" => (%(bin_env)s),
                                "check-local" => "disable",
                                "max-procs" => 1)))
  setenv.add-environment = (%(env)s)
}
""" % {"port": port, "root": tree.root, "cgi": tree.cgi,
       "command": " ".join(service.command), "bin_env": bin_env, "env": env}


def apache_config(tree, port, backend_port):
    env = "".join("  SetEnv %s %s\n" % item for item in settings(tree).items())
    return servers.apache_config(
        tree.root, port, ("mpm_event", "authz_core", "env", "proxy", "proxy_fcgi"),
        """DocumentRoot "%(root)s/page"
<LocationMatch "^/cgi-bin/[^/]+\\.cgi$">
  Require all granted
%(env)s  ProxyFCGIBackendType GENERIC
</LocationMatch>
ProxyPassMatch "^/cgi-bin/([^/]+\\.cgi)$" "fcgi://127.0.0.1:%(backend)d%(cgi)s/$1" flushpackets=on
""" % {"root": tree.root, "backend": backend_port, "cgi": tree.cgi, "env": env},
        user=("nobody", "nogroup"))


def header_value(response, name):
    """The value of header name (any case) in a response or CGI output;
    None when it has none."""
    head = response[:len(response) - len(body_of(response))]
    for line in head.splitlines()[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == name.lower():
            return value.strip()
    return None


def listening_sockets():
    """The inodes of the listening sockets of this machine, unix and TCP."""
    inodes = set()
    with open("/proc/net/unix") as handle:
        for row in handle.read().splitlines()[1:]:
            fields = row.split()
            if len(fields) >= 7 and int(fields[3], 16) & 0x10000:  # __SO_ACCEPTCON
                inodes.add(fields[6])
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        if os.path.exists(table):
            with open(table) as handle:
                inodes |= {row.split()[9] for row in handle.read().splitlines()[1:]
                           if row.split()[3] == "0A"}
    return inodes


def descriptors(pid):
    """What process pid holds open: ({fd: target} but its connections,
    the number of its connections)."""
    folder = "/proc/%d/fd" % pid
    targets = {}
    for fd in os.listdir(folder):
        try:
            targets[fd] = os.readlink(os.path.join(folder, fd))
        except FileNotFoundError:  # closed meanwhile
            pass
    listening = listening_sockets()
    connections = {fd for fd, target in targets.items()
                   if target.startswith("socket:[") and target[8:-1] not in listening}
    return {fd: t for fd, t in targets.items() if fd not in connections}, len(connections)


def children(pid):
    """The processes that pid started and that have not been collected."""
    found = []
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/children" % (pid, task)) as handle:
                found += handle.read().split()
        except FileNotFoundError:
            pass
    return found


def read_from(path, offset):
    with open(path, "rb") as handle:
        handle.seek(offset)
        return handle.read().decode("utf-8", "replace")


class FastCGICase(ServedTree):
    """One server and its FastCGI service for the class. A front's start
    sets cls.service (started by us, or None when the server starts it),
    cls.log (where the service's standard error goes) and cls.runner (the
    service, an instance of the class's service_kind)."""

    service_kind = None
    service = None

    @classmethod
    def start_service(cls, tree, address, listener):
        """The service serving FastCGI at address on its own (nginx,
        Apache), listener as webstack.connects takes it."""
        cls.log = os.path.join(tree.root, "service.log")
        cls.service = Server(cls.runner.command + ["--fastcgi", address], listener,
                             cls.log, cls.runner.env, cls.runner.what, timeout=10,
                             cwd=tree.root, ready=STARTED)
        cls.started.append(cls.service)

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        code = cls.service.process.returncode if cls.service else 0
        if code != 0:
            raise AssertionError("%s ended with %s on SIGTERM" % (cls.runner.what, code))

    def service_pid(self):
        """The service's process: ours, or the web server's child that runs
        the service's program."""
        if self.service:
            return self.service.pid
        server = self.started[-1].pid
        program = os.path.realpath(self.runner.program)
        found = [pid for pid in children(server)
                 if os.path.realpath("/proc/%s/exe" % pid) == program]
        self.assertEqual(len(found), 1, "%s is not %s's one child" % (program, server))
        return int(found[0])

    def test_bodies_are_what_whirlo32_writes(self):
        def check(response, expected):
            self.assertRegex(response[:20], rb"^HTTP/1\.[01] 200 OK\r\n", response[:300])
            self.assertEqual(header_value(response, "Content-Type"),
                             header_value(expected, "Content-Type"))
            self.assertEqual(body_of(response), body_of(expected))
        self.assert_answers(parsed_target, (MOZILLA, LYNX), check)

    def test_parts_arrive_paced(self):
        arrivals = []
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as conn:
            started = time.monotonic()
            conn.sendall(b"GET /cgi-bin/whirlo32.cgi HTTP/1.0\r\nUser-Agent: %s\r\n\r\n"
                         % MOZILLA.encode())
            received = b""
            while chunk := conn.recv(65536):
                received += chunk
                # The first boundary opens the first part; each later one ends one.
                while received.count(b"\n--sometext\n") - 1 > len(arrivals):
                    arrivals.append(time.monotonic())
        self.assertEqual(len(arrivals), 13, received[-200:])
        assert_paced(self, started, arrivals, INTERVAL_MS / 1000)

    def test_client_that_goes_away_frees_everything(self):
        """A stream that would play on for longer than the waits below: its
        client resets the connection after three parts. Within 10 s the
        service holds again what it held idle and has no program left, nor
        a file in the temporary folder; the log says nothing of it (no time
        limit, no error); the service serves on."""
        pid = self.service_pid()
        # After a complete response the service is in its loop and its run
        # has ended (a run ends before its END_REQUEST goes out); only the
        # connection may linger a moment.
        self.get(parsed_target("whirlo?.gif?pict=2"))
        self.assertTrue(wait_until(lambda: descriptors(pid)[1] == 0), descriptors(pid))
        idle = (descriptors(pid)[0], 0)
        logged = os.path.getsize(self.log)
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as conn:
            conn.sendall(b"GET %s HTTP/1.0\r\nUser-Agent: %s\r\n\r\n"
                         % (parsed_target(LONG_QUERY).encode(), MOZILLA.encode()))
            received = b""
            while received.count(b"\n--sometext\n") < 4:
                chunk = conn.recv(65536)
                self.assertTrue(chunk, received[-300:])
                received += chunk
            streaming = descriptors(pid)
            self.assertGreaterEqual(streaming[1], 1, "no connection while streaming")
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.assertTrue(wait_until(lambda: descriptors(pid) == idle, timeout=10),
                        "idle %s, while streaming %s, now %s"
                        % (idle, streaming, descriptors(pid)))
        # A killed program is collected soon after it ends, not at once.
        self.assertTrue(wait_until(lambda: children(pid) == [], timeout=10), children(pid))
        self.assertEqual(self.tree.leftovers(), [])
        self.assertEqual(read_from(self.log, logged), "")
        response = self.get(parsed_target("whirlo?.gif?pict=2"))
        self.assertIn(b" 200 OK\r\n", response[:20])
        self.assertEqual(body_of(response),
                         body_of(self.tree.direct_output("whirlo?.gif?pict=2")))


class NginxFront:
    """nginx, to the service on a unix socket; a stale socket file is there
    before the service starts."""

    @classmethod
    def start(cls, tree, port):
        tree.folder("page")
        cls.runner = cls.service_kind(tree)
        socket_path = os.path.join(tree.root, "service.socket")
        if os.path.exists(socket_path):  # an earlier attempt's
            os.remove(socket_path)
        with socket.socket(socket.AF_UNIX) as stale:  # left by an earlier run
            stale.bind(socket_path)
        cls.start_service(tree, "unix:" + socket_path, socket_path)
        return "nginx", nginx_config(tree, port, socket_path)

    def test_browser_shows_the_paced_frames_through_to_the_last(self):
        """Every frame, in order, each on screen for at least half the
        interval, and the last stays."""
        for number, colour in enumerate(COLOURS, 1):
            with open(os.path.join(self.tree.anim, "colour%d.gif" % number), "wb") as out:
                out.write(solid_gif(colour))
        self.tree.write("page/index.html", '<body style="margin:0">'
                        '<img data-src="/paced-bin/whirlo32.cgi?colour?.gif" width="200" '
                        'height="200"><script>%s</script></body>' % START_PICTURES)
        display = Display()
        self.addCleanup(display.close)
        window = Window("chromium", display, "http://127.0.0.1:%d/" % self.port)
        self.addCleanup(window.close)

        def frame_of(pixel):
            return next((n for n, c in enumerate(COLOURS, 1)
                         if all(abs(a - b) <= 24 for a, b in zip(pixel, c))), None)

        interval = BROWSER_INTERVAL_MS / 1000
        last_stays = 3 * interval
        runs = watch(display, {"pic": (100, 100)}, frame_of,
                     lambda runs: runs["pic"][-1:] and runs["pic"][-1][0] == len(COLOURS)
                     and runs["pic"][-1][2] - runs["pic"][-1][1] >= last_stays,
                     timeout=len(COLOURS) * interval + 30)["pic"]
        assert_played(self, runs, list(range(1, len(COLOURS) + 1)), interval, last_stays)


class LighttpdFront:
    """lighttpd, which starts the service itself (bin-path)."""

    @classmethod
    def start(cls, tree, port):
        cls.runner = cls.service_kind(tree)
        cls.log = os.path.join(tree.root, "lighttpd-output.log")
        return "lighttpd", lighttpd_config(tree, port, cls.runner)


class ApacheFront:
    """Apache httpd, to the service on a TCP port."""

    @classmethod
    def start(cls, tree, port):
        tree.folder("page")
        cls.runner = cls.service_kind(tree)
        backend = free_port()
        cls.start_service(tree, "127.0.0.1:%d" % backend, backend)
        return "apache", apache_config(tree, port, backend)
