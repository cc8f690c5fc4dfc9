"""whirlo32-fastcgi behind the real servers that the bridge's FastCGI mode
is tested with (fastcgi_server_cases.py): nginx on a unix socket, lighttpd
starting it itself, Apache on a TCP port. It finds the tree's pelk.ini
beside itself, as whirlo32 does, and every response must be what whirlo32
writes, paced as the bridge paces it."""

import unittest

from fastcgi_server_cases import (ApacheFront, FastCGICase, LighttpdFront, NginxFront,
                                  PlayerService)


class PlayerCase(FastCGICase):
    service_kind = PlayerService


class Nginx(NginxFront, PlayerCase, unittest.TestCase):
    pass


class Lighttpd(LighttpdFront, PlayerCase, unittest.TestCase):
    pass


class Apache(ApacheFront, PlayerCase, unittest.TestCase):
    pass


if __name__ == "__main__":
    unittest.main()
