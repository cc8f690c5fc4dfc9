"""whirlo32-fastcgi behind the real servers that the bridge's FastCGI mode
is tested with (fastcgi_server_cases.py): nginx on a unix socket and
Apache on a TCP port, each to a copy that finds the tree's pelk.ini beside
itself as whirlo32 does, and lighttpd starting the built program itself,
told the pelk.ini by --config. Every response must be what whirlo32
writes, paced as the bridge paces it."""

import unittest

from fastcgi_server_cases import (ApacheFront, ConfiguredPlayerService, FastCGICase,
                                  LighttpdFront, NginxFront, PlayerService)


class PlayerCase(FastCGICase):
    service_kind = PlayerService


class Nginx(NginxFront, PlayerCase, unittest.TestCase):
    pass


class Lighttpd(LighttpdFront, PlayerCase, unittest.TestCase):
    service_kind = ConfiguredPlayerService


class Apache(ApacheFront, PlayerCase, unittest.TestCase):
    pass


if __name__ == "__main__":
    unittest.main()
