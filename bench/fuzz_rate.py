#!/usr/bin/env python3
"""Executions per second of fuzz targets on a fixed input set: a target's
committed seed corpus (fuzz/corpus/<target>/), copied --repeat times into
one folder, run once through by the target (-runs=0: libFuzzer reads the
folder, runs every input once without mutating, and stops), timed with
the CPU time of the target process (its start and the reading of the
files included, alike for every build).
Builds given with --build NAME=DIR (the folder of the targets, e.g.
build-fuzz/bin) are run interleaved, round by round, so that load from
other work falls on all alike; figures are medians of the rounds.

    bench/fuzz_rate.py --build now=build-fuzz/bin --build old=../old/build-fuzz/bin

Also, with --campaign N, each build fuzzes from the seeds for N runs with
a fixed seed (-seed=1), the way fuzz/run does, for the rate while
mutating; its inputs go to a scratch folder."""
import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TARGETS = ("query_walk_fuzzer", "profile_fuzzer", "picture_part_fuzzer")


def max_len(target):
    with open(os.path.join(ROOT, "fuzz", "targets.txt")) as f:
        for line in f:
            fields = line.split()
            if fields and fields[0] == target:
                return int(fields[1])
    return 4096


def timed(command):
    """(wall s, resource usage of children so far, log) of one run of
    command, which must succeed."""
    started = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
    _, err = child.communicate()
    wall = time.monotonic() - started
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    if child.returncode:
        raise SystemExit(f"{command[0]} failed:\n{err.decode()[-2000:]}")
    return wall, usage, err.decode(errors="replace")


def fixed_set(binary, target, repeat):
    seeds = os.path.join(ROOT, "fuzz", "corpus", target)
    work = tempfile.mkdtemp(prefix="fuzz-rate-")
    try:
        for r in range(repeat):
            for name in os.listdir(seeds):
                shutil.copy(os.path.join(seeds, name),
                            os.path.join(work, f"{r}-{name}"))
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        wall, after, log = timed([binary, "-runs=0", "-rss_limit_mb=2048",
                                  f"-max_len={max_len(target)}", work])
        cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime +
                                                   before.ru_stime)
        done = re.search(r"Done (\d+) runs", log)
        return int(done.group(1)), wall, cpu
    finally:
        shutil.rmtree(work, ignore_errors=True)


def campaign(binary, target, runs):
    work = tempfile.mkdtemp(prefix="fuzz-rate-")
    try:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        command = [binary, "-seed=1", f"-runs={runs}",
                   f"-max_len={max_len(target)}", "-rss_limit_mb=2048", work,
                   os.path.join(ROOT, "fuzz", "corpus", target)]
        dictionary = os.path.join(ROOT, "fuzz", target + ".dict")
        if os.path.exists(dictionary):
            command.insert(1, "-dict=" + dictionary)
        wall, after, _ = timed(command)
        cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime +
                                                   before.ru_stime)
        return runs, wall, cpu
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", action="append", required=True,
                    help="NAME=DIR of the fuzz targets; repeatable")
    ap.add_argument("--targets", default=",".join(TARGETS))
    ap.add_argument("--repeat", type=int, default=100,
                    help="copies of the seed corpus in the fixed set")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--campaign", type=int, default=0,
                    help="also fuzz this many runs from the seeds (-seed=1)")
    args = ap.parse_args()
    builds = [b.split("=", 1) for b in args.build]
    targets = args.targets.split(",")
    kinds = [("fixed", fixed_set, args.repeat)]
    if args.campaign:
        kinds.append(("campaign", campaign, args.campaign))
    rates = {}
    for r in range(args.rounds):
        order = builds[r % len(builds):] + builds[:r % len(builds)]
        for target in targets:
            for kind, run, amount in kinds:
                for name, folder in order:
                    count, wall, cpu = run(os.path.join(folder, target),
                                           target, amount)
                    rates.setdefault((target, kind, name), []).append(
                        (count / cpu, count / wall))
                    print(f"  round {r}: {target} {kind} {name}: "
                          f"{count / cpu:.0f}/s CPU, {count / wall:.0f}/s "
                          f"wall", file=sys.stderr, flush=True)
    print(f"load average at the end {os.getloadavg()[0]:.2f}")
    print("| target | input | build | executions/s (CPU) | executions/s "
          "(wall) |")
    print("|---|---|---|---|---|")
    for (target, kind, name), values in rates.items():
        cpu = statistics.median(v[0] for v in values)
        wall = statistics.median(v[1] for v in values)
        print(f"| {target} | {kind} | {name} | {cpu:.0f} | {wall:.0f} |")


if __name__ == "__main__":
    main()
