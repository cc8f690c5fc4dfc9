"""Paced viewers: N clients (asyncio, in this process) start evenly over a
spread of seconds, each requests one server-push stream and notes the time
at which each boundary line arrives. A part gap is the time between two
boundaries that end parts; the first boundary, right after the header,
opens the first part."""
import asyncio
import resource
import statistics

from stack import AGENT


class Viewer:
    def __init__(self):
        self.ends = []      # arrival times of the boundaries that end parts
        self.error = None
        self.started = self.finished = None


def boundary_of(header):
    for line in header.split(b"\n"):
        if line.lower().startswith(b"content-type:") and b"boundary=" in line:
            return line.split(b"boundary=", 1)[1].strip().strip(b'"')
    return None


async def view(port, target, viewer, clock):
    viewer.started = clock()
    writer = None
    try:
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                     f"User-Agent: {AGENT}\r\n\r\n".encode())
        header = await reader.readuntil(b"\r\n\r\n")
        marker = boundary_of(header)
        if marker is None:
            raise RuntimeError("not a server-push stream: %r" % header[:80])
        marker = b"\n--" + marker
        # The header's last line feed comes before the first boundary.
        seen, carry = 0, b"\n"
        while chunk := await reader.read(65536):
            now = clock()
            text = carry + chunk
            for _ in range(text.count(marker)):
                if seen:
                    viewer.ends.append(now)
                seen += 1
            carry = text[-(len(marker) - 1):]
    except (OSError, asyncio.IncompleteReadError, RuntimeError) as error:
        viewer.error = str(error) or type(error).__name__
    finally:
        viewer.finished = clock()
        if writer:
            writer.close()


async def crowd(port, target, count, spread):
    loop = asyncio.get_running_loop()
    clock = loop.time
    viewers = [Viewer() for _ in range(count)]
    start = clock()

    async def one(i, viewer):
        await asyncio.sleep(start + spread * i / count - clock())
        await view(port, target, viewer, clock)

    await asyncio.gather(*(one(i, v) for i, v in enumerate(viewers)))
    return viewers, clock() - start


def raise_file_limit(count):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = min(hard, max(soft, count + 256))
    resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))


def percentile(values, fraction):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def run(port, target, count, spread, parts):
    """Figures of one crowd: gaps in ms, run length in s, failures."""
    raise_file_limit(count)
    viewers, length = asyncio.run(crowd(port, target, count, spread))
    gaps = [(b - a) * 1e3 for v in viewers
            for a, b in zip(v.ends, v.ends[1:])]
    short = [v for v in viewers if v.error or len(v.ends) != parts]
    return {"viewers": count, "length_s": length,
            "gap_p50_ms": statistics.median(gaps) if gaps else float("nan"),
            "gap_p99_ms": percentile(gaps, 0.99),
            "gap_max_ms": max(gaps, default=float("nan")),
            "incomplete": len(short),
            "first_error": next((v.error for v in short if v.error), None)}
