"""The whole stack for the serving benchmarks: a folder tree with whirlo32,
the bridge, the static one-process floor and a static copy of the response,
lighttpd on a free port of 127.0.0.1 in front of it, and the bridge's
FastCGI mode as one long-running process behind it."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "tools"))
from webstack import MOZILLA as AGENT, Server, body_of, find_server, free_port  # noqa: E402

DEMO_FRAMES = [f"whirlo{n}.gif" for n in range(1, 14)]

# Paths on the server for each way of answering the same request.
TARGETS = {
    "CGI mode": "/cgi-bin/whirlo32.cgi",
    "FastCGI mode": "/fcgi-bin/whirlo32.cgi",
    "static C floor": "/cgi-bin/floor.cgi",
    "static file": "/static/demo.response",
}


class Site:
    def __init__(self, root, repo, whirlo, bridge, floor, temp=None):
        """temp: where the bridge makes its private folders (a fresh
        folder in it), else in root."""
        self.root = root
        self.bridge = bridge
        self.cgi = self.folder("cgi-bin")
        self.anim = self.folder("anim")
        self.static = self.folder("static")
        self.temp = (tempfile.mkdtemp(prefix="whirlo-temp-", dir=temp)
                     if temp else self.folder("temp"))
        for name in DEMO_FRAMES:
            shutil.copy(os.path.join(repo, "dist", "frames", name), self.anim)
        shutil.copy(whirlo, os.path.join(self.cgi, "whirlo32"))
        shutil.copy(bridge, os.path.join(self.cgi, "whirlo32.cgi"))
        shutil.copy(floor, os.path.join(self.cgi, "floor.cgi"))
        with open(os.path.join(self.cgi, "pelk.ini"), "w") as f:
            f.write(f"[Whirl]\nAnimation Path={self.anim}/\nAllow Only=\n"
                    "Allow Viewer=Mozilla\n")
        self.socket = os.path.join(root, "bridge.socket")
        self.server = self.fastcgi = None
        self.port = 0

    def folder(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return path

    def cgi_output(self, query=""):
        """What the bridge's CGI mode writes for the demonstration, run by
        hand: the floor and the static file serve these same bytes."""
        env = {"PATH": "/usr/bin:/bin", "GATEWAY_INTERFACE": "CGI/1.1",
               "REQUEST_METHOD": "GET", "QUERY_STRING": query,
               "SERVER_PROTOCOL": "HTTP/1.0", "HTTP_USER_AGENT": AGENT,
               "WINCGI_TEMP": self.temp}
        done = subprocess.run([os.path.join(self.cgi, "whirlo32.cgi")],
                              cwd=self.cgi, env=env, capture_output=True,
                              check=True)
        return done.stdout

    def prepare_floor(self):
        output = self.cgi_output()
        with open(os.path.join(self.cgi, "floor.response"), "wb") as f:
            f.write(output)
        with open(os.path.join(self.static, "demo.response"), "wb") as f:
            f.write(body_of(output))
        return output

    def settings(self, interval):
        return {"WINCGI_FRAME_INTERVAL": str(interval),
                "WINCGI_TEMP": self.temp, "WINCGI_TIMEOUT": "120"}

    def config(self, interval):
        env = ", ".join(f'"{k}" => "{v}"'
                        for k, v in self.settings(interval).items())
        return f"""server.modules = ("mod_alias", "mod_cgi", "mod_fastcgi",
                  "mod_setenv")
server.bind = "127.0.0.1"
server.port = {self.port}
server.document-root = "{self.static}"
server.errorlog = "{self.root}/lighttpd-error.log"
server.stream-response-body = 2
server.max-fds = 16384
server.max-connections = 8000
server.listen-backlog = 4096
mimetype.assign = (".response" => "application/octet-stream")
alias.url = ("/cgi-bin/" => "{self.cgi}/", "/fcgi-bin/" => "{self.cgi}/",
             "/static/" => "{self.static}/")
$HTTP["url"] =~ "^/cgi-bin/" {{ cgi.assign = (".cgi" => "") }}
$HTTP["url"] =~ "^/fcgi-bin/" {{
  fastcgi.server = (".cgi" => (("socket" => "{self.socket}",
                                 "check-local" => "disable")))
}}
setenv.add-environment = ({env})
"""

    def start(self, interval):
        """lighttpd, and the bridge's FastCGI mode when this build has it
        (False when it does not)."""
        self.stop()
        with_fastcgi = self.start_fastcgi(interval)
        self.port = free_port()
        conf = os.path.join(self.root, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write(self.config(interval))
        self.server = Server([find_server("lighttpd"), "-D", "-f", conf], self.port)
        return with_fastcgi

    def start_fastcgi(self, interval):
        env = dict(self.settings(interval), PATH="/usr/bin:/bin")
        if os.path.exists(self.socket):
            os.remove(self.socket)
        try:
            # --allow-root: the benchmarks may run as root, like CI.
            self.fastcgi = Server([self.bridge, "--fastcgi", "unix:" + self.socket,
                                   "--program", os.path.join(self.cgi, "whirlo32"),
                                   "--allow-root"],
                                  self.socket, os.path.join(self.root, "fastcgi.log"),
                                  env, "the bridge's FastCGI mode", timeout=5)
            return True
        except RuntimeError:
            return False

    def stop(self):
        for server in (self.server, self.fastcgi):
            if server:
                server.stop()
        self.server = self.fastcgi = None

    def remove(self):
        self.stop()
        if not self.temp.startswith(self.root + "/"):
            shutil.rmtree(self.temp, ignore_errors=True)

    def server_cpu(self):
        """CPU seconds of lighttpd and the FastCGI bridge so far, with
        those of their ended children (the CGI runs and the programs)."""
        total = 0
        for process in (self.server, self.fastcgi):
            if process:
                with open(f"/proc/{process.pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                total += sum(int(x) for x in fields[11:15])
        return total / os.sysconf("SC_CLK_TCK")

    def leftovers(self):
        return os.listdir(self.temp)
