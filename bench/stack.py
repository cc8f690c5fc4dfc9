"""The whole stack for the serving benchmarks: a folder tree with whirlo32,
the bridge, the static one-process floor and a static copy of the response,
lighttpd on a free port of 127.0.0.1 in front of it, and the bridge's
FastCGI mode as one long-running process behind it."""
import os
import shutil
import socket
import subprocess
import tempfile
import time

DEMO_FRAMES = [f"whirlo{n}.gif" for n in range(1, 14)]
AGENT = "Mozilla/5.0 (X11; Linux x86_64)"

# Paths on the server for each way of answering the same request.
TARGETS = {
    "CGI mode": "/cgi-bin/whirlo32.cgi",
    "FastCGI mode": "/fcgi-bin/whirlo32.cgi",
    "static C floor": "/cgi-bin/floor.cgi",
    "static file": "/static/demo.response",
}


def find_lighttpd():
    path = shutil.which("lighttpd") or shutil.which("lighttpd",
                                                    path="/usr/sbin:/sbin")
    if not path:
        raise SystemExit("lighttpd is not installed (Debian package lighttpd)")
    return path


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def http_get(port, target, agent=AGENT):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as conn:
        conn.sendall(f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                     f"User-Agent: {agent}\r\n\r\n".encode())
        chunks = []
        while chunk := conn.recv(65536):
            chunks.append(chunk)
    return b"".join(chunks)


def body_of(response):
    """What follows the first empty line (LF or CR LF line ends)."""
    ends = [at + len(sep) for sep in (b"\n\n", b"\n\r\n")
            for at in [response.find(sep)] if at >= 0]
    return response[min(ends):] if ends else b""


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
        self.server = subprocess.Popen([find_lighttpd(), "-D", "-f", conf],
                                       stdin=subprocess.DEVNULL)
        wait_for(lambda: connects(self.port), self.server, "lighttpd")
        return with_fastcgi

    def start_fastcgi(self, interval):
        env = dict(self.settings(interval), PATH="/usr/bin:/bin")
        if os.path.exists(self.socket):
            os.remove(self.socket)
        self.fastcgi = subprocess.Popen(
            [self.bridge, "--fastcgi", "unix:" + self.socket], env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.root, "fastcgi.log"), "ab"))
        try:
            wait_for(lambda: os.path.exists(self.socket), self.fastcgi,
                     "the bridge's FastCGI mode", timeout=5)
            return True
        except RuntimeError:
            self.fastcgi.wait()
            self.fastcgi = None
            return False

    def stop(self):
        for process in (self.server, self.fastcgi):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
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


def connects(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        return True
    except OSError:
        return False


def wait_for(ready, process, what, timeout=20):
    deadline = time.monotonic() + timeout
    while not ready():
        if process.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError(f"{what} did not start")
        time.sleep(0.05)
