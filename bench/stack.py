"""The whole stack for the serving benchmarks: a folder tree with whirlo32,
the bridge, whirlo32-fastcgi, the static one-process floor and a static
copy of the response; lighttpd and nginx on free ports of 127.0.0.1 in
front of it; behind them the bridge's FastCGI mode and whirlo32-fastcgi,
each one long-running process on a unix socket, and for nginx, which runs
no CGI itself, fcgiwrap for the CGI programs."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "tools"))
from webstack import MOZILLA as AGENT, Server, body_of, find_server, free_port  # noqa: E402

DEMO_FRAMES = [f"whirlo{n}.gif" for n in range(1, 14)]

# Paths on the server for each way of answering the same request.
TARGETS = {
    "CGI mode": "/cgi-bin/whirlo32.cgi",
    "FastCGI mode": "/fcgi-bin/whirlo32.cgi",
    "whirlo32-fastcgi": "/play/whirlo32",
    "static C floor": "/cgi-bin/floor.cgi",
    "static file": "/static/demo.response",
}
SERVERS = ("lighttpd", "nginx")

# Bounds for thousands of streams at once: the services' connections and
# the web servers' descriptors (the benchmark raises its own descriptor
# limit, which every process it starts inherits).
MAX_CONNECTIONS = 12000
MAX_FDS = 16384


def descriptor_limit():
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return hard


def session_stats(session):
    """(pid, CPU ticks with those of reaped children) of each process of a
    session (a server started in a session of its own)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[3]) == session:
            found.append((int(pid), sum(int(x) for x in fields[11:15])))
    return found


class CpuGroup:
    """CPU time of the server side, from a control group of its own that
    every server's processes join once they listen (their children are
    born in it): it counts programs whose parent never waits for them,
    as fcgiwrap does. Where no group can be made, the sum over the
    servers' sessions of their processes with their reaped children."""

    PLACES = (("/sys/fs/cgroup/cpuacct", "cpuacct.usage", 1e-9),
              ("/sys/fs/cgroup", "cpu.stat", 1e-6),
              ("/sys/fs/cgroup/unified", "cpu.stat", 1e-6))

    def __init__(self):
        self.path = self.counter = None
        for base, counter, unit in self.PLACES:
            path = os.path.join(base, f"whirlo-bench-{os.getpid()}-{id(self):x}")
            if not os.path.exists(os.path.join(base, counter)):
                continue
            try:
                os.mkdir(path)
            except OSError:
                continue
            if os.path.exists(os.path.join(path, counter)):
                self.path, self.counter, self.unit = path, counter, unit
                break
            os.rmdir(path)
        self.how = ("control group " + self.path if self.path else
                    "processes of the servers' sessions and their reaped "
                    "children")

    def join(self, session):
        if not self.path:
            return
        for pid, _ in session_stats(session):
            try:
                with open(os.path.join(self.path, "cgroup.procs"), "w") as f:
                    f.write(str(pid))
            except OSError:
                pass  # it ended meanwhile

    def seconds(self, sessions):
        if not self.path:
            return sum(t for s in sessions for _, t in session_stats(s)) / \
                os.sysconf("SC_CLK_TCK")
        with open(os.path.join(self.path, self.counter)) as f:
            text = f.read()
        if self.counter == "cpu.stat":
            text = text.split("usage_usec", 1)[1].split()[0]
        return int(text.split()[0]) * self.unit

    def remove(self):
        if self.path:
            for _ in range(50):  # killed processes leave it soon after
                try:
                    os.rmdir(self.path)
                    return
                except OSError:
                    time.sleep(0.1)


class Site:
    def __init__(self, root, repo, whirlo, bridge, player, floor, temp=None):
        """temp: where the bridge makes its private folders (a fresh
        folder in it), else in root. player: whirlo32-fastcgi, or None."""
        self.root = root
        self.bridge = bridge
        self.player = player
        self.cgi = self.folder("cgi-bin")
        self.anim = self.folder("anim")
        self.static = self.folder("static")
        self.nginx_prefix = self.folder("nginx")
        self.temp = (tempfile.mkdtemp(prefix="whirlo-temp-", dir=temp)
                     if temp else self.folder("temp"))
        for name in DEMO_FRAMES:
            shutil.copy(os.path.join(repo, "dist", "frames", name), self.anim)
        shutil.copy(whirlo, os.path.join(self.cgi, "whirlo32"))
        shutil.copy(bridge, os.path.join(self.cgi, "whirlo32.cgi"))
        shutil.copy(floor, os.path.join(self.cgi, "floor.cgi"))
        self.config_file = os.path.join(self.cgi, "pelk.ini")
        with open(self.config_file, "w") as f:
            f.write(f"[Whirl]\nAnimation Path={self.anim}/\nAllow Only=\n"
                    "Allow Viewer=Mozilla\n")
        self.socket = os.path.join(root, "bridge.socket")
        self.player_socket = os.path.join(root, "player.socket")
        self.wrap_socket = os.path.join(root, "fcgiwrap.socket")
        self.servers = {}   # web server name -> Server
        self.ports = {}     # web server name -> port
        self.backends = {}  # "bridge", "player", "fcgiwrap" -> Server
        self.limit = descriptor_limit()
        self.cpu = CpuGroup()

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

    def lighttpd_config(self, interval, port):
        env = ", ".join(f'"{k}" => "{v}"'
                        for k, v in self.settings(interval).items())
        return f"""server.modules = ("mod_alias", "mod_cgi", "mod_fastcgi",
                  "mod_setenv")
server.bind = "127.0.0.1"
server.port = {port}
server.document-root = "{self.static}"
server.errorlog = "{self.root}/lighttpd-error.log"
server.stream-response-body = 2
server.max-fds = {MAX_FDS}
server.max-connections = {MAX_CONNECTIONS // 2}
server.listen-backlog = 4096
mimetype.assign = (".response" => "application/octet-stream")
alias.url = ("/cgi-bin/" => "{self.cgi}/", "/fcgi-bin/" => "{self.cgi}/",
             "/static/" => "{self.static}/")
$HTTP["url"] =~ "^/cgi-bin/" {{ cgi.assign = (".cgi" => "") }}
$HTTP["url"] =~ "^/fcgi-bin/" {{
  fastcgi.server = (".cgi" => (("socket" => "{self.socket}",
                                 "check-local" => "disable")))
}}
$HTTP["url"] =~ "^/play/" {{
  fastcgi.server = ("/play/" => (("socket" => "{self.player_socket}",
                                  "check-local" => "disable")))
}}
setenv.add-environment = ({env})
"""

    def nginx_config(self, interval, port):
        """nginx as Debian ships it, but on our port and folders: as many
        workers as cores, no access log, responses of the FastCGI services
        passed on as they come (as lighttpd's stream-response-body = 2)."""
        params = "".join(f"    fastcgi_param {k} {v};\n"
                         for k, v in self.settings(interval).items())
        fastcgi = ("    include /etc/nginx/fastcgi_params;\n"
                   "    fastcgi_buffering off;\n" + params)
        user = "user root;\n" if os.getuid() == 0 else ""
        temp = os.path.join(self.nginx_prefix, "temp")
        return f"""{user}worker_processes auto;
worker_rlimit_nofile {min(self.limit, MAX_FDS + 1000)};
pid {self.nginx_prefix}/nginx.pid;
error_log {self.root}/nginx-error.log;
events {{ worker_connections {MAX_FDS}; }}
http {{
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path {temp}/body;
  fastcgi_temp_path {temp}/fastcgi;
  proxy_temp_path {temp}/proxy;
  uwsgi_temp_path {temp}/uwsgi;
  scgi_temp_path {temp}/scgi;
  server {{
    listen 127.0.0.1:{port} backlog=4096;
    location /static/ {{ alias {self.static}/; }}
    location ~ ^/cgi-bin/([^/]+)$ {{
{fastcgi}    fastcgi_param SCRIPT_FILENAME {self.cgi}/$1;
    fastcgi_pass unix:{self.wrap_socket};
    }}
    location /fcgi-bin/ {{
{fastcgi}    fastcgi_param SCRIPT_FILENAME {self.cgi}/whirlo32.cgi;
    fastcgi_pass unix:{self.socket};
    }}
    location /play/ {{
{fastcgi}    fastcgi_pass unix:{self.player_socket};
    }}
  }}
}}
"""

    def start(self, interval, servers=SERVERS):
        """The web servers named and every service behind them; False when
        this build has no FastCGI mode."""
        self.stop()
        with_fastcgi = self.start_backends(interval)
        for name in servers:
            port = free_port()
            if name == "lighttpd":
                conf = os.path.join(self.root, "lighttpd.conf")
                with open(conf, "w") as f:
                    f.write(self.lighttpd_config(interval, port))
                command = [find_server("lighttpd"), "-D", "-f", conf]
            else:
                os.makedirs(os.path.join(self.nginx_prefix, "temp"),
                            exist_ok=True)
                conf = os.path.join(self.root, "nginx.conf")
                with open(conf, "w") as f:
                    f.write(self.nginx_config(interval, port))
                command = [find_server("nginx"), "-p", self.nginx_prefix,
                           "-e", os.path.join(self.root, "nginx-error.log"),
                           "-c", conf, "-g", "daemon off;"]
            self.servers[name] = Server(command, port)
            self.ports[name] = port
        for server in list(self.servers.values()) + \
                list(self.backends.values()):
            self.cpu.join(server.pid)
        return with_fastcgi

    def start_backends(self, interval):
        env = dict(self.settings(interval), PATH="/usr/bin:/bin")
        for path in (self.socket, self.player_socket, self.wrap_socket):
            if os.path.exists(path):
                os.remove(path)
        # --allow-root: the benchmarks may run as root, like CI.
        limits = ["--allow-root", "--max-connections", str(MAX_CONNECTIONS)]
        self.backends["fcgiwrap"] = Server(
            [find_server("fcgiwrap"), "-c", "4", "-s",
             "unix:" + self.wrap_socket], self.wrap_socket,
            os.path.join(self.root, "fcgiwrap.log"), env, "fcgiwrap")
        if self.player:
            self.backends["player"] = Server(
                [self.player, "--fastcgi", "unix:" + self.player_socket,
                 "--config", self.config_file] + limits,
                self.player_socket, os.path.join(self.root, "player.log"),
                env, "whirlo32-fastcgi", timeout=5)
        try:
            self.backends["bridge"] = Server(
                [self.bridge, "--fastcgi", "unix:" + self.socket,
                 "--program", os.path.join(self.cgi, "whirlo32")] + limits,
                self.socket, os.path.join(self.root, "fastcgi.log"),
                env, "the bridge's FastCGI mode", timeout=5)
            return True
        except RuntimeError:
            return False

    def stop(self):
        for server in list(self.servers.values()) + list(self.backends.values()):
            server.stop()
            try:  # what outlives its leader (fcgiwrap's workers)
                os.killpg(server.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.servers, self.ports, self.backends = {}, {}, {}

    def remove(self):
        self.stop()
        self.cpu.remove()
        if not self.temp.startswith(self.root + "/"):
            shutil.rmtree(self.temp, ignore_errors=True)

    def server_cpu(self):
        """CPU seconds so far of the web servers and the services behind
        them, with those of their ended children (the CGI runs and the
        programs)."""
        return self.cpu.seconds(
            [s.pid for s in list(self.servers.values()) +
             list(self.backends.values())])

    def player_pid(self):
        return self.backends["player"].pid

    def leftovers(self):
        return os.listdir(self.temp)
