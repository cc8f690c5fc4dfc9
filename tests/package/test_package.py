#!/usr/bin/env python3
"""The Debian package end to end, as root: built by CPack from a release
build and checked by lintian; installed with dpkg; its lighttpd and Apache
snippets enabled the Debian way and served by the real servers on free
ports of 127.0.0.1, and its nginx snippet through whirlo32-fastcgi (and,
changed as its comment says, through the bridge's FastCGI mode), each
started as its systemd units say and as the README's spawn-fcgi line
says, every response compared with the installed whirlo32 run directly;
the units checked by systemd-analyze; then removed, installed again and
purged, leaving nothing behind.

Usage: tests/run.py tests/package/test_package.py --build BUILD_FOLDER

The package is purged at the end whatever happened, and first too, when a
previous run left it installed.
"""

import functools
import os
import re
import shlex
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from lib.given import given
from webstack import (MOZILLA, Server, body_of, free_port, http_get, http_get_all,
                      stop, wait_until)

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

BUILD = None
PACKAGE = "whirlo32"
CGIDIR = "/usr/lib/whirlo32"
LYNX = "Lynx/2.8.9"
LIGHTTPD_LINK = "/etc/lighttpd/conf-enabled/50-whirlo32.conf"
APACHE_LINK = "/etc/apache2/conf-enabled/whirlo32.conf"
UNITS = "/usr/lib/systemd/system/"
# The FastCGI services, each a socket and a service unit of this name.
SERVICES = ("whirlo32-fastcgi", "wincgi-bridge")
SYSTEMD_LINKS = ["/etc/systemd/system/sockets.target.wants/%s.socket" % name
                 for name in SERVICES]
CONFFILES = {"/etc/pelk.ini", "/etc/lighttpd/conf-available/50-whirlo32.conf",
             "/etc/apache2/conf-available/whirlo32.conf",
             "/etc/nginx/snippets/whirlo32.conf"}
SHIPPED = CONFFILES | {
    CGIDIR + "/whirlo32", CGIDIR + "/whirlo32.cgi", CGIDIR + "/nph-whirlo32.cgi",
    CGIDIR + "/whirlo32-fastcgi", "/usr/sbin/wincgi-bridge", "/usr/sbin/whirlo32-setup",
    "/usr/share/doc/whirlo32/whirlo32.hlp", "/usr/share/doc/whirlo32/whirlo32.rtf",
    "/usr/share/doc/whirlo32/changelog.gz", "/usr/share/doc/whirlo32/copyright",
    "/usr/share/lintian/overrides/whirlo32"} | {
    "/usr/share/man/man8/%s.8.gz" % name
    for name in ("whirlo32", "whirlo32-fastcgi", "wincgi-bridge", "whirlo32-setup")} | {
    UNITS + name + kind for name in SERVICES for kind in (".socket", ".service")} | {
    "/usr/share/whirlo32/whirlo%d.gif" % n for n in range(1, 14)}
# Responses that do not depend on the clock, for both viewers; the query
# language's several "?" and a loop among them.
QUERIES = ["", "whirlo?.gif?D", "whirlo?.gif?U?start=3?end=9?D?loop=2",
           "whirlo?.gif?pict=11", "whirlo?.gif?name===12"]


def run(*command, **options):
    """Runs a command that must succeed; its standard output as text."""
    done = subprocess.run(command, capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (
            " ".join(command), done.returncode, done.stdout, done.stderr))
    return done.stdout


def installed():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE],
                          capture_output=True, text=True)
    return done.returncode == 0 and "not-installed" not in done.stdout


def purge():
    if installed():
        run("dpkg", "--purge", PACKAGE)


def exists(path):
    return os.path.lexists(path)


def package_paths():
    """Every path of the .deb, folders included."""
    return {line.split(None, 5)[5].split(" -> ")[0].lstrip(".").rstrip("/") or "/"
            for line in run("dpkg-deb", "-c", DEB).splitlines()}


def direct_output(query, agent, program=CGIDIR + "/whirlo32"):
    """What the installed whirlo32 writes for a request, run by hand in its
    folder as the bridge runs it (so it reads the same pelk.ini)."""
    work = tempfile.mkdtemp(prefix="whirlo-package-")
    data = os.path.join(work, "req.dat")
    output = os.path.join(work, "req.out")
    with open(data, "w") as handle:
        handle.write("[CGI]\r\nQuery String=%s\r\n[Extra Headers]\r\nUser-Agent=%s\r\n"
                     "[System]\r\nOutput File=%s\r\n" % (query, agent, output))
    subprocess.run([program, data], cwd=os.path.dirname(program), env={},
                   capture_output=True, timeout=30)
    with open(output, "rb") as handle:
        result = handle.read()
    shutil.rmtree(work)
    return result


def cgi_target(name, query):
    return "/cgi-win/%s%s" % (name, "?" + query if query else "")


def unit_settings(path):
    """The KEY=VALUE lines of a systemd unit, as a dict of lists."""
    settings = {}
    with open(path) as handle:
        for line in handle:
            if "=" in line and not line.startswith(("#", "[")):
                key, value = line.rstrip("\n").split("=", 1)
                settings.setdefault(key, []).append(value.replace("%t", "/run"))
    return settings


class ActivatedService:
    """A FastCGI service started as its installed socket and service units
    start it (systemd cannot run here): their listening socket, with its
    owner and mode, as standard input, their user, group, environment and
    runtime folder."""

    def __init__(self, name, journal):
        sock = unit_settings(UNITS + name + ".socket")
        service = unit_settings(UNITS + name + ".service")
        self.path = sock["ListenStream"][0]
        self.folder = os.path.dirname(self.path)
        self.temp = None
        folders = [(self.folder, 0o755, None)]
        if "RuntimeDirectory" in service:
            self.temp = "/run/" + service["RuntimeDirectory"][0]
            folders.append((self.temp, int(service["RuntimeDirectoryMode"][0], 8),
                            service["User"][0]))
        self.made = []
        for folder, mode, owner in folders:
            if exists(folder):
                raise AssertionError("%s exists already" % folder)
            os.mkdir(folder, mode)
            self.made.append(folder)
            if owner:
                shutil.chown(folder, owner, service["Group"][0])
        env = dict(item.split("=", 1) for item in service.get("Environment", []))
        self.listener = socket.socket(socket.AF_UNIX)
        self.listener.bind(self.path)
        self.listener.listen(16)
        shutil.chown(self.path, sock["SocketUser"][0], sock["SocketGroup"][0])
        os.chmod(self.path, int(sock["SocketMode"][0], 8))
        with open(journal, "ab") as log:  # the journal, for StandardError=journal
            self.process = subprocess.Popen(
                service["ExecStart"][0].split(), stdin=self.listener.fileno(),
                stdout=subprocess.DEVNULL, stderr=log, env=env, cwd="/",
                user=service["User"][0], group=service["Group"][0])

    def stop(self):
        """Ends the service as systemd stops it; its exit code."""
        code = stop(self.process)
        self.listener.close()
        for folder in reversed(self.made):
            shutil.rmtree(folder, ignore_errors=True)
        return code


class PackageFile(unittest.TestCase):
    """The .deb itself, before it is installed."""

    def test_lintian_reports_no_error(self):
        done = subprocess.run(["lintian", "--no-tag-display-limit", DEB],
                              capture_output=True, text=True)
        errors = [line for line in done.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], done.stdout)
        self.assertIn(done.returncode, (0, 2), done.stdout + done.stderr)

    def test_control_files(self):
        fields = run("dpkg-deb", "-f", DEB, "Package", "Version", "Depends")
        self.assertIn("Package: whirlo32", fields)
        self.assertRegex(fields, r"Depends: .*libc6 \(>= ")
        self.assertRegex(fields, r"Depends: .*libstdc\+\+6 ")
        with tempfile.TemporaryDirectory() as control:
            run("dpkg-deb", "-e", DEB, control)
            with open(os.path.join(control, "conffiles")) as handle:
                self.assertEqual(set(handle.read().split()), CONFFILES)
            for script in ("postinst", "prerm", "postrm"):
                self.assertTrue(os.access(os.path.join(control, script), os.X_OK))

    def test_ships_exactly_the_installed_files(self):
        folders = {line.split(None, 5)[5].lstrip(".").rstrip("/")
                   for line in run("dpkg-deb", "-c", DEB).splitlines()
                   if line.startswith("d")}
        self.assertEqual(package_paths() - folders, SHIPPED)


class InstallPrefix(unittest.TestCase):
    """`cmake --install` into a folder of its own: everything lands under
    the prefix, and the programs work from there."""

    def test_installs_under_any_prefix(self):
        with tempfile.TemporaryDirectory() as prefix:
            out = run("cmake", "--install", BUILD, "--prefix", prefix)
            placed = [line.split(": ", 1)[1].split(" -> ")[0]
                      for line in out.splitlines() if line.startswith("-- Installing: ")]
            self.assertEqual([p for p in placed if not p.startswith(prefix + "/")], [])
            cgi = os.path.join(prefix, "lib", "whirlo32")
            with open(os.path.join(cgi, "pelk.ini")) as handle:
                self.assertIn("Animation Path=%s/share/whirlo32/\n" % prefix, handle.read())
            with open(os.path.join(prefix, "etc/lighttpd/conf-available/50-whirlo32.conf")) as h:
                self.assertIn('"/cgi-win/" => "%s/"' % cgi, h.read())
            # The bridge through its link runs the whirlo32 beside it.
            env = {"GATEWAY_INTERFACE": "CGI/1.1", "REQUEST_METHOD": "GET",
                   "SERVER_PROTOCOL": "HTTP/1.0", "QUERY_STRING": "whirlo?.gif?D",
                   "HTTP_USER_AGENT": MOZILLA, "WINCGI_TEMP": prefix}
            done = subprocess.run([os.path.join(cgi, "nph-whirlo32.cgi")], cwd=cgi,
                                  env=env, capture_output=True, timeout=30)
            expected = direct_output("whirlo?.gif?D", MOZILLA,
                                     program=os.path.join(cgi, "whirlo32"))
            self.assertEqual(done.stdout, expected, done.stderr)
            self.assertIn(b"--sometext", expected)


def replaced(text, changes, name):
    """text with each (pattern, replacement) of changes applied exactly
    once: a Debian file that no longer looks as expected fails loudly."""
    for pattern, replacement in changes:
        text, count = re.subn(pattern, lambda _: replacement, text, flags=re.M)
        if count != 1:
            raise AssertionError("%s: %r matched %d times" % (name, pattern, count))
    return text


def debian_file(path, changes):
    with open(path) as handle:
        return replaced(handle.read(), changes, path)


def lighttpd_server(logs, port):
    """Debian's lighttpd.conf with only the port, the bind address (also the
    IPv6 wildcard that use-ipv6.pl adds), the pid file and the error log
    changed; the snippet comes from conf-enabled, as lighty-enable-mod put
    it there."""
    config = os.path.join(logs, "lighttpd.conf")
    with open(config, "w") as handle:
        handle.write(debian_file("/etc/lighttpd/lighttpd.conf", [
            (r"^server\.port\s*=.*$", 'server.port = %d\nserver.bind = "127.0.0.1"' % port),
            (r"^server\.pid-file\s*=.*$", 'server.pid-file = "%s/lighttpd.pid"' % logs),
            (r"^server\.errorlog\s*=.*$", 'server.errorlog = "%s/lighttpd-error.log"' % logs),
            (r"^include_shell \"/usr/share/lighttpd/use-ipv6\.pl.*$", "")]))
    return Server(["/usr/sbin/lighttpd", "-D", "-f", config], port,
                  os.path.join(logs, "lighttpd-output.log"), what="lighttpd",
                  quote=[os.path.join(logs, "lighttpd-error.log")])


def apache_environment(logs):
    """What /etc/apache2/envvars sets, with the run-time files and logs in
    logs."""
    return dict(os.environ, APACHE_RUN_USER="www-data", APACHE_RUN_GROUP="www-data",
                APACHE_PID_FILE=logs + "/apache2.pid", APACHE_RUN_DIR=logs,
                APACHE_LOCK_DIR=logs, APACHE_LOG_DIR=logs, LANG="C")


def apache_config(logs, port):
    """Debian's apache2.conf listening on 127.0.0.1:port instead of
    ports.conf; the modules, conf-enabled (a2enconf) and sites as Debian
    has them."""
    config = os.path.join(logs, "apache2.conf")
    with open(config, "w") as handle:
        handle.write(debian_file("/etc/apache2/apache2.conf", [
            (r"^Include ports\.conf$", "Listen 127.0.0.1:%d" % port)]))
    return config


def apache_server(logs, port):
    # apache2ctl makes the folder of mod_cgid's socket before it starts.
    socks = os.path.join(logs, "socks")
    if not os.path.isdir(socks):
        os.mkdir(socks)
        shutil.chown(socks, "www-data", "www-data")
    return Server(["/usr/sbin/apache2", "-d", "/etc/apache2", "-f",
                   apache_config(logs, port), "-DFOREGROUND"], port,
                  os.path.join(logs, "apache-output.log"), env=apache_environment(logs),
                  what="apache2", quote=[os.path.join(logs, "error.log")])


def nginx_server(logs, port, snippet="snippets/whirlo32.conf"):
    """Debian's nginx.conf and its default site, the site on
    127.0.0.1:port with the snippet included in its server block; the pid
    file and logs in logs. Relative includes are found beside the copy."""
    for name in ("snippets", "fastcgi_params"):
        if not os.path.lexists(os.path.join(logs, name)):
            os.symlink("/etc/nginx/" + name, os.path.join(logs, name))
    os.makedirs(os.path.join(logs, "sites-enabled"), exist_ok=True)
    with open(os.path.join(logs, "sites-enabled", "default"), "w") as handle:
        handle.write(debian_file("/etc/nginx/sites-available/default", [
            (r"^\tlisten 80 default_server;$",
             "\tlisten 127.0.0.1:%d default_server;\n\tinclude %s;" % (port, snippet)),
            (r"^\tlisten \[::\]:80 default_server;$", "")]))
    config = os.path.join(logs, "nginx.conf")
    with open(config, "w") as handle:
        handle.write(debian_file("/etc/nginx/nginx.conf", [
            (r"^pid /run/nginx\.pid;$", "pid %s/nginx.pid;" % logs),
            (r"^error_log /var/log/nginx/error\.log;$", "error_log %s/nginx-error.log;" % logs),
            (r"^\taccess_log /var/log/nginx/access\.log;$",
             "\taccess_log %s/nginx-access.log;" % logs),
            (r"^\tinclude /etc/nginx/sites-enabled/\*;$",
             "\tinclude %s/sites-enabled/*;" % logs)]))
    return Server(["/usr/sbin/nginx", "-c", config, "-e", logs + "/nginx-error.log",
                   "-g", "daemon off;"], port, os.path.join(logs, "nginx-output.log"),
                  what="nginx", quote=[os.path.join(logs, "nginx-error.log")])


def log_text(path):
    with open(path, errors="replace") as handle:
        return handle.read()


def nginx_snippet(name, logs):
    """What a server block includes to reach the FastCGI service name: the
    installed snippet where it passes to that service's socket, else a copy
    with the one change its comment gives for it."""
    path = unit_settings(UNITS + name + ".socket")["ListenStream"][0]
    with open("/etc/nginx/snippets/whirlo32.conf") as handle:
        text = handle.read()
    if "\tfastcgi_pass unix:%s;\n" % path in text:
        return "snippets/whirlo32.conf"
    comment = " ".join(line.lstrip("#").strip() for line in text.splitlines()
                       if line.startswith("#"))
    if "systemctl enable --now %s.socket" % name not in comment \
            or "unix:%s" % path not in comment:
        raise AssertionError("the nginx snippet's comment does not say how to "
                             "reach %s on %s" % (name, path))
    copy = os.path.join(logs, "whirlo32-%s.conf" % name)
    with open(copy, "w") as handle:
        handle.write(replaced(text, [(r"^\tfastcgi_pass unix:\S+;$",
                                      "\tfastcgi_pass unix:%s;" % path)], copy))
    return copy


def spawn_fcgi_blocks():
    """The README's blocks for FastCGI without systemd that run in the
    foreground: each a list of commands, "sudo install ..." lines and last
    the "sudo env ... spawn-fcgi -n ..." line."""
    with open(os.path.join(REPO, "README.md")) as handle:
        readme = handle.read().replace("\\\n", "")
    blocks = re.findall(r"(?m)((?:^    .*\n)+)", readme)
    return [[line.strip() for line in block.splitlines()] for block in blocks
            if re.search(r"(?m)^    sudo env .*spawn-fcgi -n ", block)]


class ReadmeSpawned:
    """A block of spawn_fcgi_blocks run as it stands, as root; the folders
    its install lines made are removed when it stops."""

    def __init__(self, lines, log):
        self.made, self.process = [], None
        try:
            for line in lines[:-1]:
                words = shlex.split(line)
                if words[:3] != ["sudo", "install", "-d"] or exists(words[-1]):
                    raise AssertionError("not a line for a new folder: " + line)
                run(*words[1:])
                self.made.append(words[-1])
            words = shlex.split(lines[-1])
            self.path = words[words.index("-s") + 1]
            self.temp = next((word.split("=", 1)[1] for word in words
                              if word.startswith("WINCGI_TEMP=")), None)
            with open(log, "ab") as output:
                self.process = subprocess.Popen(words[1:], stdout=output,
                                                stderr=output, cwd="/")
            if not wait_until(lambda: os.path.exists(self.path)):
                raise AssertionError("spawn-fcgi made no socket: " + log_text(log))
        except BaseException:
            self.stop()
            raise

    def stop(self):
        code = stop(self.process) if self.process else None
        for folder in reversed(self.made):
            shutil.rmtree(folder, ignore_errors=True)
        return code


class ServingCase(unittest.TestCase):
    """Servers started from copies of Debian's own main configurations, a
    folder for their configurations and logs, and /etc/pelk.ini restored
    after a test that breaks it."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="whirlo-package-")
        os.chmod(cls.root, 0o755)
        # The servers' configurations and logs, writable by their children.
        cls.logs = os.path.join(cls.root, "logs")
        os.mkdir(cls.logs)
        shutil.chown(cls.logs, "www-data", "www-data")
        cls.started = []
        with open("/etc/pelk.ini") as handle:
            cls.pelk = handle.read()

    @classmethod
    def tearDownClass(cls):
        for server in cls.started:
            server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def start(self, make_server):
        """A server that make_server(logs, port) starts on a free port; the
        port."""
        port = free_port()
        self.started.append(make_server(self.logs, port))
        return port

    def get(self, port, target, agent=MOZILLA):
        response = http_get(port, target, agent)
        self.assertRegex(response[:20], rb"^HTTP/1\.[01] ")
        return response

    def assert_serves(self, port, names=("nph-whirlo32.cgi", "whirlo32.cgi"), whole=False):
        """Every query under both names, the NPH one to an animating viewer,
        the other to one that does not animate, byte for byte what the
        installed whirlo32 writes (whole: the NPH response with its header)."""
        asked = [(query, name, agent) for query in QUERIES
                 for name, agent in zip(names, (MOZILLA, LYNX))]
        # Asked at once: the paced responses spend their time waiting.
        responses = http_get_all(port, [(cgi_target(name, query), agent)
                                        for query, name, agent in asked])
        for (query, name, agent), response in zip(asked, responses):
            with self.subTest(query=query, name=name):
                expected = direct_output(query, agent)
                response = response.result()
                self.assertRegex(response[:20], rb"^HTTP/1\.[01] ")
                if whole and name.startswith("nph-"):
                    self.assertEqual(response, expected)
                else:
                    self.assertIn(b" 200 OK\r\n", response[:20])
                    self.assertEqual(body_of(response), body_of(expected))
        self.assertIn(b"--sometext", direct_output("", MOZILLA))

    def break_configuration(self):
        """An operator's mistake in /etc/pelk.ini, undone after the test."""
        self.addCleanup(self.write_pelk, self.pelk)
        self.write_pelk("[Whirl]\nAnimation Path=/srv/no-such-folder/\n")

    @staticmethod
    def write_pelk(text):
        with open("/etc/pelk.ini", "w") as handle:
            handle.write(text)

    def assert_logged_apart(self, log_path, query, logger="wincgi-bridge"):
        """The program's message and the diagnosis reached the server's log,
        each line of them on its own line, from logger and naming the
        request."""
        request = "[/cgi-win/nph-whirlo32.cgi?%s]" % query
        wanted = [request + " whirlo32: Whirlo-32 V1.2, error : WHL1005 "
                  "(cannot open picture files).",
                  request + " whirlo32: See WHIRLO32.HLP for help",
                  request + " no frame to play (error 1005): configuration "
                  "/etc/pelk.ini (readable by the serving user), "
                  "Animation Path=/srv/no-such-folder/"]
        self.assertTrue(wait_until(lambda: wanted[2] in log_text(log_path)),
                        log_text(log_path))
        lines = log_text(log_path).splitlines()
        for text in wanted:
            found = [line for line in lines if text in line]
            self.assertEqual(len(found), 1, (text, lines))
            self.assertEqual(found[0].count(logger + ": "), 1, found)

    def enable_cgid(self):
        """a2enmod cgid, undone after the test when it was not enabled."""
        if subprocess.run(["a2query", "-q", "-m", "cgid"]).returncode != 0:
            run("a2enmod", "-q", "cgid")
            self.addCleanup(run, "a2dismod", "-q", "cgid")


class Installed(ServingCase):
    """The package installed; its snippets enabled the Debian way
    (lighty-enable-mod, a2enmod cgid and a2enconf, an include in the nginx
    site's server block) and its FastCGI socket enabled; each server
    started from a copy of Debian's own main configuration."""

    @classmethod
    def setUpClass(cls):
        global PREEXISTING
        PREEXISTING = {path for path in package_paths() if exists(path)}
        run("dpkg", "-i", DEB)
        run("lighty-enable-mod", "whirlo32")
        run("a2enconf", "-q", "whirlo32")
        # Links only: nothing is started (and systemd does not run in CI).
        for name in SERVICES:
            run("systemctl", "enable", name + ".socket")
        super().setUpClass()

    def test_lighttpd_serves_the_installed_program(self):
        port = self.start(lighttpd_server)
        self.assert_serves(port)
        # Debian's own main configuration accepts the enabled snippet as it
        # stands.
        run("/usr/sbin/lighttpd", "-tt", "-f", "/etc/lighttpd/lighttpd.conf")
        for hidden in ("whirlo32", "pelk.ini", "whirlo32?/etc/pelk.ini"):
            with self.subTest(hidden=hidden):
                self.assertIn(b" 404 ", self.get(port, "/cgi-win/" + hidden)[:20])

    def assert_streams(self, port):
        """Unbuffered, the first frame arrives while later ones are still
        being paced (the snippets' frame interval is 100 ms, 13 frames)."""
        with socket.create_connection(("127.0.0.1", port), timeout=30) as conn:
            conn.sendall(b"GET /cgi-win/nph-whirlo32.cgi HTTP/1.0\r\nUser-Agent: "
                         + MOZILLA.encode() + b"\r\n\r\n")
            received, first_part = b"", None
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                received += chunk
                if first_part is None and received.count(b"--sometext") >= 2:
                    first_part = time.monotonic()
            ended = time.monotonic()
        self.assertEqual(body_of(received), body_of(direct_output("", MOZILLA)))
        self.assertGreater(ended - first_part, 0.5)

    def test_lighttpd_streams_the_paced_parts(self):
        self.assert_streams(self.start(lighttpd_server))

    def test_apache_serves_the_installed_program(self):
        self.enable_cgid()
        port = self.start(apache_server)
        self.assert_serves(port, whole=True)
        # Apache would pass "/etc/pelk.ini" to whirlo32 as its data file,
        # which whirlo32 deletes: it must not be reachable at all.
        self.assertRegex(self.get(port, "/cgi-win/whirlo32?/etc/pelk.ini")[:20],
                         rb" 40[34] ")
        self.assertTrue(os.path.exists("/etc/pelk.ini"))

    def serve_through_nginx(self, name, start_service):
        """nginx with the snippet passing to the FastCGI service name, which
        start_service() starts and whose stop() gives its exit code: every
        query byte for byte, paced; a service with a runtime folder leaves
        nothing in it."""
        service = start_service()
        try:
            port = self.start(functools.partial(nginx_server,
                                                snippet=nginx_snippet(name, self.logs)))
            self.assert_serves(port)
            self.assert_streams(port)
            temp = getattr(service, "temp", None)
            if temp:  # the last folder goes after its reply
                self.assertTrue(wait_until(lambda: os.listdir(temp) == [], 5),
                                os.listdir(temp))
        finally:
            self.assertEqual(service.stop(), 0)

    def test_nginx_serves_through_whirlo32_fastcgi(self):
        journal = os.path.join(self.logs, "whirlo32-fastcgi-journal.log")
        self.serve_through_nginx("whirlo32-fastcgi",
                                 lambda: ActivatedService("whirlo32-fastcgi", journal))

    def test_nginx_serves_through_the_bridges_fastcgi_service(self):
        journal = os.path.join(self.logs, "wincgi-bridge-journal.log")
        self.serve_through_nginx("wincgi-bridge",
                                 lambda: ActivatedService("wincgi-bridge", journal))

    def test_nginx_serves_through_spawn_fcgi_as_the_readme_says(self):
        # The README's lines for FastCGI without systemd, run as they stand.
        blocks = spawn_fcgi_blocks()
        self.assertEqual(len(blocks), len(SERVICES), blocks)
        for lines in blocks:
            with self.subTest(block=lines[-1]):
                spawned = ReadmeSpawned(lines, os.path.join(self.logs, "spawn-fcgi.log"))
                name = [name for name in SERVICES if unit_settings(
                    UNITS + name + ".socket")["ListenStream"][0] == spawned.path]
                self.assertEqual(len(name), 1, "no unit listens on " + spawned.path)
                self.serve_through_nginx(name[0], lambda: spawned)

    def test_systemd_units_verify(self):
        units = [UNITS + name + kind for name in SERVICES
                 for kind in (".socket", ".service")]
        done = subprocess.run(["systemd-analyze", "verify", "--man=no"] + units,
                              capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stdout + done.stderr), (0, ""))


class OperatorMistakes(ServingCase):
    """Each mistake an operator makes with the installed package says what
    it is in the log where the server puts its messages."""

    def test_apache_without_a_cgi_module_says_what_to_enable(self):
        for module in ("cgid", "cgi"):
            if subprocess.run(["a2query", "-q", "-m", module]).returncode == 0:
                run("a2dismod", "-q", "-f", module)
                self.addCleanup(run, "a2enmod", "-q", module)
        done = subprocess.run(["/usr/sbin/apache2", "-d", "/etc/apache2", "-f",
                               apache_config(self.logs, free_port()), "-t"],
                              env=apache_environment(self.logs), capture_output=True,
                              text=True)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("whirlo32.conf needs a CGI module: run 'a2enmod cgid'", done.stderr)

    def test_misconfiguration_under_lighttpd_reaches_its_error_log(self):
        port = self.start(lighttpd_server)
        self.break_configuration()
        query = "whirlo?.gif?D"
        self.assertEqual(body_of(self.get(port, cgi_target("nph-whirlo32.cgi", query))),
                         body_of(direct_output(query, MOZILLA)))
        # lighttpd passes a CGI program's standard error on to its own: the
        # journal under systemd, here its output log.
        self.assert_logged_apart(os.path.join(self.logs, "lighttpd-output.log"), query)

    def test_misconfiguration_under_apache_reaches_its_error_log(self):
        self.enable_cgid()
        port = self.start(apache_server)
        self.break_configuration()
        query = "whirlo?.gif?D?loop=2"
        self.assertEqual(self.get(port, cgi_target("nph-whirlo32.cgi", query)),
                         direct_output(query, MOZILLA))
        self.assert_logged_apart(os.path.join(self.logs, "error.log"), query)

    def test_misconfiguration_under_a_fastcgi_service_reaches_its_journal(self):
        self.break_configuration()
        for name in SERVICES:
            with self.subTest(service=name):
                journal = os.path.join(self.logs, name + "-mistake-journal.log")
                service = ActivatedService(name, journal)
                try:
                    port = self.start(functools.partial(
                        nginx_server, snippet=nginx_snippet(name, self.logs)))
                    query = "whirlo?.gif?D"
                    self.get(port, cgi_target("nph-whirlo32.cgi", query))
                    self.assert_logged_apart(journal, query, name)
                finally:
                    self.assertEqual(service.stop(), 0)

    def test_check_as_the_serving_user_names_the_mistake(self):
        self.break_configuration()
        done = subprocess.run(["/usr/sbin/wincgi-bridge", "--check", CGIDIR + "/whirlo32.cgi"],
                              capture_output=True, text=True, user="www-data", cwd="/")
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("configuration: /etc/pelk.ini (the Windows directory's), readable\n"
                      "  Animation Path=/srv/no-such-folder/\n", done.stdout)
        self.assertIn("problem: no frame /srv/no-such-folder/Whirlo1.GIF", done.stdout)
        self.write_pelk(self.pelk)
        done = subprocess.run(["/usr/sbin/wincgi-bridge", "--check", CGIDIR + "/whirlo32.cgi"],
                              capture_output=True, text=True, user="www-data", cwd="/")
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertIn("demonstration frames: 13 found", done.stdout)


class Removal(unittest.TestCase):
    """Removing keeps exactly the conffiles and disables the Apache snippet
    until the package comes back; purging leaves nothing."""

    @classmethod
    def setUpClass(cls):
        cls.files = run("dpkg-query", "-L", PACKAGE).split()

    def left(self):
        """What of the package is there that was not before it came."""
        return {path for path in self.files
                if exists(path) and path not in PREEXISTING}

    def apache_enabled(self):
        return subprocess.run(["a2query", "-q", "-c", "whirlo32"]).returncode == 0

    def test_remove_reinstall_purge(self):
        run("dpkg", "--remove", PACKAGE)
        self.assertEqual({path for path in self.left() if not os.path.isdir(path)},
                         CONFFILES)
        self.assertTrue(exists(LIGHTTPD_LINK))
        for link in SYSTEMD_LINKS:
            self.assertTrue(exists(link), link)
        self.assertFalse(self.apache_enabled())
        run("dpkg", "-i", DEB)
        self.assertTrue(self.apache_enabled())
        run("dpkg", "--remove", PACKAGE)
        run("dpkg", "--purge", PACKAGE)
        self.assertFalse(installed())
        self.assertEqual(self.left(), set())
        for path in [LIGHTTPD_LINK, APACHE_LINK] + SYSTEMD_LINKS + [
                "/var/lib/apache2/conf/enabled_by_admin/whirlo32",
                "/var/lib/apache2/conf/disabled_by_maint/whirlo32"]:
            self.assertFalse(exists(path), path)
        state = "/var/lib/systemd/deb-systemd-helper-enabled"
        self.assertEqual([name for name in os.listdir(state)
                          if any(service in name for service in SERVICES)], [])
        info = [name for name in os.listdir("/var/lib/dpkg/info")
                if name.startswith(PACKAGE + ".")]
        self.assertEqual(info, [])


def build_package(folder):
    run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
        "-B", folder)
    debs = [name for name in os.listdir(folder) if name.endswith(".deb")]
    if len(debs) != 1:
        raise AssertionError("cpack made %s" % debs)
    return os.path.join(folder, debs[0])


TOOLS = ("cpack", "dpkg-deb", "dpkg-shlibdeps", "lintian", "lighttpd",
         "lighty-enable-mod", "apache2", "a2enconf", "nginx", "systemctl",
         "systemd-analyze")
DEB = None
PREEXISTING = set()  # package paths that were there before dpkg -i


def setUpModule():
    global BUILD, DEB
    BUILD = given("build")
    if os.geteuid() != 0:
        raise RuntimeError("the package test installs a package: run it as root")
    os.environ["PATH"] += ":/usr/sbin:/sbin"
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        raise RuntimeError("missing (Debian packages): %s" % ", ".join(missing))
    out = tempfile.mkdtemp(prefix="whirlo-deb-")
    unittest.addModuleCleanup(shutil.rmtree, out, True)
    # Purged first too, when a run before this one left it installed.
    unittest.addModuleCleanup(purge)
    purge()
    DEB = build_package(out)


def load_tests(loader, tests, pattern):
    """The cases in the order they change the machine: the file, a prefix
    install, installed and served, mistakes, removal."""
    return unittest.TestSuite(loader.loadTestsFromTestCase(case)
                              for case in (PackageFile, InstallPrefix, Installed,
                                           OperatorMistakes, Removal))
