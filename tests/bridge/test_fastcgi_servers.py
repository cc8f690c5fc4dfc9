"""The bridge's FastCGI mode behind real servers on 127.0.0.1, each with a
generated configuration: nginx (`fastcgi_pass` to a unix socket), lighttpd
(`mod_fastcgi` starting the bridge itself with the listening socket as its
standard input) and Apache httpd (`mod_proxy_fcgi` to a TCP port). The
cases it shares with whirlo32-fastcgi are in fastcgi_server_cases.py; here
also a program that never ends is ended when its client goes away, and
its folder removed."""

import os
import shutil
import socket
import struct
import unittest

from bridge_env import FAKES, bridge, process_gone, wait_until
from fastcgi_server_cases import (ApacheFront, BridgeService, FastCGICase, LighttpdFront,
                                  NginxFront)


class BridgeCase(FastCGICase):
    service_kind = BridgeService

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


class Nginx(NginxFront, BridgeCase, unittest.TestCase):
    pass


class Lighttpd(LighttpdFront, BridgeCase, unittest.TestCase):
    pass


class Apache(ApacheFront, BridgeCase, unittest.TestCase):
    pass


if __name__ == "__main__":
    unittest.main()
