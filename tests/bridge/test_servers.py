"""lighttpd and Apache httpd serve the demonstration site and run the
bridge on 127.0.0.1 with generated configurations; every response body must
be byte for byte what whirlo32 writes for the same request."""

import os
import unittest

from bridge_env import MOZILLA, REPO, ServedTree, body_of, servers, wait_until

SITE = os.path.join(REPO, "site")
FRAME_INTERVAL = "20"  # ms: paced, so the servers relay a growing stream
LYNX = "Lynx/2.8.9"


def nph_target(query):
    return "/cgi-bin/nph-whirlo32.cgi" + ("?" + query if query else "")


def parsed_target(query):
    return "/cgi-bin/whirlo32.cgi?" + query


def bridge_settings(tree):
    return {"WINDIR": tree.windows, "WINCGI_TEMP": tree.temp,
            "WINCGI_FRAME_INTERVAL": FRAME_INTERVAL, "WINCGI_TIMEOUT": "20"}


def lighttpd_config(tree, port):
    settings = ", ".join('"%s" => "%s"' % item for item in bridge_settings(tree).items())
    return """server.modules = ("mod_indexfile", "mod_alias", "mod_cgi", "mod_setenv")
index-file.names = ("index.html")
server.bind = "127.0.0.1"
server.port = %(port)d
server.document-root = "%(site)s"
server.errorlog = "%(root)s/lighttpd-error.log"
server.stream-response-body = 2
mimetype.assign = (".html" => "text/html", ".css" => "text/css", ".gif" => "image/gif")
alias.url = ("/cgi-bin/" => "%(cgi)s/", "/frames/" => "%(anim)s/")
$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = (".cgi" => "") }
setenv.add-environment = (%(settings)s)
""" % {"port": port, "site": SITE, "root": tree.root, "cgi": tree.cgi,
       "anim": tree.anim, "settings": settings}


def apache_config(tree, port):
    tree.write("mime.types", "text/html html\ntext/css css\nimage/gif gif\n")
    settings = "".join("SetEnv %s %s\n" % item for item in bridge_settings(tree).items())
    return servers.apache_config(
        tree.root, port, ("mpm_prefork", "authz_core", "alias", "cgi", "env", "mime", "dir"),
        settings + """StartServers 2
MaxRequestWorkers 8
TypesConfig "%(root)s/mime.types"
DocumentRoot "%(site)s"
DirectoryIndex index.html
ScriptAlias /cgi-bin/ "%(cgi)s/"
Alias /frames/ "%(anim)s/"
<Directory "%(site)s">
  Require all granted
</Directory>
<Directory "%(cgi)s">
  Require all granted
</Directory>
<Directory "%(anim)s">
  Require all granted
</Directory>
""" % {"site": SITE, "root": tree.root, "cgi": tree.cgi, "anim": tree.anim},
        user=("nobody", "nogroup"))


class ServerCase(ServedTree):
    """One server for the class; subclasses say which."""
    exact_nph = True  # the server passes an NPH response on untouched

    def test_serves_the_demonstration_page(self):
        response = self.get("/")
        self.assertIn(b" 200 ", response.split(b"\r\n")[0])
        with open(os.path.join(SITE, "index.html"), "rb") as handle:
            self.assertEqual(body_of(response), handle.read())

    def test_nph_bridge_responses(self):
        def check(response, expected):
            if self.exact_nph:
                self.assertEqual(response, expected)
            else:
                self.assertTrue(response.startswith(b"HTTP/1.0 200 OK\r\n"))
                self.assertEqual(body_of(response), body_of(expected))
        self.assert_answers(nph_target, (MOZILLA, LYNX), check)

    def test_parsed_bridge_responses(self):
        def check(response, expected):
            self.assertRegex(response[:20], rb"^HTTP/1\.[01] 200 OK\r\n")
            self.assertIn(b"\r\nContent-type: ", response.split(b"\r\n\r\n")[0]
                          .replace(b"Content-Type", b"Content-type"))
            self.assertEqual(body_of(response), body_of(expected))
        self.assert_answers(parsed_target, (MOZILLA,), check)

    def test_leaves_no_temporary_files(self):
        self.get("/cgi-bin/whirlo32.cgi?whirlo?.gif?D")
        # The bridge may still be tidying up when the client has it all.
        wait_until(lambda: not self.tree.leftovers())
        self.assertEqual(self.tree.leftovers(), [])


class Lighttpd(ServerCase, unittest.TestCase):
    exact_nph = False  # lighttpd parses NPH output and writes its own header

    @staticmethod
    def start(tree, port):
        return "lighttpd", lighttpd_config(tree, port)


class Apache(ServerCase, unittest.TestCase):
    @staticmethod
    def start(tree, port):
        return "apache", apache_config(tree, port)


if __name__ == "__main__":
    unittest.main()
