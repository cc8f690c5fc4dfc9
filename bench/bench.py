#!/usr/bin/env python3
"""Measures the cost of one whirlo32 request next to the physical limit
(`cat` of the same picture files into one output file) and a Python peer
(bench/peer.py) on the same workloads.

Each run is one process started with posix_spawn and reaped with wait4, so
CPU time and peak memory are the child's own; the data file (which the
program deletes) is written before the clock starts. The commands of a
workload run interleaved, round by round, so load from other work on the
machine falls on all of them alike. `true` runs in the same loop: its wall
time is the floor of any process start plus this harness' own cost."""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import workloads  # noqa: E402


def spawn(argv, cwd, env, stdout_path=None):
    """One timed run: (wall seconds, CPU seconds, peak RSS KiB, status)."""
    actions = []
    if stdout_path is not None:
        actions.append((os.POSIX_SPAWN_OPEN, 1, stdout_path,
                        os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644))
    else:
        actions.append((os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0))
    prev = os.getcwd()
    os.chdir(cwd)  # posix_spawn has no cwd argument
    try:
        t0 = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
        _, status, ru = os.wait4(pid, 0)
        t1 = time.perf_counter()
    finally:
        os.chdir(prev)
    return t1 - t0, ru.ru_utime + ru.ru_stime, ru.ru_maxrss, status


def commands(w, whirlo, python, also=()):
    """The contenders of a workload, each as (name, prepare, run)."""
    env = {"WINDIR": w.windir, "PATH": "/usr/bin:/bin", "LANG": "C"}
    cat = shutil.which("cat")
    true = shutil.which("true")

    def prep_request():
        w.write_request()
        if os.path.exists(w.output):
            os.remove(w.output)

    return [
        ("true", lambda: None,
         lambda: spawn([true], w.cgi_dir, env)),
        ("whirlo32", prep_request,
         lambda: spawn([whirlo, w.request], w.cgi_dir, env)),
        ("cat", lambda: None,
         lambda: spawn([cat] + w.cat_files, w.cgi_dir, env, w.cat_output)),
        ("python peer", prep_request,
         lambda: spawn([python, os.path.join(HERE, "peer.py"), w.request],
                       w.cgi_dir, env)),
    ] + [(name, prep_request,
          lambda path=path: spawn([path, w.request], w.cgi_dir, env))
         for name, path in also]


def check(w, whirlo, python):
    """Our response equals the peer's byte for byte, and holds the same
    picture bytes as cat's output plus the part framing."""
    env = {"WINDIR": w.windir, "PATH": "/usr/bin:/bin", "LANG": "C"}
    results = {}
    for name, argv in (("whirlo32", [whirlo, w.request]),
                       ("peer", [python, os.path.join(HERE, "peer.py"),
                                 w.request])):
        w.write_request()
        if os.path.exists(w.output):
            os.remove(w.output)
        _, _, _, status = spawn(argv, w.cgi_dir, env)
        with open(w.output, "rb") as f:
            results[name] = (os.waitstatus_to_exitcode(status), f.read())
    ours, peer = results["whirlo32"], results["peer"]
    if ours[0] % 256 != w.exit_code % 256 or peer[0] % 256 != ours[0] % 256:
        raise SystemExit(f"{w.name}: exit codes {ours[0]} / {peer[0]}")
    if ours[1] != peer[1]:
        raise SystemExit(f"{w.name}: peer's response differs from ours")
    parts = ours[1].count(b"Content-type: image/")
    if parts != w.parts:
        raise SystemExit(f"{w.name}: {parts} parts, expected {w.parts}")
    spawn([shutil.which("cat")] + w.cat_files, w.cgi_dir, env, w.cat_output)
    return len(ours[1]), os.path.getsize(w.cat_output), parts


def summary(values):
    return {"median": statistics.median(values), "min": min(values),
            "max": max(values)}


def measure(w, whirlo, python, rounds, warmup, also):
    contenders = commands(w, whirlo, python, also)
    samples = {name: [] for name, _, _ in contenders}
    for r in range(warmup + rounds):
        # Rotate the order so no contender always runs right after another.
        k = r % len(contenders)
        for name, prepare, run in contenders[k:] + contenders[:k]:
            prepare()
            sample = run()
            if r >= warmup:
                samples[name].append(sample)
    out = {}
    for name, runs in samples.items():
        out[name] = {
            "wall_ms": summary([s[0] * 1e3 for s in runs]),
            "cpu_ms": summary([s[1] * 1e3 for s in runs]),
        }
    return out


def peak_memory(w, whirlo, python, rounds, also):
    """Peak RSS in KiB under GNU time. A child's maxrss counts the image it
    was spawned from until exec, so wait4 from this (large) Python process
    would report Python's size; GNU time forks from a small process."""
    gnu_time = "/usr/bin/time"
    if not os.access(gnu_time, os.X_OK):
        return {}
    contenders = commands(w, whirlo, python, also)
    env = {"WINDIR": w.windir, "PATH": "/usr/bin:/bin", "LANG": "C"}
    argv = {"true": [shutil.which("true")],
            "whirlo32": [whirlo, w.request],
            "cat": [shutil.which("cat")] + w.cat_files,
            "python peer": [python, os.path.join(HERE, "peer.py"),
                            w.request]}
    argv.update({name: [path, w.request] for name, path in also})
    peaks = {}
    report_file = os.path.join(w.root, "time.out")
    for name, prepare, _ in contenders:
        values = []
        for _ in range(rounds):
            prepare()
            stdout = w.cat_output if name == "cat" else os.devnull
            with open(stdout, "wb") as out:
                subprocess.run([gnu_time, "-f", "%M", "-o", report_file]
                               + argv[name], cwd=w.cgi_dir, env=env,
                               stdout=out, check=False)
            with open(report_file) as f:
                values.append(int(f.read().split()[-1]))
        peaks[name] = summary(values)
    return peaks


def count_directory_reads(w, whirlo):
    """Largest number of times one folder is opened for listing in one
    request, from strace; None without strace."""
    strace = shutil.which("strace")
    if not strace:
        return None
    log = os.path.join(w.root, "strace.log")
    w.write_request()
    if os.path.exists(w.output):
        os.remove(w.output)
    env = dict(WINDIR=w.windir, PATH="/usr/bin:/bin")
    subprocess.run([strace, "-f", "-qq", "-e", "trace=openat", "-o", log,
                    whirlo, w.request], cwd=w.cgi_dir, env=env,
                   stdout=subprocess.DEVNULL, check=False)
    opened = {}
    with open(log) as f:
        for line in f:
            if "O_DIRECTORY" in line and '"' in line:
                path = line.split('"')[1].rstrip("/") or "/"
                opened[path] = opened.get(path, 0) + 1
    return max(opened.values(), default=0), opened


def instructions(argv, cwd, env, stdout_path=None):
    """User-space instructions of one run (callgrind), or None."""
    valgrind = shutil.which("valgrind")
    if not valgrind:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        out_file = os.path.join(tmp, "cg.out")
        stdout = open(stdout_path or os.devnull, "wb")
        proc = subprocess.run(
            [valgrind, "--tool=callgrind", "--callgrind-out-file=" + out_file]
            + argv, cwd=cwd, env=env, stdout=stdout,
            stderr=subprocess.PIPE, text=True, check=False)
        stdout.close()
        for line in proc.stderr.splitlines():
            if "Collected :" in line:
                return int(line.split(":")[-1].strip())
    return None


def callgrind(w, whirlo, python, with_peer, also):
    env = {"WINDIR": w.windir, "PATH": "/usr/bin:/bin", "LANG": "C"}
    counts = {}
    for name, path in [("whirlo32", whirlo)] + list(also):
        w.write_request()
        counts[name] = instructions([path, w.request], w.cgi_dir, env)
    counts["cat"] = instructions([shutil.which("cat")] + w.cat_files,
                                 w.cgi_dir, env, w.cat_output)
    if with_peer:
        w.write_request()
        counts["python peer"] = instructions(
            [python, os.path.join(HERE, "peer.py"), w.request], w.cgi_dir,
            env)
    return counts


def fmt(s, digits=2):
    return (f"{s['median']:.{digits}f} ({s['min']:.{digits}f}–"
            f"{s['max']:.{digits}f})")


def rss_text(m):
    r = m.get("rss_kib")
    return (f"{int(r['median'])} ({int(r['min'])}–{int(r['max'])})"
            if r else "–")


def report(results, machine, builds):
    lines = [f"Machine: {machine}", ""]
    lines.append("| workload | command | wall ms | CPU ms | peak RSS KiB |")
    lines.append("|---|---|---|---|---|")
    for w in results:
        for name, m in w["timing"].items():
            lines.append(f"| {w['name']} | {name} | {fmt(m['wall_ms'])} | "
                         f"{fmt(m['cpu_ms'])} | {rss_text(m)} |")
    lines += ["", "Medians (min–max); wall and CPU over "
              + ", ".join(f"{w['name']} {w['rounds']}" for w in results)
              + " runs, peak RSS over 5 runs under GNU time.", ""]
    lines.append("| workload | build | ours/cat wall | ours/cat CPU | "
                 "peer/ours wall | peer/ours CPU | ours/cat peak RSS |")
    lines.append("|---|---|---|---|---|---|---|")
    for w in results:
        t = w["timing"]
        med = {n: {k: t[n][k]["median"] for k in t[n]} for n in t}
        for n in med:
            med[n].setdefault("rss_kib", float("nan"))
        for build in builds:
            def ratio(a, b, key):
                return med[a][key] / med[b][key] if med[b][key] else 0.0

            lines.append(
                f"| {w['name']} | {build} | "
                f"{ratio(build, 'cat', 'wall_ms'):.2f} | "
                f"{ratio(build, 'cat', 'cpu_ms'):.2f} | "
                f"{ratio('python peer', build, 'wall_ms'):.1f} | "
                f"{ratio('python peer', build, 'cpu_ms'):.1f} | "
                f"{ratio(build, 'cat', 'rss_kib'):.2f} |")
    lines += ["", "Ratios of the medians. The `true` rows are the floor: "
              "one process start plus this harness' own cost, which every "
              "row carries alike.", ""]
    lines.append("| workload | bytes out (ours / cat) | parts | "
                 "most listings of one folder | instructions (callgrind) |")
    lines.append("|---|---|---|---|---|")
    for w in results:
        ir = w.get("instructions") or {}
        ir_text = ", ".join(f"{k} {v / 1e6:.3f} M" for k, v in ir.items()
                            if v)
        reads = w["dir_reads"] if w["dir_reads"] is not None else "–"
        lines.append(f"| {w['name']} | {w['bytes_ours']} / {w['bytes_cat']} "
                     f"| {w['parts']} | {reads} | {ir_text or '–'} |")
    return "\n".join(lines)


def machine_text():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    uname = os.uname()
    return (f"{model}, {os.cpu_count()} cores, {uname.sysname} "
            f"{uname.release}, load average at start "
            f"{os.getloadavg()[0]:.2f}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", required=True, help="the whirlo32 binary")
    ap.add_argument("--rounds", type=int, default=41)
    ap.add_argument("--long-rounds", type=int, default=15)
    ap.add_argument("--only", help="comma-separated workload names")
    ap.add_argument("--no-callgrind", action="store_true")
    ap.add_argument("--json", help="also write the raw figures here")
    ap.add_argument("--also", action="append", default=[],
                    metavar="NAME=BINARY",
                    help="another whirlo32 build to measure alongside")
    args = ap.parse_args()
    also = [(a.split("=", 1)[0], os.path.abspath(a.split("=", 1)[1]))
            for a in args.also]
    whirlo = os.path.abspath(args.bin)
    python = sys.executable
    machine = machine_text()
    results = []
    with tempfile.TemporaryDirectory(prefix="whirlo-bench-") as tmp:
        for w in workloads.build_all(tmp, ROOT):
            if args.only and w.name not in args.only.split(","):
                continue
            bytes_ours, bytes_cat, parts = check(w, whirlo, python)
            rounds = args.long_rounds if w.name == "long" else args.rounds
            print(f"{w.name}: {parts} parts, {bytes_ours} bytes, "
                  f"{rounds} rounds ...", file=sys.stderr, flush=True)
            timing = measure(w, whirlo, python, rounds, 2, also)
            for name, peak in peak_memory(w, whirlo, python, 5,
                                          also).items():
                timing[name]["rss_kib"] = peak
            reads = count_directory_reads(w, whirlo)
            entry = {"name": w.name, "rounds": rounds, "timing": timing,
                     "bytes_ours": bytes_ours, "bytes_cat": bytes_cat,
                     "parts": parts,
                     "dir_reads": reads[0] if reads else None,
                     "dir_listing": reads[1] if reads else None}
            if not args.no_callgrind:
                entry["instructions"] = callgrind(w, whirlo, python,
                                                  with_peer=w.name == "demo",
                                                  also=also)
            results.append(entry)
    text = report(results, machine, ["whirlo32"] + [n for n, _ in also])
    print(text)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": machine, "workloads": results}, f, indent=1)


if __name__ == "__main__":
    main()
