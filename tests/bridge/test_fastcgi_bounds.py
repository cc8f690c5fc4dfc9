"""The FastCGI mode's bounds and failures, provoked with low limits on the
bridge's command line: what a peer that never reads, never finishes its
params, holds connections or descriptors, or asks for too many programs
gets, and that the loop neither spins nor stalls meanwhile. The timing of
the core itself is tested with a fake clock in the unit tests; here the
times are generous."""

import os
import resource
import signal
import socket
import struct
import subprocess
import time
import unittest

from bridge_env import (Tree, body_of, bridge, free_port, servers, stop,
                        wait_until)
from lib.fastcgi_client import (BEGIN, PARAMS, STDIN, pairs, read_records,
                                record, request_bytes)
from webstack import MOZILLA, connects

LONG_QUERY = "whirlo?.gif" + "?U" * 49 + "?loop=9"  # 8.8 MB in 6370 parts
GET_VALUES = 9


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_over(pid, seconds=1.0):
    before = cpu_seconds(pid)
    time.sleep(seconds)
    return cpu_seconds(pid) - before


def descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


class Bridge:
    """A FastCGI bridge on a unix socket of `tree`, with `options` on its
    command line."""

    def __init__(self, tree, options=()):
        self.tree = tree
        self.path = os.path.join(tree.root, "bridge-%d.sock" % time.monotonic_ns())
        self.log_path = self.path + ".log"
        env = {"PATH": "/usr/bin:/bin", "WINDIR": tree.windows, "WINCGI_TEMP": tree.temp}
        with open(self.log_path, "ab") as log:
            self.process = subprocess.Popen(
                [bridge(), "--fastcgi", "unix:" + self.path, "--allow-root",
                 "--program", os.path.join(tree.cgi, "whirlo32"), *options], env=env,
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        if not wait_until(lambda: self.process.poll() is not None
                          or (os.path.exists(self.path) and connects(self.path)), 10) \
                or self.process.poll() is not None:
            self.stop()
            raise RuntimeError("the bridge did not listen:\n" + self.log())

    def limit_files(self, count):
        """At most `count` descriptors from now on (those open stay)."""
        _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.prlimit(self.process.pid, resource.RLIMIT_NOFILE, (count, hard))

    def connect(self, buffer=None):
        conn = socket.socket(socket.AF_UNIX)
        if buffer:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, buffer)
        conn.connect(self.path)
        return conn

    def params(self, query="", **extra):
        params = {"SCRIPT_FILENAME": os.path.join(self.tree.cgi, "whirlo32.cgi"),
                  "QUERY_STRING": query, "REQUEST_METHOD": "GET",
                  "GATEWAY_INTERFACE": "CGI/1.1", "HTTP_USER_AGENT": MOZILLA}
        params.update(extra)
        return params

    def paced(self, query=LONG_QUERY, **extra):
        return self.params(query, WINCGI_FRAME_INTERVAL="100", **extra)

    def ask(self, query="", timeout=20, **extra):
        """One request on a connection of its own: (stdout, ended)."""
        with self.connect() as conn:
            conn.sendall(request_bytes(1, self.params(query, **extra), keep=False))
            return read_records(conn, until_ended=[1], timeout=timeout)

    def log(self):
        with open(self.log_path, "rb") as handle:
            return handle.read().decode("latin-1")

    def stop(self):
        return stop(self.process)


def status_of(stdout):
    return stdout.split(b"\r\n", 1)[0]


class BoundsTest(unittest.TestCase):
    def setUp(self):
        self.tree = Tree()
        self.addCleanup(self.tree.remove)

    def start(self, *options):
        served = Bridge(self.tree, options)
        self.addCleanup(served.stop)
        return served

    def assert_clean(self):
        wait_until(lambda: not self.tree.leftovers(), 10)
        self.assertEqual(self.tree.leftovers(), [], "temporary folder not removed")

    def assert_cut(self, conn, request_id=1, timeout=20):
        """The stream sent something, then the connection closed without
        END_REQUEST: a web server takes that for a failed response."""
        stdout, ended = read_records(conn, timeout=timeout)
        self.assertIn(request_id, stdout)
        self.assertTrue(stdout[request_id].startswith(b"Status: 200 OK\r\n"))
        self.assertNotIn(request_id, ended)

    def test_a_slow_reader_of_paced_and_unpaced_streams_spins_nothing(self):
        served = self.start("--queue-high-water", "16384")
        slow = served.connect(buffer=4096)
        slow.sendall(request_bytes(1, served.paced("whirlo?.gif?U?loop=9"))
                     + request_bytes(2, served.params(LONG_QUERY)))
        time.sleep(1.5)  # both run; the queue fills at once
        self.assertLess(cpu_over(served.process.pid), 0.3)
        stdout, ended = served.ask("whirlo?.gif?D", timeout=10)
        self.assertEqual(ended, {1: 0})
        self.assertEqual(body_of(stdout[1]), body_of(self.tree.direct_output("whirlo?.gif?D")))
        served.process.send_signal(signal.SIGTERM)
        self.assertEqual(served.process.wait(timeout=10), 0)
        slow.close()
        self.assert_clean()

    def test_running_out_of_descriptors_answers_and_never_spins(self):
        served = self.start()
        # Every path once with descriptors to spare: a sanitizer build's
        # first check of a type needs a pipe of its own.
        self.assertEqual(status_of(served.ask()[0][1]), b"Status: 200 OK")
        served.ask(SCRIPT_FILENAME="")
        time.sleep(0.3)  # the probe connections have gone
        idle = descriptors(served.process.pid)
        answers = []
        # From no descriptor for the connection's files upwards.
        for spare in range(1, 6):
            served.limit_files(idle + spare)
            started = time.monotonic()
            stdout, ended = served.ask(timeout=10)
            self.assertEqual(ended, {1: 0}, "no answer with %d spare" % spare)
            self.assertLess(time.monotonic() - started, 8)
            answers.append(status_of(stdout[1]))
        self.assertIn(b"Status: 502 Bad Gateway", answers)
        served.limit_files(idle + 16)
        self.assertEqual(status_of(served.ask()[0][1]), b"Status: 200 OK")
        # Connections held past the descriptors pause the listener.
        served.limit_files(idle + 3)
        held = [served.connect() for _ in range(6)]
        time.sleep(0.3)
        self.assertLess(cpu_over(served.process.pid), 0.3)
        self.assertIn("accepting paused", served.log())
        for conn in held:
            conn.close()
        served.limit_files(idle + 16)
        stdout, ended = served.ask(timeout=10)
        self.assertEqual(status_of(stdout[1]), b"Status: 200 OK")
        self.assert_clean()

    def test_connections_past_the_limit_wait_for_a_free_one(self):
        served = self.start("--max-connections", "3")
        held = [served.connect() for _ in range(3)]
        waiting = served.connect()
        waiting.sendall(request_bytes(1, served.params(), keep=False))
        waiting.settimeout(1)
        with self.assertRaises(socket.timeout):
            waiting.recv(1)
        self.assertLess(cpu_over(served.process.pid, 0.5), 0.2)
        held.pop().close()
        stdout, ended = read_records(waiting, until_ended=[1], timeout=10)
        self.assertEqual(ended, {1: 0})
        self.assertEqual(status_of(stdout[1]), b"Status: 200 OK")
        for conn in held + [waiting]:
            conn.close()

    def test_params_are_bounded_per_request_per_process_and_in_time(self):
        served = self.start("--max-params", "4096", "--max-params-total", "20000",
                            "--request-time-ms", "800")
        begin = record(BEGIN, 1, struct.pack(">HB5x", 1, 1))
        with served.connect() as conn:  # over one request's bound: closed
            conn.sendall(begin + record(PARAMS, 1, b"x" * 5000))
            self.assertEqual(read_records(conn, timeout=10), ({}, {}))
        # Requests that never end their params, on four connections.
        chunk = pairs({"HTTP_X": "y" * 3900})
        held, ended = [], {}
        for n in range(4):
            conn = served.connect()
            conn.sendall(b"".join(record(BEGIN, i, struct.pack(">HB5x", 1, 1))
                                  + record(PARAMS, i, chunk) for i in (1, 2)))
            held.append(conn)
            time.sleep(0.1)
        for conn in held[2:]:  # 8 x 3.9 KB against 20000: some are overloaded
            _, more = read_records(conn, until_ended=[1, 2], timeout=5)
            ended.update(more)
        self.assertEqual(ended, {1: 2, 2: 2})  # FCGI_OVERLOADED
        # The first two are closed once --request-time-ms has passed.
        for conn in held[:2]:
            self.assertEqual(read_records(conn, timeout=10), ({}, {}))
        for conn in held:
            conn.close()
        stdout, ended = served.ask()
        self.assertEqual(ended, {1: 0})
        self.assertIn("incomplete after 800 ms", served.log())

    def test_a_reader_that_never_reads_holds_bounded_output(self):
        served = self.start("--max-temp", "3000000", "--read-ahead", "65536")
        idle_rss = self.rss(served.process.pid)
        conns = []
        for n in range(8):
            conn = served.connect(buffer=4096)
            conn.sendall(request_bytes(1, served.paced()))
            conns.append(conn)
        time.sleep(2)
        # Output files past --max-temp: the runs that grow are cut.
        wait_until(lambda: len(self.tree.leftovers()) < 8, 10)
        self.assertLess(len(self.tree.leftovers()), 8)
        self.assertIn("--max-temp", served.log())
        self.assertLess(self.rss(served.process.pid) - idle_rss, 12 << 20)
        for conn in conns:
            conn.close()
        self.assert_clean()

    @staticmethod
    def rss(pid):
        with open("/proc/%d/status" % pid) as handle:
            for line in handle:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
        return 0

    def test_programs_past_the_limit_get_503(self):
        served = self.start("--max-children", "1")
        busy = served.connect()
        busy.sendall(request_bytes(1, served.paced()))
        wait_until(lambda: self.tree.leftovers(), 5)
        stdout, ended = served.ask()
        self.assertEqual(ended, {1: 0})
        self.assertEqual(status_of(stdout[1]), b"Status: 503 Service Unavailable")
        busy.close()
        wait_until(lambda: not self.tree.leftovers(), 10)
        stdout, _ = served.ask()
        self.assertEqual(status_of(stdout[1]), b"Status: 200 OK")

    def test_the_time_limit_ends_a_paced_stream_and_its_file(self):
        served = self.start("--stream-time-ms", "1500")
        started = time.monotonic()
        with served.connect() as conn:
            conn.sendall(request_bytes(1, served.paced()))
            self.assert_cut(conn)
        self.assertLess(time.monotonic() - started, 10)
        self.assert_clean()
        self.assertIn("time limit", served.log())

    def test_output_past_its_cap_ends_the_response_as_failed(self):
        served = self.start()
        with served.connect() as conn:
            # A cap past the first read (64 KiB), so the stream has begun.
            conn.sendall(request_bytes(1, served.params(
                LONG_QUERY, WINCGI_FRAME_INTERVAL="40", WINCGI_MAX_OUTPUT="100000")))
            self.assert_cut(conn)
        self.assertIn("WINCGI_MAX_OUTPUT", served.log())
        self.assert_clean()

    def test_sigterm_ends_every_request_then_exits(self):
        served = self.start("--grace-ms", "300")
        streaming = served.connect()
        streaming.sendall(request_bytes(1, served.paced()))
        waiting = served.connect()  # its body never ends
        waiting.sendall(record(BEGIN, 1, struct.pack(">HB5x", 1, 1))
                        + record(PARAMS, 1, pairs(served.params())) + record(PARAMS, 1))
        time.sleep(0.5)
        served.process.send_signal(signal.SIGTERM)
        stdout, ended = read_records(streaming, until_ended=[1], timeout=10)
        self.assertEqual(ended, {1: 0})
        self.assertTrue(stdout[1].startswith(b"Status: 200 OK\r\n"))
        stdout, ended = read_records(waiting, until_ended=[1], timeout=10)
        self.assertEqual(ended, {1: 0})
        self.assertEqual(status_of(stdout[1]), b"Status: 503 Service Unavailable")
        self.assertEqual(served.process.wait(timeout=10), 0)
        self.assertFalse(connects(served.path))
        streaming.close()
        waiting.close()
        self.assert_clean()


class CgiModeOutOfDescriptors(unittest.TestCase):
    """The same run in the CGI mode, with few descriptors from the start:
    an output file that cannot be opened is a prompt 502 (not a run that
    never ends), and the time limit holds for a paced stream."""

    def test_answers_promptly_and_keeps_the_time_limit(self):
        tree = Tree()
        self.addCleanup(tree.remove)
        env = tree.cgi_env(LONG_QUERY, WINCGI_TIMEOUT="2", WINCGI_FRAME_INTERVAL="100")
        answers = {}
        for files in (6, 7, 8, 64):
            def limit(files=files):
                resource.setrlimit(resource.RLIMIT_NOFILE, (files, files))
            started = time.monotonic()
            done = subprocess.run([os.path.join(tree.cgi, "nph-whirlo32.cgi")],
                                  cwd=tree.cgi, env=env, capture_output=True,
                                  timeout=20, preexec_fn=limit)
            self.assertLess(time.monotonic() - started, 6, files)
            answers[files] = done.stdout.split(b"\r\n", 1)[0]
        # (A sanitizer build may itself fail for want of descriptors.)
        self.assertTrue(answers[64].startswith(b"HTTP/1.0 200 OK"), answers[64][:40])
        for files, answer in answers.items():
            self.assertRegex(answer[:40], rb"^(HTTP/1\.0 (200|50[02]) |$)", files)


class ThroughApache(unittest.TestCase):
    """What a web server makes of a response the bridge ends as failed:
    Apache (mod_proxy_fcgi) ends a chunked response to its client with the
    last chunk only after FCGI_END_REQUEST. The stream is cut by the time
    limit, which strikes after output has begun whatever the load."""

    def setUp(self):
        self.tree = Tree()
        self.addCleanup(self.tree.remove)
        self.served = Bridge(self.tree, ("--stream-time-ms", "2000"))
        self.addCleanup(self.served.stop)
        self.port = free_port()
        body = """<LocationMatch "^/cgi-bin/[^/]+\\.cgi$">
  Require all granted
  SetEnv WINCGI_FRAME_INTERVAL 20
  ProxyFCGIBackendType GENERIC
</LocationMatch>
ProxyPassMatch "^/cgi-bin/([^/]+\\.cgi)$" "unix:%s|fcgi://localhost%s/$1" flushpackets=on
""" % (self.served.path, self.tree.cgi)
        apache = servers.start("apache", self.tree.root, servers.apache_config(
            self.tree.root, self.port,
            ("mpm_event", "authz_core", "env", "proxy", "proxy_fcgi"), body,
            user=("nobody", "nogroup")), self.port)
        self.addCleanup(apache.stop)
        os.chmod(self.served.path, 0o777)

    def fetch(self, query):
        """The raw HTTP/1.1 response, up to the point Apache closes."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as conn:
            conn.sendall(b"GET /cgi-bin/whirlo32.cgi?%s HTTP/1.1\r\nHost: x\r\n"
                         b"User-Agent: %s\r\n\r\n" % (query.encode(), MOZILLA.encode()))
            data = b""
            while not data.endswith(b"\r\n0\r\n\r\n"):
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
            return data

    def test_a_cut_stream_reaches_the_client_unterminated(self):
        whole = self.fetch("whirlo?.gif?U?loop=2")
        self.assertIn(b"Transfer-Encoding: chunked", whole)
        self.assertTrue(whole.endswith(b"\r\n0\r\n\r\n"), whole[-40:])
        cut = self.fetch(LONG_QUERY)
        self.assertIn(b"Transfer-Encoding: chunked", cut)
        self.assertFalse(cut.endswith(b"\r\n0\r\n\r\n"), cut[-40:])


if __name__ == "__main__":
    unittest.main()
