#!/usr/bin/env python3
"""Load test: many concurrent requests through lighttpd and the bridge.

    python3 tests/load/run_load.py --bridge build-asan/bin/wincgi-bridge \\
        --program build-asan/bin/whirlo32 [--requests 1000] [--concurrency 16]

Serves the demonstration site with lighttpd on a free port as tools/serve
does (tools/lighttpd_site.py), unpaced, with a private temporary folder for
the bridge, and sends a shuffled mix of requests (the demonstration
animation, other runs, still pictures, an error page), so many at a time;
then SIMULTANEOUS connections opened together, whose
requests go out at the same moment. Every response must carry exactly the
status, content type and body that whirlo32 writes for that request when
run directly; afterwards the CGI folders and the bridge's temporary folder
must hold what they held before. Prints the figures; none is asserted.
The order is shuffled with a seed it prints; WHIRLO_LOAD_SEED=N repeats it.

Sanitizer builds spend most of each run on the leak check at exit, so the
bridge and whirlo32 run without it here (the other bridge tests keep it).
"""

import http.client
import os
import random
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import lighttpd_site
from lib.given import given
from webstack import MOZILLA, wait_until

REQUEST_COUNT, CONCURRENCY, SIMULTANEOUS = 1000, 16, 200

LYNX = "Lynx/2.8.9rel.1"
MISSING_PICTURES_EXIT = 237  # whirlo32's exit code with the WHL1005 page

# (script folder, script, query, user agent); the clock decides nothing in
# these responses.
REQUESTS = [
    ("cgi-bin", "nph-whirlo32.cgi", "", MOZILLA),          # the demonstration
    ("cgi-bin", "whirlo32.cgi", "", MOZILLA),
    ("cgi-bin", "nph-whirlo32.cgi", "whirlo?.gif?D", MOZILLA),
    ("cgi-bin", "whirlo32.cgi", "whirlo?.gif?U?start=3?end=6?D?loop=2", MOZILLA),
    ("cgi-bin", "nph-whirlo32.cgi", "whirlo?.gif?pict=11", MOZILLA),
    ("cgi-still", "nph-whirlo32.cgi", "whirlo?.gif?name===12", MOZILLA),
    ("cgi-bin", "whirlo32.cgi", "whirlo?.gif?still=12", LYNX),
    ("cgi-bin", "nph-whirlo32.cgi", "nosuch?.gif", MOZILLA),  # error page
    ("cgi-bin", "whirlo32.cgi", "nosuch?.gif", MOZILLA),
]


def split_response(output):
    """(status code, content type, body) of what whirlo32 wrote."""
    ends = [at + len(sep) for sep in (b"\n\n", b"\n\r\n")
            for at in [output.find(sep)] if at >= 0]
    if not ends:
        raise RuntimeError("no header in %r" % output[:200])
    header, body = output[:min(ends)].decode("latin-1"), output[min(ends):]
    status, content_type = 200, None
    for line in header.splitlines():
        name, _, value = line.partition(":")
        if line.startswith("HTTP/1."):
            status = int(line.split()[1])
        elif name.strip().lower() == "status":
            status = int(value.split()[0])
        elif name.strip().lower() == "content-type":
            content_type = value.strip()
    return status, content_type, body


def direct_output(program, work, folder, query, agent, pelk_ini):
    """What whirlo32 writes for the request, run by hand as a Windows CGI
    server runs it, with the server's pelk.ini for that folder."""
    run = tempfile.mkdtemp(dir=work)
    cgi, windows = os.path.join(run, folder), os.path.join(run, "windows")
    os.makedirs(cgi)
    os.makedirs(windows)
    shutil.copy(pelk_ini, cgi)
    data, output = os.path.join(run, "req.dat"), os.path.join(run, "req.out")
    with open(data, "w") as handle:
        handle.write("[CGI]\r\nRequest Method=GET\r\nQuery String=%s\r\n"
                     "[Extra Headers]\r\nUser-Agent=%s\r\n[System]\r\n"
                     "Output File=%s\r\n" % (query, agent, output))
    subprocess.run([program, data], cwd=cgi, env={"WINDIR": windows},
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)
    with open(output, "rb") as handle:
        result = handle.read()
    shutil.rmtree(run)
    return result


def tree(site):
    """Every file and folder below the site's CGI folders, with each file's
    size."""
    found = {}
    for folder in lighttpd_site.VIEWERS:
        root = os.path.join(site.work, folder)
        for top, dirs, files in os.walk(root):
            for name in dirs + files:
                path = os.path.join(top, name)
                found[os.path.relpath(path, site.work)] = \
                    "folder" if name in dirs else os.lstat(path).st_size
    return found


def start_site(bridge, program, private_temp):
    settings = [("WINCGI_FRAME_INTERVAL", "0"), ("WINCGI_TEMP", private_temp),
                ("ASAN_OPTIONS", "detect_leaks=0")]
    return lighttpd_site.Site(bridge, program, settings)


def fetch(port, folder, script, query, agent, barrier=None):
    """(status, content type, body); with a barrier, the connection is
    opened first and the request sent once every party has connected."""
    target = "/%s/%s%s" % (folder, script, "?" + query if query else "")
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    try:
        if barrier:
            connection.connect()
            barrier.wait()
        connection.request("GET", target, headers={"User-Agent": agent})
        response = connection.getresponse()
        return response.status, response.getheader("Content-Type"), response.read()
    finally:
        connection.close()


def run_clients(port, order, expected, threads, simultaneous=False):
    """Sends the requests REQUESTS[k] for k in order from so many threads;
    simultaneous: one request per thread, all sent at once. Returns the
    failures and the seconds taken."""
    failures, lock = [], threading.Lock()
    next_index = iter(range(len(order)))
    barrier = threading.Barrier(threads) if simultaneous else None

    def client():
        while True:
            with lock:
                index = next(next_index, None)
            if index is None:
                return
            kind = order[index]
            try:
                got = fetch(port, *REQUESTS[kind], barrier=barrier)
            except (OSError, http.client.HTTPException,
                    threading.BrokenBarrierError) as error:
                got = ("error", repr(error), b"")
            if got != expected[kind]:
                want = expected[kind][2]
                differs = next((at for at, (x, y) in enumerate(
                    zip(got[2], want)) if x != y), min(len(got[2]), len(want)))
                with lock:
                    failures.append((index, REQUESTS[kind], got[:2],
                                     expected[kind][:2], len(got[2]),
                                     len(want), differs))
            if simultaneous:
                return

    pool = [threading.Thread(target=client) for _ in range(threads)]
    start = time.monotonic()
    for thread in pool:
        thread.start()
    for thread in pool:
        thread.join()
    return failures, time.monotonic() - start


def report(failures, count, what):
    for failure in failures[:10]:
        print("FAIL: request %d %r: got status/type %r, expected %r; "
              "body %d bytes, expected %d, first difference at byte %d"
              % failure)
    if failures:
        print("FAIL: %d of %d %s differ from whirlo32's output"
              % (len(failures), count, what))
    return not failures


def check_log(log_text, errors):
    """Each error page leaves four lines of the bridge's in the log, each on
    a line of its own: whirlo32's two message lines, the diagnosis and the
    exit code; nothing else of the bridge's, no sanitizer report."""
    kinds = {"message": "whirlo32: Whirlo-32 V1.2, error : WHL1005 (cannot open picture files).",
             "help line": "whirlo32: See WHIRLO32.HLP for help",
             "diagnosis": "no frame to play (error 1005):",
             "exit code": "/whirlo32 ended with exit code %d" % MISSING_PICTURES_EXIT}
    counts = dict.fromkeys(kinds, 0)
    strays = []
    for line in log_text.splitlines():
        if "wincgi-bridge: " not in line:
            continue
        found = [kind for kind, text in kinds.items() if text in line]
        if len(found) != 1 or not line.startswith("wincgi-bridge: "):
            strays.append(line)
        else:
            counts[found[0]] += 1
    sanitizer = re.findall(r".*(?:Sanitizer|runtime error).*", log_text)
    if any(n != errors for n in counts.values()) or strays or sanitizer:
        print("FAIL: server log for %d error pages: %r, other lines %r, "
              "sanitizer reports %r" % (errors, counts, strays[:5], sanitizer[:5]))
        return False
    return True


def run_load():
    """Runs the load; whether every check held (the failures printed)."""
    program = given("program")
    seed = int(os.environ.get("WHIRLO_LOAD_SEED") or random.randrange(1 << 32))
    print("seed %d (WHIRLO_LOAD_SEED=%d repeats this order)" % (seed, seed))
    shuffler = random.Random(seed)

    private_temp = tempfile.mkdtemp(prefix="whirlo-load-")
    os.chmod(private_temp, 0o1777)
    scratch = tempfile.mkdtemp(prefix="whirlo-load-expected-")
    site = start_site(given("bridge"), program, private_temp)
    try:
        expected = [split_response(direct_output(
            program, scratch, folder, query, agent,
            os.path.join(site.work, folder, "pelk.ini")))
            for folder, _, query, agent in REQUESTS]
        before = tree(site)
        order = [i % len(REQUESTS) for i in range(REQUEST_COUNT)]
        shuffler.shuffle(order)
        failures, elapsed = run_clients(site.port, order, expected,
                                        CONCURRENCY)
        together = [i % len(REQUESTS) for i in range(SIMULTANEOUS)]
        shuffler.shuffle(together)
        failures_together, elapsed_together = run_clients(
            site.port, together, expected, len(together), simultaneous=True)
        # The last bridges may still be tidying up when their clients are done.
        wait_until(lambda: not os.listdir(private_temp))
        after = tree(site)
    finally:
        site.stop()
        log_text = site.log()
        site.remove()

    print("%d requests, %d at a time, %.1f s, %.1f requests/s"
          % (len(order), CONCURRENCY, elapsed, len(order) / elapsed))
    print("%d connections at once: %d answered as whirlo32 writes, in %.1f s"
          % (len(together), len(together) - len(failures_together),
             elapsed_together))
    ok = report(failures, len(order), "responses")
    ok = report(failures_together, len(together), "simultaneous responses") and ok
    if after != before:
        print("FAIL: left behind in the CGI folders: %r"
              % sorted(set(after.items()) ^ set(before.items()))[:20])
        ok = False
    leftovers = os.listdir(private_temp)
    if leftovers:
        print("FAIL: left in the bridge's temporary folder: %r" % leftovers)
        ok = False
    errors = sum(1 for kind in order + together if REQUESTS[kind][2] == "nosuch?.gif")
    ok = check_log(log_text, errors) and ok
    shutil.rmtree(private_temp, ignore_errors=True)
    shutil.rmtree(scratch, ignore_errors=True)
    return ok


class Load(unittest.TestCase):
    def test_every_response_is_whirlo32s_and_nothing_is_left(self):
        self.assertTrue(run_load(), "the failures are printed above")
