"""Paced viewers: N clients start evenly over a spread of seconds, each
requests one server-push stream and notes when each boundary line arrives.
A part gap is the time between two boundaries that end parts; the first
boundary, right after the header, opens the first part.

The clients are spread over a few processes, each one epoll loop over
non-blocking sockets. Arrival times are the kernel's receive timestamps
(SO_TIMESTAMPNS: when the bytes reached the client's socket), so a client
that reads late does not stretch the gaps; how late the clients read
(their lag) and the CPU they used are reported beside the gaps. The
client processes run at the lowest priority (nice 19 unless told), so
that on a busy machine they take the CPU the servers leave, not theirs."""
import array
import errno
import multiprocessing
import multiprocessing.connection
import os
import resource
import select
import socket
import statistics
import struct
import time

from stack import AGENT

SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)  # Linux's number
STAMP_SPACE = socket.CMSG_SPACE(16)
READ = 65536


def boundary_of(header):
    for line in header.split(b"\n"):
        if line.lower().startswith(b"content-type:") and b"boundary=" in line:
            return line.split(b"boundary=", 1)[1].strip().strip(b'"')
    return None


class Viewer:
    __slots__ = ("sock", "start", "connected", "header", "marker", "carry",
                 "seen", "ends", "error", "finished")

    def __init__(self, start):
        self.start = start
        self.sock = None
        self.connected = False
        self.header = b""
        self.marker = None
        self.carry = b"\n"  # the header's last line feed precedes the boundary
        self.seen = 0
        self.ends = array.array("d")  # arrival of the boundaries that end parts
        self.error = None
        self.finished = None


def stamp_of(ancillary, fallback):
    for level, kind, data in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS:
            seconds, nanoseconds = struct.unpack("qq", data[:16])
            return seconds + nanoseconds * 1e-9
    return fallback


def body(viewer, chunk, stamp):
    text = viewer.carry + chunk
    for _ in range(text.count(viewer.marker)):
        if viewer.seen:
            viewer.ends.append(stamp)
        viewer.seen += 1
    viewer.carry = text[-(len(viewer.marker) - 1):]


def client(port, target, starts, parts, deadline, results, nice):
    """One client process: a viewer for each start time (wall clock);
    sends its figures through `results` (a pipe's end)."""
    os.nice(nice)
    raise_file_limit(len(starts) + 64)
    request = (f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1\r\n"
               f"User-Agent: {AGENT}\r\n\r\n").encode()
    viewers = [Viewer(s) for s in starts]
    waiting = list(reversed(viewers))  # next to start last
    by_fd = {}
    poll = select.epoll()
    lags = array.array("d")  # when a read came after the bytes arrived, s
    ends = 0

    def end(viewer, error=None):
        nonlocal ends
        viewer.error = viewer.error or error
        viewer.finished = time.time()
        fd = viewer.sock.fileno()
        poll.unregister(fd)
        del by_fd[fd]
        viewer.sock.close()
        ends += 1

    while ends < len(viewers):
        now = time.time()
        if now > deadline:
            for viewer in list(by_fd.values()):
                end(viewer, "still open at the deadline")
            for viewer in waiting:
                viewer.error = "never started"
            break
        while waiting and waiting[-1].start <= now:
            viewer = waiting.pop()
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sock.setblocking(False)
            sock.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
            viewer.sock = sock
            by_fd[sock.fileno()] = viewer
            code = sock.connect_ex(("127.0.0.1", port))
            if code not in (0, errno.EINPROGRESS):
                end(viewer, os.strerror(code))
                continue
            poll.register(sock.fileno(), select.EPOLLOUT)
        timeout = 0.5
        if waiting:
            timeout = min(timeout, max(0.0, waiting[-1].start - now))
        for fd, _ in poll.poll(timeout):
            viewer = by_fd.get(fd)
            if viewer is None:
                continue
            if not viewer.connected:
                code = viewer.sock.getsockopt(socket.SOL_SOCKET,
                                              socket.SO_ERROR)
                if code:
                    end(viewer, os.strerror(code))
                    continue
                viewer.connected = True
                viewer.sock.send(request)  # a few bytes: the buffer takes them
                poll.modify(fd, select.EPOLLIN)
                continue
            try:
                chunk, ancillary, _, _ = viewer.sock.recvmsg(READ, STAMP_SPACE)
            except BlockingIOError:
                continue
            except OSError as error:
                end(viewer, str(error))
                continue
            now = time.time()
            if not chunk:
                end(viewer, None if viewer.marker else "no header")
                continue
            stamp = stamp_of(ancillary, now)
            lags.append(now - stamp)
            if viewer.marker is None:
                viewer.header += chunk
                at = viewer.header.find(b"\r\n\r\n")
                if at < 0:
                    continue
                marker = boundary_of(viewer.header[:at + 4])
                if marker is None:
                    end(viewer, "not a server-push stream: %r"
                        % viewer.header[:80])
                    continue
                viewer.marker = b"\n--" + marker
                chunk = viewer.header[at + 4:]
                viewer.header = b""
            body(viewer, chunk, stamp)
    usage = resource.getrusage(resource.RUSAGE_SELF)
    gaps, times = array.array("d"), array.array("d")
    for viewer in viewers:
        gaps.extend((b - a) * 1e3 for a, b in zip(viewer.ends, viewer.ends[1:]))
        times.extend(viewer.ends[1:])
    results.send({
        "gaps": gaps.tobytes(), "times": times.tobytes(),
        "lags": lags.tobytes(),
        "short": sum(1 for v in viewers if v.error or len(v.ends) != parts),
        "errors": [v.error for v in viewers if v.error],
        "finished": max((v.finished or 0) for v in viewers),
        "cpu_s": usage.ru_utime + usage.ru_stime,
    })
    results.close()


def raise_file_limit(count):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = min(hard, max(soft, count + 256))
    resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))


def percentile(values, fraction):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def run(port, target, count, spread, parts, processes=2, watch=None,
        nice=19):
    """Figures of one crowd: gaps in ms, run length in s, failures, the
    clients' own CPU and lag. `watch`, when given, is called about every
    quarter second while the crowd runs (a sampler of the server)."""
    context = multiprocessing.get_context("fork")
    begin = time.time() + 0.5  # every client process is up by then
    deadline = begin + spread + parts * 2.0 + 60
    starts = [begin + spread * i / count for i in range(count)]
    children = []
    for p in range(processes):
        receive, send = context.Pipe(duplex=False)
        child = context.Process(target=client, args=(
            port, target, starts[p::processes], parts, deadline, send,
            nice))
        child.start()
        send.close()
        children.append((child, receive))
    pending = [r for _, r in children]
    figures = []
    while pending:
        for ready in multiprocessing.connection.wait(pending, timeout=0.25):
            figures.append(ready.recv())
            pending.remove(ready)
        if watch:
            watch()
    for child, _ in children:
        child.join()
    gaps, lags, errors = array.array("d"), array.array("d"), []
    times = array.array("d")
    for f in figures:
        gaps.frombytes(f["gaps"])
        times.frombytes(f["times"])
        lags.frombytes(f["lags"])
        errors += f["errors"]
    # p99 of the gaps that ended in each five seconds of the run
    windows = {}
    for gap, at in zip(gaps, times):
        windows.setdefault(int((at - begin) // 5) * 5, []).append(gap)
    return {"viewers": count, "client_processes": processes,
            "gap_p99_by_5s": {k: round(percentile(v, 0.99), 1)
                              for k, v in sorted(windows.items())},
            "length_s": max(f["finished"] for f in figures) - begin,
            "gap_p50_ms": statistics.median(gaps) if gaps else float("nan"),
            "gap_p99_ms": percentile(gaps, 0.99),
            "gap_max_ms": max(gaps, default=float("nan")),
            "incomplete": sum(f["short"] for f in figures),
            "first_error": errors[0] if errors else None,
            "client_cpu_s": sum(f["cpu_s"] for f in figures),
            "client_lag_p99_ms": percentile(lags, 0.99) * 1e3,
            "client_lag_max_ms": max(lags, default=float("nan")) * 1e3}
