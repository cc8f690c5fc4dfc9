"""lighttpd and Apache httpd serve the demonstration site and run the
bridge on 127.0.0.1 with generated configurations; every response body must
be byte for byte what whirlo32 writes for the same request."""

import os
import shutil
import subprocess
import unittest

from bridge_env import (MOZILLA, QUERIES, REPO, Tree, body_of, free_port,
                        http_get, stop, wait_for_port)

SITE = os.path.join(REPO, "site")
APACHE_MODULES = "/usr/lib/apache2/modules"
FRAME_INTERVAL = "20"  # ms: paced, so the servers relay a growing stream


def find_server(names):
    for name in names:
        path = shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin")
        if path:
            return path
    raise RuntimeError("%s is not installed (Debian package)" % names[0])


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
    modules = "".join("LoadModule %s_module %s/mod_%s.so\n" % (name, APACHE_MODULES, name)
                      for name in ("mpm_prefork", "authz_core", "alias", "cgi",
                                   "env", "mime", "dir"))
    user = "User nobody\nGroup nogroup\n" if os.geteuid() == 0 else ""
    settings = "".join("SetEnv %s %s\n" % item for item in bridge_settings(tree).items())
    return modules + user + settings + """ServerRoot "%(root)s/apache"
ServerName 127.0.0.1
Listen 127.0.0.1:%(port)d
PidFile "%(root)s/apache/httpd.pid"
ErrorLog "%(root)s/apache/error.log"
DefaultRuntimeDir "%(root)s/apache"
Mutex file:%(root)s/apache default
StartServers 2
MaxRequestWorkers 8
TypesConfig "%(root)s/mime.types"
DocumentRoot "%(site)s"
DirectoryIndex index.html
ScriptAlias /cgi-bin/ "%(cgi)s/"
Alias /frames/ "%(anim)s/"
<Directory />
  Require all denied
</Directory>
<Directory "%(site)s">
  Require all granted
</Directory>
<Directory "%(cgi)s">
  Require all granted
</Directory>
<Directory "%(anim)s">
  Require all granted
</Directory>
""" % {"port": port, "site": SITE, "root": tree.root, "cgi": tree.cgi,
       "anim": tree.anim}


class ServerCase:
    """Starts one server for the class; subclasses say which."""
    exact_nph = True  # the server passes an NPH response on untouched

    @classmethod
    def setUpClass(cls):
        cls.tree = Tree()
        cls.port = free_port()
        command = cls.command(cls.tree, cls.port)
        cls.log = open(os.path.join(cls.tree.root, "server-output.log"), "w+")
        # A session of its own: Apache signals its whole process group when
        # it stops.
        cls.server = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                      stdout=cls.log, stderr=subprocess.STDOUT,
                                      start_new_session=True)
        try:
            wait_for_port(cls.port, cls.server)
        except RuntimeError:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        stop(cls.server)
        cls.log.close()
        cls.tree.remove()

    def get(self, target, agent=MOZILLA):
        response = http_get(self.port, target, agent)
        self.assertTrue(response.startswith(b"HTTP/1."), response[:200])
        return response

    def test_serves_the_demonstration_page(self):
        response = self.get("/")
        self.assertIn(b" 200 ", response.split(b"\r\n")[0])
        with open(os.path.join(SITE, "index.html"), "rb") as handle:
            self.assertEqual(body_of(response), handle.read())

    def test_nph_bridge_responses(self):
        for query in QUERIES:
            for agent in (MOZILLA, "Lynx/2.8.9"):
                with self.subTest(query=query, agent=agent):
                    expected = self.tree.direct_output(query, agent)
                    target = "/cgi-bin/nph-whirlo32.cgi" + ("?" + query if query else "")
                    response = self.get(target, agent)
                    if self.exact_nph:
                        self.assertEqual(response, expected)
                    else:
                        self.assertTrue(response.startswith(b"HTTP/1.0 200 OK\r\n"))
                        self.assertEqual(body_of(response), body_of(expected))

    def test_parsed_bridge_responses(self):
        for query in QUERIES:
            with self.subTest(query=query):
                expected = self.tree.direct_output(query)
                response = self.get("/cgi-bin/whirlo32.cgi?" + query)
                self.assertRegex(response[:20], rb"^HTTP/1\.[01] 200 OK\r\n")
                self.assertIn(b"\r\nContent-type: ", response.split(b"\r\n\r\n")[0]
                              .replace(b"Content-Type", b"Content-type"))
                self.assertEqual(body_of(response), body_of(expected))

    def test_leaves_no_temporary_files(self):
        self.get("/cgi-bin/whirlo32.cgi?whirlo?.gif?D")
        self.assertEqual(self.tree.leftovers(), [])


class Lighttpd(ServerCase, unittest.TestCase):
    exact_nph = False  # lighttpd parses NPH output and writes its own header

    @staticmethod
    def command(tree, port):
        config = tree.write("lighttpd.conf", lighttpd_config(tree, port))
        return [find_server(["lighttpd"]), "-D", "-f", config]


class Apache(ServerCase, unittest.TestCase):
    @staticmethod
    def command(tree, port):
        os.makedirs(os.path.join(tree.root, "apache"))
        tree.write("mime.types", "text/html html\ntext/css css\nimage/gif gif\n")
        config = tree.write("apache.conf", apache_config(tree, port))
        return [find_server(["apache2", "httpd"]), "-f", config, "-DFOREGROUND"]


if __name__ == "__main__":
    unittest.main()
