#!/usr/bin/env python3
"""Measures the whole stack through lighttpd and nginx on 127.0.0.1:
requests per second for the demonstration through the bridge's CGI mode,
its FastCGI mode, whirlo32-fastcgi, a static one-process C CGI writing the
same bytes (the floor of one process per request) and the same bytes as a
static file, side by side; then crowds of paced viewers, with the part
gaps as the clients see them, the machine's CPU use and whirlo32-fastcgi's
memory.

Throughput is `ab` with a Mozilla user agent, every contender through
every web server interleaved round by round in rotating order; figures are
medians of the rounds."""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [HERE, os.path.join(ROOT, "tools")]
import stack  # noqa: E402
import webstack  # noqa: E402
import viewers  # noqa: E402

VIEWER_QUERY = "whirlo?.gif?U?loop=9"  # 13 frames played ten times
VIEWER_PARTS = 130
PLAYER = "whirlo32-fastcgi"
# Crowds: web server / contender / viewers / seconds over which they arrive.
CROWDS = ("lighttpd/CGI mode/1000/10,lighttpd/FastCGI mode/1000/10,"
          f"lighttpd/{PLAYER}/5000/20,nginx/{PLAYER}/5000/20")
# Shares of requests/s a contender must reach, against another contender
# through the same web server.
TARGETS = (("CGI mode", "static C floor", 0.5),
           ("FastCGI mode", "static C floor", 0.8),
           (PLAYER, "static C floor", 3.0),
           (PLAYER, "static file", 0.25))
MEMORY_PER_VIEWER = 64  # KiB beyond the shared frames


def ab(port, target, requests, concurrency):
    """Requests per second of one ab run; raises on failed requests."""
    done = subprocess.run(
        [shutil.which("ab"), "-q", "-n", str(requests), "-c",
         str(concurrency), "-H", "User-Agent: " + stack.AGENT,
         f"http://127.0.0.1:{port}{target}"],
        capture_output=True, text=True, check=False)
    rate = re.search(r"Requests per second:\s+([\d.]+)", done.stdout)
    failed = re.search(r"Failed requests:\s+(\d+)", done.stdout)
    non_2xx = re.search(r"Non-2xx responses:\s+(\d+)", done.stdout)
    if done.returncode or not rate or int(failed.group(1)) or non_2xx:
        raise SystemExit(f"ab on {target} failed:\n{done.stdout}{done.stderr}")
    return float(rate.group(1))


def check_bodies(site, pairs, expected):
    """Every contender answers the demonstration with the same body through
    every web server."""
    for server, name in pairs:
        body = webstack.body_of(webstack.http_get(site.ports[server],
                                                  stack.TARGETS[name]))
        if body != expected:
            raise SystemExit(f"{name} through {server}: body differs from "
                             f"whirlo32's ({len(body)} against "
                             f"{len(expected)} bytes)")


def throughput(site, rounds, requests, concurrency):
    output = site.prepare_floor()
    with_fastcgi = site.start(interval=0)
    pairs = [(server, name) for server in stack.SERVERS
             for name in stack.TARGETS
             if (with_fastcgi or name != "FastCGI mode")
             and (site.player or name != PLAYER)]
    check_bodies(site, pairs, webstack.body_of(output))
    samples = {pair: [] for pair in pairs}
    cpu = {pair: [] for pair in pairs}
    for r in range(rounds + 1):  # the first round warms up
        k = r % len(pairs)
        for server, name in pairs[k:] + pairs[:k]:
            before = site.server_cpu()
            rate = ab(site.ports[server], stack.TARGETS[name], requests,
                      concurrency)
            used = (site.server_cpu() - before) * 1e3 / requests
            print(f"  round {r}: {server} {name} {rate:.0f} requests/s, "
                  f"server CPU {used:.3f} ms a request", file=sys.stderr,
                  flush=True)
            if r:
                samples[(server, name)].append(rate)
                cpu[(server, name)].append(used)
    site.stop()
    rates = {}
    for (server, name), v in samples.items():
        rates.setdefault(server, {})[name] = {
            "median": statistics.median(v), "min": min(v), "max": max(v),
            "cpu_ms": statistics.median(cpu[(server, name)])}
    return rates


def cpu_times():
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]  # idle and iowait
    return sum(fields), idle


def process_cpu(pid):
    """CPU seconds of one process so far (its ended children not counted)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_of(pid):
    """Resident and proportional set sizes (KiB), peak resident size and
    open descriptors of a process, from /proc."""
    sample = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name in ("Rss", "Pss"):
                sample[name.lower()] = int(rest.split()[0])
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                sample["hwm"] = int(line.split()[1])
    sample["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    return sample


class MemoryWatch:
    """Samples whirlo32-fastcgi's memory while a crowd runs: the sample of
    the largest PSS and the most descriptors open at any sample."""

    def __init__(self, pid):
        self.pid = pid
        self.before = memory_of(pid)
        self.peak = dict(self.before)
        self.most_fds = self.before["fds"]

    def __call__(self):
        try:
            sample = memory_of(self.pid)
        except OSError:
            return
        if sample["pss"] > self.peak["pss"]:
            self.peak = sample
        self.most_fds = max(self.most_fds, sample["fds"])

    def figures(self):
        self()
        streams = max(1, self.most_fds - self.before["fds"])
        return {"before": self.before, "peak": self.peak,
                "peak_streams": streams,
                "pss_per_viewer_kib": (self.peak["pss"] - self.before["pss"])
                / streams,
                "rss_per_viewer_kib": (self.peak["hwm"] - self.before["rss"])
                / streams}


def paced_viewers(site, server, mode, count, interval, spread, processes,
                  nice):
    with_fastcgi = site.start(interval, servers=(server,))
    if (mode == "FastCGI mode" and not with_fastcgi) or \
            (mode == PLAYER and not site.player):
        site.stop()
        return None
    port = site.ports[server]
    target = stack.TARGETS[mode] + "?" + VIEWER_QUERY
    watch = None
    if mode == PLAYER:
        # One stream first, so that the frames are read and kept.
        webstack.http_get(port, stack.TARGETS[mode])
        watch = MemoryWatch(site.player_pid())
    total0, idle0 = cpu_times()
    server0 = site.server_cpu()
    web0 = process_cpu(site.servers[server].pid)
    player0 = process_cpu(site.player_pid()) if mode == PLAYER else 0
    figures = viewers.run(port, target, count, spread, VIEWER_PARTS,
                          processes, watch, nice)
    total1, idle1 = cpu_times()
    time.sleep(1)  # the last clean-ups
    figures["server_cpu_s"] = site.server_cpu() - server0
    if mode == PLAYER:
        figures["player_cpu_s"] = process_cpu(site.player_pid()) - player0
        if server == "lighttpd":  # nginx's workers are processes of their own
            figures["web_cpu_s"] = process_cpu(site.servers[server].pid) - web0
    figures["leftovers"] = len(site.leftovers())
    if watch:
        figures["memory"] = watch.figures()
    site.stop()
    figures["cpu_percent"] = 100.0 * (1 - (idle1 - idle0) /
                                      max(1, total1 - total0))
    figures["ideal_s"] = spread + VIEWER_PARTS * interval / 1000
    figures["interval_ms"] = interval
    figures["spread_s"] = spread
    figures["server"] = server
    figures["mode"] = mode
    return figures


def default_temp():
    return "/dev/shm" if os.path.isdir("/dev/shm") else ""


def file_system(path):
    """The type of the file system that holds path, from /proc/mounts."""
    best, kind = "", "unknown"
    with open("/proc/mounts") as f:
        for line in f:
            point, fs = line.split()[1:3]
            if (path + "/").startswith(point.rstrip("/") + "/") and \
                    len(point) >= len(best):
                best, kind = point, fs
    return kind


def version_of(command, pattern):
    done = subprocess.run(command, capture_output=True, text=True)
    found = re.search(pattern, done.stdout + done.stderr)
    return found.group(0) if found else command[0]


def machine_text():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    servers = ", ".join(
        [version_of([webstack.find_server("lighttpd"), "-v"],
                    r"lighttpd/[\d.]+"),
         version_of([webstack.find_server("nginx"), "-v"], r"nginx/[\d.]+")])
    uname = os.uname()
    return (f"{model}, {os.cpu_count()} cores, {uname.sysname} "
            f"{uname.release}, {servers}, "
            f"load average at start {os.getloadavg()[0]:.2f}")


def throughput_lines(rates, args):
    lines = [f"Throughput, the demonstration (ab -n {args.requests} "
             f"-c {args.concurrency}, medians of {args.rounds} rounds):", "",
             "| web server | contender | requests/s | × floor | × static "
             "file | server CPU ms a request |", "|---|---|---|---|---|---|"]
    for server, by_name in rates.items():
        floor = by_name["static C floor"]["median"]
        static = by_name["static file"]["median"]
        for name, r in by_name.items():
            lines.append(
                f"| {server} | {name} | {r['median']:.0f} ({r['min']:.0f}–"
                f"{r['max']:.0f}) | {r['median'] / floor:.2f} | "
                f"{r['median'] / static:.3f} | {r['cpu_ms']:.3f} |")
    return lines + [
        "", "Server CPU: the web server, the FastCGI services and fcgiwrap "
        "with their ended children (the CGI runs, the programs), without "
        "ab; medians. Through nginx the CGI contenders run under fcgiwrap "
        "(nginx runs no CGI itself).", ""]


def player_share(crowd):
    if "player_cpu_s" not in crowd:
        return ""
    return f" (of which {PLAYER} {crowd['player_cpu_s']:.1f})"


def crowd_lines(crowds):
    lines = [f"Paced viewers (`{VIEWER_QUERY}`, {VIEWER_PARTS} parts):", "",
             "| web server | contender | viewers (arriving over s) | "
             "interval ms | part gap p50 / p99 / max ms | run s (ideal) | "
             "machine CPU % | server CPU s | clients: CPU s, lag p99 / max "
             "ms | incomplete | left over |",
             "|---|---|---|---|---|---|---|---|---|---|---|"]
    memory = []
    for key, c in crowds.items():
        if c is None:
            lines.append(f"| {key} | – | – | not available in this build | "
                         "– | – | – | – | – | – |")
            continue
        lines.append(
            f"| {c['server']} | {c['mode']} | {c['viewers']} "
            f"({c['spread_s']:g}) | {c['interval_ms']} | "
            f"{c['gap_p50_ms']:.0f} / {c['gap_p99_ms']:.0f} / "
            f"{c['gap_max_ms']:.0f} | {c['length_s']:.1f} "
            f"({c['ideal_s']:.1f}) | {c['cpu_percent']:.0f} | "
            f"{c['server_cpu_s']:.1f}{player_share(c)} | "
            f"{c['client_cpu_s']:.1f}, "
            f"{c['client_lag_p99_ms']:.1f} / {c['client_lag_max_ms']:.0f} | "
            f"{c['incomplete']} | {c['leftovers']} |")
        if "memory" in c:
            m = c["memory"]
            memory.append(
                f"| {c['server']} | {c['viewers']} | "
                f"{m['before']['rss']} / {m['before']['pss']} | "
                f"{m['peak']['hwm']} / {m['peak']['pss']} | "
                f"{m['peak_streams']} | {m['rss_per_viewer_kib']:.1f} / "
                f"{m['pss_per_viewer_kib']:.1f} |")
    lines += ["", "Part gaps from the kernel's receive timestamps; the "
              "clients' lag is how long after that they read.", ""]
    if memory:
        lines += [f"{PLAYER}'s memory (KiB; before: after one stream, "
                  "frames kept; peak: the kernel's peak RSS, the largest "
                  "PSS sampled every 0.25 s; streams: the most connections "
                  "open at a sample):", "",
                  "| web server | viewers | RSS / PSS before | RSS / PSS "
                  "peak | streams at once | KiB a stream, RSS / PSS |",
                  "|---|---|---|---|---|---|"] + memory + [""]
    return lines


def report(machine, rates, crowds, args):
    lines = [f"Machine: {machine}", ""]
    if rates:
        lines += throughput_lines(rates, args)
    if crowds:
        lines += crowd_lines(crowds)
    lines += ["| target | figure | verdict |", "|---|---|---|"]
    lines += verdicts(rates, crowds, args)
    return "\n".join(lines)


def verdicts(rates, crowds, args):
    out = []
    for server, by_name in (rates or {}).items():
        for name, against, share in TARGETS:
            goal = f"{server}: {name} at least {share:g} × the {against}"
            if name not in by_name:
                out.append(f"| {goal} | not measured | missed: not in this "
                           "build |")
                continue
            got = by_name[name]["median"] / by_name[against]["median"]
            out.append(f"| {goal} | {got:.2f} × | " +
                       ("met" if got >= share else
                        f"missed by {share - got:.2f} ×") + " |")
    for key, c in (crowds or {}).items():
        if c is None:
            out.append(f"| {key} | not measured | missed: not in this "
                       "build |")
            continue
        goal = (f"{c['server']}, {c['mode']}: {c['viewers']} paced viewers, "
                f"p99 part gap within {c['interval_ms'] + 20} ms, every "
                "stream complete")
        p99 = c["gap_p99_ms"]
        ok = p99 <= c["interval_ms"] + 20 and not c["incomplete"]
        why = "" if not c["incomplete"] else \
            f", {c['incomplete']} streams incomplete ({c['first_error']})"
        over = p99 - c["interval_ms"] - 20
        out.append(f"| {goal} | {p99:.0f} ms{why} | " +
                   ("met" if ok else "missed" +
                    (f" by {over:.0f} ms" if over > 0 else "")) + " |")
        if "memory" in c:
            m = c["memory"]
            worst = max(m["rss_per_viewer_kib"], m["pss_per_viewer_kib"])
            out.append(
                f"| {c['server']}: {PLAYER} at most {MEMORY_PER_VIEWER} KiB "
                f"a viewer | RSS {m['rss_per_viewer_kib']:.1f}, PSS "
                f"{m['pss_per_viewer_kib']:.1f} KiB | " +
                ("met" if worst <= MEMORY_PER_VIEWER else
                 f"missed by {worst - MEMORY_PER_VIEWER:.1f} KiB") + " |")
    return out


def parse_crowds(text, spread, viewers_count):
    crowds = []
    for item in filter(None, text.split(",")):
        fields = item.split("/")
        server, mode = fields[0], fields[1]
        if server not in stack.SERVERS or mode not in stack.TARGETS:
            raise SystemExit(f"--crowds: no such web server or contender: "
                             f"{item}")
        count = int(fields[2]) if len(fields) > 2 else 1000
        seconds = float(fields[3]) if len(fields) > 3 else spread
        crowds.append((server, mode, viewers_count or count, seconds))
    return crowds


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--whirlo", required=True)
    ap.add_argument("--bridge", required=True)
    ap.add_argument("--player", help="whirlo32-fastcgi")
    ap.add_argument("--floor", required=True, help="the static C floor")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--requests", type=int, default=1500)
    ap.add_argument("--concurrency", type=int, default=4)
    ap.add_argument("--crowds", default=CROWDS,
                    help="SERVER/CONTENDER[/VIEWERS[/SPREAD]],... "
                    f"(default {CROWDS})")
    ap.add_argument("--viewers", type=int, default=0,
                    help="viewers of every crowd, instead of its own number")
    ap.add_argument("--interval", type=int, default=100, help="ms")
    ap.add_argument("--spread", type=float, default=10.0,
                    help="seconds over which the viewers arrive, for a crowd "
                    "that does not give its own")
    ap.add_argument("--client-processes", type=int, default=2,
                    help="processes the viewers are spread over")
    ap.add_argument("--client-nice", type=int, default=19,
                    help="niceness of the client processes (default 19: "
                    "they take the CPU that the servers leave)")
    ap.add_argument("--temp", default=default_temp(),
                    help="where the bridge makes its private folders "
                    "(default: /dev/shm, a tmpfs, when there is one; "
                    "'' for the benchmark's own folder in $TMPDIR)")
    ap.add_argument("--only", default="throughput,viewers")
    ap.add_argument("--json", help="also write the raw figures here")
    args = ap.parse_args()
    only = args.only.split(",")
    crowd_list = parse_crowds(args.crowds, args.spread, args.viewers)
    machine = machine_text()
    rates, crowds = {}, {}
    with tempfile.TemporaryDirectory(prefix="whirlo-serving-") as tmp:
        site = stack.Site(tmp, ROOT, args.whirlo, args.bridge, args.player,
                          args.floor, args.temp or None)
        machine += (f"; private folders in {os.path.dirname(site.temp)} "
                    f"({file_system(site.temp)})")
        try:
            if "throughput" in only:
                print("throughput ...", file=sys.stderr, flush=True)
                rates = throughput(site, args.rounds, args.requests,
                                   args.concurrency)
            if "viewers" in only:
                for server, mode, count, spread in crowd_list:
                    print(f"{count} paced viewers, {mode} through {server}, "
                          f"load average {os.getloadavg()[0]:.2f} ...",
                          file=sys.stderr, flush=True)
                    crowds[f"{server}/{mode}/{count}"] = paced_viewers(
                        site, server, mode, count, args.interval, spread,
                        args.client_processes, args.client_nice)
        finally:
            site.remove()
    print(report(machine, rates, crowds, args))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": machine, "throughput": rates,
                       "viewers": crowds}, f, indent=1)


if __name__ == "__main__":
    main()
