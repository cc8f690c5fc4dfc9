"""The bridge's FastCGI mode behind real servers on 127.0.0.1, each with a
generated configuration: nginx (`fastcgi_pass` to a unix socket), lighttpd
(`mod_fastcgi` starting the bridge itself with the listening socket as its
standard input) and Apache httpd (`mod_proxy_fcgi` to a TCP port). Bodies
must be byte for byte what whirlo32 writes, parts must arrive paced, and a
client that goes away must end its program and leave no folder behind."""

import os
import shutil
import socket
import struct
import time
import unittest

from bridge_env import (FAKES, MOZILLA, ServedTree, assert_paced, body_of, bridge, free_port,
                        process_gone, servers, wait_until)
from test_servers import LYNX, parsed_target
from webstack import Server

INTERVAL_MS = 60
BROWSER_INTERVAL_MS = 250
# Solid colours, one a frame, for the browser check through nginx.
COLOURS = [(255, 0, 0), (0, 160, 0), (0, 0, 255), (255, 200, 0),
           (200, 0, 200), (0, 200, 200)]


def settings(tree, interval=INTERVAL_MS):
    return {"WINCGI_FRAME_INTERVAL": str(interval), "WINCGI_TEMP": tree.temp,
            "WINCGI_TIMEOUT": "20"}


def solid_gif(colour):
    """A 1 x 1 GIF of one colour (a two-entry palette, pixel index 0)."""
    return (b"GIF89a" + struct.pack("<HHBBB", 1, 1, 0x80, 0, 0)
            + bytes(colour) + b"\0\0\0" + b"," + struct.pack("<HHHHB", 0, 0, 1, 1, 0)
            + b"\x02\x02\x44\x01\x00;")


def start_bridge(tree, address, listener):
    """The bridge serving FastCGI on its own (nginx, Apache), its address
    as webstack.connects takes it."""
    return Server([bridge(), "--fastcgi", address, "--allow-root",
                   "--programs", tree.cgi], listener,
                  os.path.join(tree.root, "bridge.log"),
                  {"PATH": "/usr/bin:/bin", "WINCGI_TEMP": tree.temp},
                  "the bridge", timeout=10, cwd=tree.root)


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


def lighttpd_config(tree, port):
    env = ", ".join('"%s" => "%s"' % item for item in settings(tree).items())
    return """server.modules = ("mod_alias", "mod_fastcgi", "mod_setenv")
server.bind = "127.0.0.1"
server.port = %(port)d
server.document-root = "%(root)s"
server.errorlog = "%(root)s/lighttpd-error.log"
server.stream-response-body = 2
alias.url = ("/cgi-bin/" => "%(cgi)s/")
$HTTP["url"] =~ "^/cgi-bin/" {
  fastcgi.server = (".cgi" => (("socket" => "%(root)s/bridge.socket",
                                "bin-path" => "%(bridge)s --allow-root --programs %(cgi)s",
                                "bin-environment" => ("PATH" => "/usr/bin:/bin",
                                                      "WINCGI_TEMP" => "%(temp)s"),
                                "check-local" => "disable",
                                "max-procs" => 1)))
  setenv.add-environment = (%(env)s)
}
""" % {"port": port, "root": tree.root, "cgi": tree.cgi, "bridge": bridge(),
       "env": env, "temp": tree.temp}


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


class FastCGICase(ServedTree):
    """One server and its bridge for the class; subclasses say which."""

    bridge = None

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        code = cls.bridge.process.returncode if cls.bridge else 0
        if code != 0:
            raise AssertionError("the bridge ended with %s on SIGTERM" % code)

    def test_bodies_are_what_whirlo32_writes(self):
        def check(response, expected):
            self.assertRegex(response[:20], rb"^HTTP/1\.[01] 200 OK\r\n", response[:300])
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

    def test_client_that_goes_away_ends_its_program(self):
        shutil.copy(os.path.join(FAKES, "endless.py"), os.path.join(self.tree.cgi, "endless"))
        os.chmod(os.path.join(self.tree.cgi, "endless"), 0o755)
        self.tree.install(bridge(), "endless.cgi")
        pid_file = os.path.join(self.tree.cgi, "endless.pid")
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as conn:
            conn.sendall(b"GET /cgi-bin/endless.cgi HTTP/1.0\r\n\r\n")
            received = b""
            while received.count(b"--cut\n") < 3:
                chunk = conn.recv(65536)
                self.assertTrue(chunk, received)
                received += chunk
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        with open(pid_file) as handle:
            pid = int(handle.read())
        self.assertTrue(wait_until(lambda: process_gone(pid)), "program still runs")
        self.assertTrue(wait_until(lambda: self.tree.leftovers() == []),
                        self.tree.leftovers())
        # The bridge serves on.
        response = self.get("/cgi-bin/whirlo32.cgi?whirlo?.gif?pict=2")
        self.assertIn(b" 200 OK\r\n", response[:20])
        self.assertIn(b"GIF89a", response)


class Nginx(FastCGICase, unittest.TestCase):
    @classmethod
    def start(cls, tree, port):
        tree.folder("page")
        socket_path = os.path.join(tree.root, "bridge.socket")
        if os.path.exists(socket_path):  # an earlier attempt's
            os.remove(socket_path)
        with socket.socket(socket.AF_UNIX) as stale:  # left by an earlier run
            stale.bind(socket_path)
        cls.bridge = start_bridge(tree, "unix:" + socket_path, socket_path)
        cls.started.append(cls.bridge)
        return "nginx", nginx_config(tree, port, socket_path)

    def test_browser_shows_the_paced_frames_through_to_the_last(self):
        from browser import Display, Window, watch
        for number, colour in enumerate(COLOURS, 1):
            with open(os.path.join(self.tree.anim, "colour%d.gif" % number), "wb") as out:
                out.write(solid_gif(colour))
        self.tree.write("page/index.html", '<body style="margin:0">'
                        '<img src="/paced-bin/whirlo32.cgi?colour?.gif" width="200" '
                        'height="200"></body>')
        display = Display()
        self.addCleanup(display.close)
        window = Window("chromium", display, "http://127.0.0.1:%d/" % self.port)
        self.addCleanup(window.close)

        def frame_of(pixel):
            return next((n for n, c in enumerate(COLOURS, 1)
                         if all(abs(a - b) <= 24 for a, b in zip(pixel, c))), None)

        runs = watch(display, {"pic": (100, 100)}, frame_of,
                     lambda runs: runs["pic"][-1:] and runs["pic"][-1][0] == len(COLOURS),
                     timeout=len(COLOURS) * BROWSER_INTERVAL_MS / 1000 + 20)["pic"]
        seen = [run for run in runs if run[0] is not None]
        frames = [run[0] for run in seen]
        self.assertEqual(frames, sorted(frames), frames)
        self.assertEqual(frames[-1:], [len(COLOURS)], frames)
        self.assertGreaterEqual(len(frames), 3, frames)
        # Paced, not all at once: the frames span most of the animation.
        span = seen[-1][1] - seen[0][1]
        self.assertGreater(span, 0.5 * (len(COLOURS) - 1) * BROWSER_INTERVAL_MS / 1000)


class Lighttpd(FastCGICase, unittest.TestCase):
    @classmethod
    def start(cls, tree, port):
        return "lighttpd", lighttpd_config(tree, port)


class Apache(FastCGICase, unittest.TestCase):
    @classmethod
    def start(cls, tree, port):
        tree.folder("page")
        backend = free_port()
        cls.bridge = start_bridge(tree, "127.0.0.1:%d" % backend, backend)
        cls.started.append(cls.bridge)
        return "apache", apache_config(tree, port, backend)


if __name__ == "__main__":
    unittest.main()
