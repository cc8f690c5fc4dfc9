"""How busy the machine is, for tests that need a quiet one.

A browser paints a frame only when each of its processes and the X server
get a CPU in turn; on a machine where runnable tasks queue for the CPUs it
paints frames hundreds of milliseconds late, and a test of what is on
screen when would blame the server for it. Busy means the share of time
some runnable task waited for a CPU: the kernel's pressure information
(/proc/pressure/cpu, "some"), or where the kernel keeps none, samples of
the runnable task count (/proc/stat) above the number of CPUs. Tasks that
merely keep every CPU busy, one a CPU, leave it low; so does an idle one.
"""

import os
import sys
import time

# The most a browser test accepts: with two CPU-bound tasks on two CPUs
# (stress-ng --cpu 2) it measured under 10 %; with those and a run of the
# Wine suites beside them, 57 %.
QUIET_SHARE = 0.25
PRESSURE = "/proc/pressure/cpu"


def stalled_microseconds():
    """Total time some task waited for a CPU, or None without the figure."""
    try:
        with open(PRESSURE) as pressure:
            fields = pressure.readline().split()
        return int(dict(f.split("=") for f in fields[1:])["total"])
    except (OSError, KeyError, ValueError):
        return None


def _runnable_tasks():
    with open("/proc/stat") as stat:
        for line in stat:
            if line.startswith("procs_running"):
                return int(line.split()[1]) - 1  # not this one
    return 0


class WaitMeter:
    """Measures, from its making, the share of time some task waited for a
    CPU, where the kernel keeps the figure (share() is None elsewhere)."""

    def __init__(self):
        self.stalled, self.start = stalled_microseconds(), time.monotonic()

    def share(self):
        now = stalled_microseconds()
        if self.stalled is None or now is None:
            return None
        return (now - self.stalled) / 1e6 / max(time.monotonic() - self.start, 1e-3)


def waiting_share(seconds):
    """The share of the next seconds in which some task waited for a CPU."""
    meter = WaitMeter()
    if meter.stalled is not None:
        time.sleep(seconds)
        share = meter.share()
        if share is not None:
            return share
    cpus, samples, waiting = os.cpu_count() or 1, 0, 0
    while time.monotonic() - meter.start < seconds:
        samples += 1
        waiting += _runnable_tasks() > cpus
        time.sleep(0.01)
    return waiting / max(samples, 1)


def wait_until_quiet(what, limit=QUIET_SHARE, window=2.0, bound=90.0):
    """Returns once a window of seconds passes in which tasks waited for a
    CPU at most limit of the time; says on standard error while it waits,
    and raises RuntimeError with the figures after bound seconds."""
    start, said = time.monotonic(), False
    while True:
        share = waiting_share(window)
        if share <= limit:
            if said:
                print("the machine is quiet again (%.0f %%) after %.0f s"
                      % (100 * share, time.monotonic() - start), file=sys.stderr)
            return share
        waited = time.monotonic() - start
        if waited >= bound:
            raise RuntimeError(
                "%s needs a quiet machine: for %.0f s runnable tasks waited for a "
                "CPU more than %.0f %% of the time (%.0f %% in the last %.0f s)"
                % (what, waited, 100 * limit, 100 * share, window))
        if not said:
            print("%s waits for a quiet machine: runnable tasks waited for a CPU "
                  "%.0f %% of the last %.0f s, more than %.0f %%"
                  % (what, 100 * share, window, 100 * limit), file=sys.stderr)
            said = True
