"""What tools/serve, the benchmarks and the tests share for talking to web
servers on 127.0.0.1: free ports, waiting for a listener, a raw HTTP/1.0
GET, the body of a response, and a server process that is started in a
session of its own with its output in a log and stopped whatever state it
is in.

A free port is only free when it is chosen: another program (a client's
ephemeral port, another test's server) may take it before our server binds
it. A server that ends before it listens raises ServerExited, and
on_free_port then starts it again on another port; a listener on our port
counts only when it belongs to our server's session (Linux: /proc)."""

import concurrent.futures
import os
import shutil
import socket
import subprocess
import time

MOZILLA = "Mozilla/5.0 (X11; Linux x86_64)"


def find_server(*names):
    """The first of names on PATH or in the system folders; servers live in
    /usr/sbin, which an ordinary user's PATH may lack."""
    for name in names:
        path = shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin")
        if path:
            return path
    raise RuntimeError("%s is not installed (Debian package)" % names[0])


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def port_is_free(port):
    """Whether a server could listen on port (servers set SO_REUSEADDR, so
    connections of an earlier run in TIME_WAIT do not count)."""
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def connects(address):
    """Whether something listens at address: a port of 127.0.0.1, or the
    path of a unix socket."""
    family = socket.AF_INET if isinstance(address, int) else socket.AF_UNIX
    with socket.socket(family) as probe:
        probe.settimeout(0.5)
        target = ("127.0.0.1", address) if family == socket.AF_INET else address
        return probe.connect_ex(target) == 0


def session_sockets(session):
    """The inodes of the sockets that processes of a session hold open;
    None when /proc does not list them. Processes come and go while we
    read: one that ends meanwhile holds nothing."""
    if not os.path.isdir("/proc/self/fd"):
        return None
    inodes = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as handle:
                fields = handle.read().rsplit(")", 1)[1].split()
            if int(fields[3]) != session:
                continue
            for fd in os.listdir("/proc/%s/fd" % pid):
                target = os.readlink("/proc/%s/fd/%s" % (pid, fd))
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except (OSError, IndexError, ValueError):
            continue
    return inodes


def listening_inodes(port):
    """The inodes of the TCP sockets listening on port; None without /proc."""
    inodes, found = set(), False
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as handle:
                rows = handle.read().splitlines()[1:]
        except OSError:
            continue
        found = True
        for row in rows:
            fields = row.split()
            if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                inodes.add(fields[9])
    return inodes if found else None


def listens_in_session(process, port):
    """Whether the listener on port belongs to process's session (it was
    started in a session of its own); True where /proc cannot tell."""
    listeners = listening_inodes(port)
    ours = session_sockets(process.pid)
    if listeners is None or ours is None:
        return True
    return bool(listeners & ours)


def process_gone(pid):
    """Whether process pid has ended: no such process, or a zombie."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    except PermissionError:
        pass  # it exists, as another user
    try:
        with open("/proc/%d/stat" % pid) as handle:
            return handle.read().rsplit(")", 1)[1].split()[0] == "Z"
    except (FileNotFoundError, ProcessLookupError):  # ended meanwhile
        return True
    except OSError:
        return False  # no /proc: it exists


def wait_until(condition, timeout=20):
    """Polls condition until it holds (True) or time runs out (False). The
    time is generous: on a loaded machine a process takes a while to end,
    and a condition that holds costs no waiting."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


class ServerExited(RuntimeError):
    """The server ended before it listened (its port may have been taken)."""


def wait_for_port(address, process, timeout=20, what="server"):
    """Waits until process listens at address (see connects; a port must
    be listened on by process's session); raises ServerExited when it ends
    first, RuntimeError when time runs out."""
    def ours():
        return connects(address) and (not isinstance(address, int)
                                      or listens_in_session(process, address))
    if not wait_until(lambda: process.poll() is not None or ours(), timeout):
        raise RuntimeError("%s did not listen on %s" % (what, address))
    if process.poll() is not None:
        raise ServerExited("%s exited with code %d" % (what, process.returncode))


def on_free_port(start, attempts=3):
    """start(port) on a free port, again on another one when the server
    ended before it listened; what start returns. The last failure is
    raised: a server that cannot start fails every attempt."""
    for attempt in range(attempts):
        try:
            return start(free_port())
        except ServerExited:
            if attempt == attempts - 1:
                raise


def http_get(port, target, agent=MOZILLA, timeout=30, headers=""):
    """Sends an HTTP/1.0 GET and returns the raw response bytes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as conn:
        conn.sendall(("GET %s HTTP/1.0\r\nHost: 127.0.0.1:%d\r\nUser-Agent: %s\r\n"
                      "%s\r\n" % (target, port, agent, headers)).encode("latin-1"))
        chunks = []
        while chunk := conn.recv(65536):
            chunks.append(chunk)
    return b"".join(chunks)


def http_get_all(port, asked):
    """http_get for every (target, agent) of asked at once, as paced
    responses spend most of their time waiting: the responses in the same
    order, each a future (its result() raises what its request raised)."""
    with concurrent.futures.ThreadPoolExecutor(max(1, len(asked))) as pool:
        return [pool.submit(http_get, port, target, agent) for target, agent in asked]


def body_of(response):
    """The body of an HTTP response or CGI output: what follows the first
    empty line (LF or CRLF ends)."""
    ends = [at + len(sep) for sep in (b"\n\n", b"\n\r\n")
            for at in [response.find(sep)] if at >= 0]
    return response[min(ends):] if ends else b""


def stop(process):
    """Ends a process we started, whatever state it is in; its exit code."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode


def read_logs(*paths):
    text = ""
    for path in paths:
        if path and os.path.exists(path):
            with open(path, errors="replace") as handle:
                text += handle.read()
    return text


class Server:
    """A server process listening at address (see connects), started in a
    session of its own: Apache signals its whole process group when it
    stops, and Ctrl-C must reach only us, who stop it. Its standard output
    and error go to log (appended), or stay ours when log is None. When it
    does not come up, the error quotes the logs named in quote (default:
    log), the server's own error log, say. With ready, it is up only once
    its logs show that text too, written after this start (for a server
    that says when it has set itself up after it began listening)."""

    def __init__(self, command, address, log=None, env=None, what=None,
                 timeout=20, quote=None, cwd=None, ready=None):
        self.address = address
        self.logs = quote if quote is not None else [log]
        output = open(log, "ab") if log else None
        said_before = len(self.log()) if ready else 0
        self.process = subprocess.Popen(
            command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=output,
            stderr=subprocess.STDOUT if output else None, start_new_session=True)
        if output:
            output.close()
        try:
            what = what or os.path.basename(command[0])
            wait_for_port(address, self.process, timeout, what)
            if ready and not wait_until(
                    lambda: ready in self.log()[said_before:]
                    or self.process.poll() is not None,
                    timeout) or self.process.poll() is not None:
                raise RuntimeError("%s did not say %r" % (what, ready))
        except RuntimeError as error:
            self.stop()
            raise type(error)("%s\n%s" % (error, self.log())) from None

    @property
    def pid(self):
        return self.process.pid

    def log(self):
        return read_logs(*self.logs)

    def wait(self):
        return self.process.wait()

    def stop(self):
        return stop(self.process)
