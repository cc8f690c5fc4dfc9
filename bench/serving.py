#!/usr/bin/env python3
"""Measures the whole stack through lighttpd on 127.0.0.1: requests per
second for the demonstration through the bridge's CGI mode, its FastCGI
mode, a static one-process C CGI writing the same bytes (the floor of one
process per request) and the same bytes as a static file, side by side;
then N paced viewers in each mode, with the part gaps as the clients see
them and the machine's CPU use.

Throughput is `ab` with a Mozilla user agent, the contenders interleaved
round by round in rotating order; figures are medians of the rounds."""
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
MODES = ("CGI mode", "FastCGI mode")
TARGETS = (("CGI mode", 0.5, "0.5 × the floor (two processes a request)"),
           ("FastCGI mode", 0.8, "0.8 × the floor"))


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


def check_bodies(site, contenders, expected):
    """Every contender answers the demonstration with the same body."""
    for name in contenders:
        body = webstack.body_of(webstack.http_get(site.port, stack.TARGETS[name]))
        if body != expected:
            raise SystemExit(f"{name}: body differs from whirlo32's "
                             f"({len(body)} against {len(expected)} bytes)")


def throughput(site, rounds, requests, concurrency):
    output = site.prepare_floor()
    with_fastcgi = site.start(interval=0)
    contenders = [n for n in stack.TARGETS
                  if with_fastcgi or n != "FastCGI mode"]
    check_bodies(site, contenders, webstack.body_of(output))
    samples = {name: [] for name in contenders}
    cpu = {name: [] for name in contenders}
    for r in range(rounds + 1):  # the first round warms up
        k = r % len(contenders)
        for name in contenders[k:] + contenders[:k]:
            before = site.server_cpu()
            rate = ab(site.port, stack.TARGETS[name], requests, concurrency)
            used = (site.server_cpu() - before) * 1e3 / requests
            print(f"  round {r}: {name} {rate:.0f} requests/s, server CPU "
                  f"{used:.2f} ms a request", file=sys.stderr, flush=True)
            if r:
                samples[name].append(rate)
                cpu[name].append(used)
    site.stop()
    return {name: {"median": statistics.median(v), "min": min(v),
                   "max": max(v), "cpu_ms": statistics.median(cpu[name])}
            for name, v in samples.items()}


def cpu_times():
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]  # idle and iowait
    return sum(fields), idle


def paced_viewers(site, mode, count, interval, spread):
    with_fastcgi = site.start(interval)
    if mode == "FastCGI mode" and not with_fastcgi:
        site.stop()
        return None
    target = stack.TARGETS[mode] + "?" + VIEWER_QUERY
    total0, idle0 = cpu_times()
    server0 = site.server_cpu()
    figures = viewers.run(site.port, target, count, spread, VIEWER_PARTS)
    total1, idle1 = cpu_times()
    time.sleep(1)  # the last clean-ups
    figures["server_cpu_s"] = site.server_cpu() - server0
    figures["leftovers"] = len(site.leftovers())
    site.stop()
    figures["cpu_percent"] = 100.0 * (1 - (idle1 - idle0) /
                                      max(1, total1 - total0))
    figures["ideal_s"] = spread + VIEWER_PARTS * interval / 1000
    figures["interval_ms"] = interval
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


def machine_text():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    version = subprocess.run([webstack.find_server("lighttpd"), "-v"],
                             capture_output=True, text=True).stdout.split()
    uname = os.uname()
    return (f"{model}, {os.cpu_count()} cores, {uname.sysname} "
            f"{uname.release}, {version[0] if version else 'lighttpd'}, "
            f"load average at start {os.getloadavg()[0]:.2f}")


def report(machine, rates, crowds, args):
    lines = [f"Machine: {machine}", ""]
    if rates:
        floor = rates["static C floor"]["median"]
        lines += [f"Throughput, the demonstration (ab -n {args.requests} "
                  f"-c {args.concurrency}, medians of {args.rounds} rounds):",
                  "", "| contender | requests/s | × floor | server CPU ms a "
                  "request |", "|---|---|---|---|"]
        for name, r in rates.items():
            lines.append(f"| {name} | {r['median']:.0f} ({r['min']:.0f}–"
                         f"{r['max']:.0f}) | {r['median'] / floor:.2f} | "
                         f"{r['cpu_ms']:.2f} |")
        lines += ["", "Server CPU: lighttpd and the FastCGI bridge with "
                  "their ended children (the CGI runs, the programs), "
                  "without ab; medians.", ""]
    if crowds:
        lines += [f"Paced viewers (`{VIEWER_QUERY}`, {VIEWER_PARTS} parts, "
                  f"arriving over {args.spread:g} s):", "",
                  "| mode | viewers | interval ms | part gap p50 / p99 / max "
                  "ms | run s (ideal) | machine CPU % | server CPU s | "
                  "incomplete | left over |",
                  "|---|---|---|---|---|---|---|---|---|"]
        for mode, c in crowds.items():
            if c is None:
                lines.append(f"| {mode} | – | – | not available in this "
                             "build | – | – | – | – | – |")
                continue
            lines.append(
                f"| {mode} | {c['viewers']} | {c['interval_ms']} | "
                f"{c['gap_p50_ms']:.0f} / {c['gap_p99_ms']:.0f} / "
                f"{c['gap_max_ms']:.0f} | {c['length_s']:.1f} "
                f"({c['ideal_s']:.1f}) | {c['cpu_percent']:.0f} | "
                f"{c['server_cpu_s']:.1f} | {c['incomplete']} | "
                f"{c['leftovers']} |")
        lines.append("")
    lines += ["| target | figure | verdict |", "|---|---|---|"]
    lines += verdicts(rates, crowds, args)
    return "\n".join(lines)


def verdicts(rates, crowds, args):
    out = []
    if rates:
        floor = rates["static C floor"]["median"]
        for name, share, text in TARGETS:
            if name not in rates:
                out.append(f"| {name} at least {text} | not measured | "
                           "missed: no FastCGI mode in this build |")
                continue
            got = rates[name]["median"] / floor
            out.append(f"| {name} at least {text} | {got:.2f} × | "
                       + ("met" if got >= share else
                          f"missed by {share - got:.2f} ×") + " |")
    for mode, c in (crowds or {}).items():
        goal = f"{args.viewers} paced viewers in {mode}: p99 part gap " \
               f"within {args.interval + 20} ms"
        if c is None:
            out.append(f"| {goal} | not measured | missed: no FastCGI "
                       "mode in this build |")
            continue
        p99 = c["gap_p99_ms"]
        ok = p99 <= args.interval + 20 and not c["incomplete"]
        why = "" if not c["incomplete"] else \
            f", {c['incomplete']} streams incomplete"
        out.append(f"| {goal} | {p99:.0f} ms{why} | " +
                   ("met" if ok else
                    f"missed by {p99 - args.interval - 20:.0f} ms") + " |")
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--whirlo", required=True)
    ap.add_argument("--bridge", required=True)
    ap.add_argument("--floor", required=True, help="the static C floor")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--requests", type=int, default=1500)
    ap.add_argument("--concurrency", type=int, default=4)
    ap.add_argument("--viewers", type=int, default=1000)
    ap.add_argument("--interval", type=int, default=100, help="ms")
    ap.add_argument("--spread", type=float, default=10.0,
                    help="seconds over which the viewers arrive")
    ap.add_argument("--temp", default=default_temp(),
                    help="where the bridge makes its private folders "
                    "(default: /dev/shm, a tmpfs, when there is one; "
                    "'' for the benchmark's own folder in $TMPDIR)")
    ap.add_argument("--only", default="throughput,viewers")
    ap.add_argument("--modes", default=",".join(MODES))
    ap.add_argument("--json", help="also write the raw figures here")
    args = ap.parse_args()
    only = args.only.split(",")
    machine = machine_text()
    rates, crowds = {}, {}
    with tempfile.TemporaryDirectory(prefix="whirlo-serving-") as tmp:
        site = stack.Site(tmp, ROOT, args.whirlo, args.bridge, args.floor,
                          args.temp or None)
        machine += (f"; private folders in {os.path.dirname(site.temp)} "
                    f"({file_system(site.temp)})")
        try:
            if "throughput" in only:
                print("throughput ...", file=sys.stderr, flush=True)
                rates = throughput(site, args.rounds, args.requests,
                                   args.concurrency)
            if "viewers" in only:
                for mode in args.modes.split(","):
                    print(f"{args.viewers} paced viewers, {mode} ...",
                          file=sys.stderr, flush=True)
                    crowds[mode] = paced_viewers(site, mode, args.viewers,
                                                 args.interval, args.spread)
        finally:
            site.remove()
    print(report(machine, rates, crowds, args))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": machine, "throughput": rates,
                       "viewers": crowds}, f, indent=1)


if __name__ == "__main__":
    main()
