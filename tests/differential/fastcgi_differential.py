"""whirlo32-fastcgi against the bridge's FastCGI mode running whirlo32.

Runs the whole end-to-end suite (tests/e2e) as it stands, with every
request it makes also sent, with the same query, referer and user agent,
in the same folder layout at that moment, to two FastCGI services started
for each test's site: the bridge running a copy of whirlo32 in the site's
program folder, and whirlo32-fastcgi from that folder. Each request goes
two ways (CGI headers unpaced, NPH paced) and the two answers must be the
same bytes; a difference fails the end-to-end test that made the request.
Requests the services cannot make (a data file written as raw text, a run
in another folder) are left out, and at the end a count shows that the
corpus was covered.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from lib import tree
from lib.cases import describe_difference
from lib.fastcgi_client import ask
from lib.given import given
from lib.programs import COARSE_CLOCK_LAG
from webstack import stop, wait_until

E2E = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e")
# At least this many end-to-end requests must have gone both ways.
LEAST_REPLAYED = 300
# CGI headers unpaced, and NPH paced: between them the header conversion,
# the direct answer, the held-back and the paced cut.
VARIANTS = (("whirlo32.cgi", None), ("nph-whirlo32.cgi", "1"))
replayed = {"requests": 0, "skipped": 0}


class Services:
    """The two services for one site, sockets and logs outside its tree."""

    def __init__(self, site):
        self.site = site
        self.folder = tempfile.mkdtemp(prefix="whl-fcgi-")
        self.processes = []
        shutil.copy(given("program"), os.path.join(site.cgi, "whirlo32"))
        shutil.copy(given("fastcgi_program"),
                    os.path.join(site.cgi, "whirlo32-fastcgi"))
        env = {"PATH": "/usr/bin:/bin", "WINDIR": site.windir,
               "WINCGI_TEMP": self.mkdir("spool")}
        self.bridge = self.start("bridge", [
            given("bridge"), "--program", os.path.join(site.cgi, "whirlo32")], env)
        self.player = self.start("player", [
            os.path.join(site.cgi, "whirlo32-fastcgi")], env)

    def mkdir(self, name):
        path = os.path.join(self.folder, name)
        os.mkdir(path)
        return path

    def start(self, name, command, env):
        path = os.path.join(self.folder, name + ".sock")
        log = open(os.path.join(self.folder, name + ".log"), "wb")
        process = subprocess.Popen(command + ["--fastcgi", "unix:" + path, "--allow-root"],
                                   env=env, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=log)
        log.close()
        self.processes.append(process)
        # It listens once it has logged its start line.
        started = lambda: "FastCGI service on" in self.log(name)
        if not wait_until(lambda: started() or process.poll() is not None):
            raise RuntimeError("%s did not start: %s" % (name, self.log(name)))
        if not started():
            raise RuntimeError("%s ended: %s" % (name, self.log(name)))
        return path

    def log(self, name):
        with open(os.path.join(self.folder, name + ".log"), "rb") as f:
            return f.read()[-2000:].decode("latin-1")

    def close(self):
        for process in self.processes:
            stop(process)
        shutil.rmtree(self.folder, ignore_errors=True)

    def compare(self, query, referer, user_agent):
        for script, interval in VARIANTS:
            params = {"SCRIPT_FILENAME": os.path.join(self.site.cgi, script),
                      "SCRIPT_NAME": "/cgi-win/" + script, "QUERY_STRING": query,
                      "REQUEST_METHOD": "GET", "SERVER_PROTOCOL": "HTTP/1.0",
                      "GATEWAY_INTERFACE": "CGI/1.1"}
            if referer is not None:
                params["HTTP_REFERER"] = referer
            if user_agent is not None:
                params["HTTP_USER_AGENT"] = user_agent
            if interval:
                params["WINCGI_FRAME_INTERVAL"] = interval
            # A random step is seeded with the second: a pair that straddles
            # one is asked again. The programs read a coarse clock, which may
            # lag ours by a tick: the second is taken a little early.
            for _ in range(3):
                second = int(time.time() - COARSE_CLOCK_LAG)
                bridged = ask(self.bridge, params)
                played = ask(self.player, params)
                if bridged == played or int(time.time()) == second:
                    break
            if bridged != played:
                raise AssertionError(
                    "whirlo32-fastcgi differs from the bridge for %r (%s%s): %s"
                    "\nstatus %r / %r\nbridge log: %s\nplayer log: %s" % (
                        params, script, ", paced" if interval else "",
                        describe_difference(played[0], bridged[0]),
                        played[1], bridged[1], self.log("bridge"), self.log("player")))
        replayed["requests"] += 1


def install_hooks():
    """Every Site gets its services; each request written as values and run
    in the program folder is replayed after the direct run."""
    site_init, site_close = tree.Site.__init__, tree.Site.close
    write_data_file, run = tree.Site.write_data_file, tree.Site.run

    def init(self, *args, **kwargs):
        site_init(self, *args, **kwargs)
        self.requests = {}
        self.services = Services(self)

    def close(self):
        self.services.close()
        site_close(self)

    def write(self, query="", referer=None, user_agent=None, output=True,
              content=True, text=None):
        paths = write_data_file(self, query, referer, user_agent, output,
                                content, text)
        if text is None:
            self.requests[self.host(paths[0])] = (query, referer, user_agent)
        return paths

    def run_and_replay(self, words, cwd=None, *args, **kwargs):
        result = run(self, words, cwd, *args, **kwargs)
        values = self.requests.get(words[0]) if words else None
        if values is None or cwd not in (None, self.cgi) or len(words) != 1:
            replayed["skipped"] += 1
        else:
            self.services.compare(*values)
        return result

    tree.Site.__init__, tree.Site.close = init, close
    tree.Site.write_data_file, tree.Site.run = write, run_and_replay


class CorpusCovered(unittest.TestCase):
    def test_the_end_to_end_requests_went_both_ways(self):
        print("\n%(requests)d end-to-end requests compared, %(skipped)d left out"
              % replayed)
        self.assertGreaterEqual(replayed["requests"], LEAST_REPLAYED)


def load_tests(loader, standard_tests, pattern):
    install_hooks()
    suite = unittest.TestSuite()
    suite.addTests(loader.discover(E2E, pattern="test_*.py", top_level_dir=E2E))
    suite.addTests(loader.loadTestsFromTestCase(CorpusCovered))
    return suite
