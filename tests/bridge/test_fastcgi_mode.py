"""The bridge's FastCGI mode spoken to directly: many requests on one
connection and on many, what a hostile or broken peer gets, clean-up when a
client goes away, and the ways the mode is started. The real servers in
front of it are tested in the servers suites."""

import os
import signal
import socket
import struct
import subprocess
import unittest

from bridge_env import MOZILLA, QUERIES, STARTED, Tree, body_of, bridge, stop, wait_until
from lib.fastcgi_client import (ABORT, BEGIN, PARAMS, STDIN, read_records,
                                record, request_bytes)
from webstack import Server

class FastCgiTest(unittest.TestCase):
    def setUp(self):
        self.tree = Tree()
        self.addCleanup(self.tree.remove)
        self.socket_path = os.path.join(self.tree.root, "bridge.sock")
        env = {"PATH": "/usr/bin:/bin", "WINDIR": self.tree.windows,
               "WINCGI_TEMP": self.tree.temp}
        # Tests run as root in CI; the trust suite covers --user.
        self.server = Server([bridge(), "--fastcgi", "unix:" + self.socket_path,
                              "--program", os.path.join(self.tree.cgi, "whirlo32"),
                              "--allow-root"],
                             self.socket_path, os.path.join(self.tree.root, "bridge.log"),
                             env, "the bridge", timeout=10,
                             ready=STARTED).process
        self.addCleanup(stop, self.server)

    def connect(self):
        conn = socket.socket(socket.AF_UNIX)
        conn.connect(self.socket_path)
        return conn

    def params(self, query="", script="whirlo32.cgi", **extra):
        params = {"SCRIPT_FILENAME": os.path.join(self.tree.cgi, script),
                  "QUERY_STRING": query, "REQUEST_METHOD": "GET",
                  "GATEWAY_INTERFACE": "CGI/1.1", "HTTP_USER_AGENT": MOZILLA}
        params.update(extra)
        return params

    def serve(self, *requests):
        with self.connect() as conn:
            conn.sendall(b"".join(requests))
            return read_records(conn)

    def wait_clean(self):
        wait_until(lambda: not self.tree.leftovers())
        self.assertEqual(self.tree.leftovers(), [], "temporary folder not removed")

    def test_multiplexed_requests_get_whirlo32s_bytes(self):
        ids = range(1, len(QUERIES) + 1)
        with self.connect() as conn:
            conn.sendall(b"".join(request_bytes(n, self.params(query))
                                  for n, query in zip(ids, QUERIES)))
            stdout, ended = read_records(conn, until_ended=ids)
        self.assertEqual(ended, {n: 0 for n in ids})
        for n, query in zip(ids, QUERIES):
            with self.subTest(query=query):
                self.assertTrue(stdout[n].startswith(b"Status: 200 OK\r\n"), stdout[n][:40])
                self.assertEqual(body_of(stdout[n]), body_of(self.tree.direct_output(query)))
        nph, _ = self.serve(request_bytes(1, self.params(script="nph-whirlo32.cgi"), keep=False))
        self.assertEqual(nph[1], self.tree.direct_output(""))
        self.wait_clean()

    def test_bad_requests_are_answered_and_the_server_lives_on(self):
        stdout, _ = self.serve(request_bytes(1, self.params(SCRIPT_FILENAME=""), keep=False))
        self.assertIn(b"500", stdout[1].split(b"\r\n")[0])
        stdout, _ = self.serve(request_bytes(1, self.params(WINCGI_TIMEOUT="soon"), keep=False))
        self.assertIn(b"WINCGI_TIMEOUT", stdout[1])
        _, ended = self.serve(request_bytes(1, self.params(), role=2, keep=False))
        self.assertEqual(ended, {1: 3})  # unknown role
        stdout, _ = self.serve(request_bytes(1, self.params(CONTENT_LENGTH="9"),
                                             body=b"short", keep=False))
        self.assertIn(b"400", stdout[1].split(b"\r\n")[0])
        # Broken records end the connection; a stray one is ignored.
        for garbage in (b"\x07" * 64, record(BEGIN, 1, struct.pack(">HB5x", 1, 1))
                        + record(PARAMS, 1, b"\xff\xff\xff\xff" + b"x" * 100)
                        + record(PARAMS, 1)):
            with self.connect() as conn:
                conn.sendall(garbage)
                self.assertEqual(read_records(conn), ({}, {}))
        with self.connect() as conn:
            conn.sendall(record(STDIN, 9, b"late") + request_bytes(1, self.params()))
            stdout, _ = read_records(conn, until_ended=[1])
        self.assertTrue(stdout[1].startswith(b"Status: 200 OK\r\n"))
        self.assertIsNone(self.server.poll())
        self.wait_clean()

    def test_a_client_that_goes_away_ends_its_program(self):
        long_run = self.params("whirlo?.gif?U?loop=9", WINCGI_FRAME_INTERVAL="100")
        conn = self.connect()
        conn.sendall(request_bytes(1, long_run) + request_bytes(2, long_run))
        self.assertTrue(wait_until(lambda: len(self.tree.leftovers()) == 2),
                        self.tree.leftovers())
        conn.sendall(record(ABORT, 1))
        _, ended = read_records(conn, until_ended=[1])
        self.assertEqual(ended, {1: 0})
        conn.close()  # request 2 goes with its connection
        self.wait_clean()
        self.assertIsNone(self.server.poll())

    def test_termination_ends_every_run(self):
        conn = self.connect()
        conn.sendall(request_bytes(1, self.params("whirlo?.gif?U?loop=9",
                                                  WINCGI_FRAME_INTERVAL="100")))
        self.assertTrue(wait_until(lambda: self.tree.leftovers()), "the run did not start")
        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(self.server.wait(timeout=10), 0)
        conn.close()
        self.wait_clean()


class StartedWithASocket(unittest.TestCase):
    def test_serves_a_listening_socket_given_as_standard_input(self):
        tree = Tree()
        try:
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen()
            server = subprocess.Popen([bridge(), "--allow-root", "--program",
                                       os.path.join(tree.cgi, "whirlo32")],
                                      stdin=listener.fileno(),
                                      env={"WINCGI_TEMP": tree.temp, "WINDIR": tree.windows},
                                      stderr=subprocess.DEVNULL)
            try:
                with socket.create_connection(listener.getsockname()) as conn:
                    script = os.path.join(tree.cgi, "whirlo32.cgi")
                    conn.sendall(request_bytes(1, {"SCRIPT_FILENAME": script,
                                                   "HTTP_USER_AGENT": MOZILLA}, keep=False))
                    stdout, _ = read_records(conn)
                self.assertEqual(body_of(stdout[1]), body_of(tree.direct_output("")))
            finally:
                stop(server)
                listener.close()
        finally:
            tree.remove()


if __name__ == "__main__":
    unittest.main()
