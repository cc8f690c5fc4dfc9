#!/usr/bin/env python3
"""The demonstration site under lighttpd 1.4, set up as a deployment is.

    python3 tools/lighttpd_site.py --bridge B --program P [--port N] [--interval MS]

Lays out a private folder with one CGI folder per viewer setting (the
program, its pelk.ini and the bridge copied under both script names),
writes a configuration whose CGI part is the README's lighttpd snippet,
and runs lighttpd on 127.0.0.1 serving site/, the frames under /frames/ and
the bridge under /cgi-bin/ (animating viewers: "Mozilla") and /cgi-still/
(no viewer animates, so every browser gets the still picture). Prints the
address and serves until Ctrl-C. tools/serve builds and runs this; the
browser and load tests use Site directly.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE = os.path.join(REPO, "site")
FRAMES = os.path.join(REPO, "dist", "frames")
SCRIPTS = ("whirlo32.cgi", "nph-whirlo32.cgi")
VIEWERS = {"cgi-bin": "Mozilla", "cgi-still": "NoViewerAnimates"}
MIME_TYPES = {".html": "text/html; charset=utf-8", ".css": "text/css",
              ".gif": "image/gif", ".png": "image/png", ".js": "text/javascript"}
DEFAULT_PORT = 8032


def quoted_pairs(pairs):
    return ", ".join('"%s" => "%s"' % pair for pair in pairs)


def snippet(folders, settings):
    """The README's lighttpd lines for CGI folders [(URL prefix, path)]
    with the bridge's settings [(variable, value)]."""
    lines = ['server.modules += ("mod_alias", "mod_cgi", "mod_setenv")',
             "server.stream-response-body = 2"]
    lines += ['alias.url += ("%s" => "%s/")' % (url, path) for url, path in folders]
    for url, _ in folders:
        lines += ['$HTTP["url"] =~ "^%s" {' % url,
                  '    cgi.assign = (".cgi" => "")',
                  '    static-file.exclude-extensions = ("")',
                  "    setenv.add-environment = (%s)" % quoted_pairs(settings),
                  "}"]
    return "\n".join(lines) + "\n"


def config(port, site, frames, folders, settings, error_log):
    """A whole configuration: 127.0.0.1:port serving site and /frames/,
    then the snippet."""
    return "\n".join([
        'server.bind = "127.0.0.1"',
        "server.port = %d" % port,
        'server.document-root = "%s"' % site,
        'server.errorlog = "%s"' % error_log,
        'index-file.names = ("index.html")',
        "mimetype.assign = (%s)" % quoted_pairs(sorted(MIME_TYPES.items())),
        snippet(folders, settings) + 'alias.url += ("/frames/" => "%s/")' % frames,
        ""])


def lighttpd():
    path = shutil.which("lighttpd", path="/usr/sbin:/usr/bin:/sbin:/bin")
    if not path:
        raise RuntimeError("lighttpd is not installed (Debian package: lighttpd)")
    return path


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def port_is_free(port):
    """Whether lighttpd could listen on port (it, too, sets SO_REUSEADDR,
    so connections of an earlier run in TIME_WAIT do not count)."""
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


class Site:
    """lighttpd serving a site through the bridge from a private folder:

        work/cgi-bin, work/cgi-still   whirlo32, pelk.ini, the bridge as
                                       whirlo32.cgi and nph-whirlo32.cgi
        work/lighttpd.conf, work/error.log, work/output.log

    settings are the bridge's [(variable, value)] for every script folder.
    lighttpd hands its standard error to the CGI programs, so the bridge's
    notes and whirlo32's messages go there: into work/output.log unless
    quiet is false (then to ours).
    """

    def __init__(self, bridge, program, settings, port=0, site=SITE,
                 frames=FRAMES, quiet=True):
        self.work = tempfile.mkdtemp(prefix="whirlo-site-")
        os.chmod(self.work, 0o755)
        self.error_log = os.path.join(self.work, "error.log")
        self.output_log = os.path.join(self.work, "output.log")
        folders = [("/%s/" % name, self.cgi_folder(name, viewers, bridge, program, frames))
                   for name, viewers in VIEWERS.items()]
        self.port = port or free_port()
        self.conf = os.path.join(self.work, "lighttpd.conf")
        with open(self.conf, "w") as handle:
            handle.write(config(self.port, site, frames, folders, settings,
                                self.error_log))
        output = open(self.output_log, "w") if quiet else None
        # A session of its own, so that Ctrl-C reaches only us and we stop it.
        self.server = subprocess.Popen([lighttpd(), "-D", "-f", self.conf],
                                       stdin=subprocess.DEVNULL, stdout=output,
                                       stderr=output, start_new_session=True)
        if output:
            output.close()
        try:
            self.wait_until_listening()
        except RuntimeError as error:
            log = self.log()
            self.remove()
            raise RuntimeError("%s\n%s" % (error, log)) from None
        self.address = "http://127.0.0.1:%d/" % self.port

    def cgi_folder(self, name, viewers, bridge, program, frames):
        path = os.path.join(self.work, name)
        os.mkdir(path)
        os.chmod(path, 0o755)
        shutil.copy(program, os.path.join(path, "whirlo32"))
        for script in SCRIPTS:
            shutil.copy(bridge, os.path.join(path, script))
        with open(os.path.join(path, "pelk.ini"), "w") as ini:
            ini.write("[Whirl]\nAnimation Path=%s/\nAllow Only=\nAllow Viewer=%s\n"
                      % (frames, viewers))
        return path

    def wait_until_listening(self, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.server.poll() is not None:
                raise RuntimeError("lighttpd exited with code %d"
                                   % self.server.returncode)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("lighttpd did not listen on port %d" % self.port)

    def log(self):
        """lighttpd's error log, then what the programs wrote."""
        text = ""
        for path in (self.error_log, self.output_log):
            if os.path.exists(path):
                with open(path, errors="replace") as handle:
                    text += handle.read()
        return text

    def stop(self):
        if self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()

    def remove(self):
        self.stop()
        shutil.rmtree(self.work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--port", type=int, default=None,
                        help="default %d, or any free port when it is taken; 0: any"
                        % DEFAULT_PORT)
    parser.add_argument("--interval", type=int, default=100,
                        help="frame interval of the bridge in ms (0: no pacing)")
    options = parser.parse_args()
    for path in (options.bridge, options.program):
        if not os.access(path, os.X_OK):
            sys.exit("no executable at %s (build first)" % path)
    port = options.port
    if port is None:
        port = DEFAULT_PORT if port_is_free(DEFAULT_PORT) else 0
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    site = None
    try:
        site = Site(options.bridge, options.program, port=port, quiet=False,
                    settings=[("WINCGI_FRAME_INTERVAL", str(options.interval))])
        print("Serving the Whirlo-32 demo with lighttpd at %s  (Ctrl-C stops)"
              % site.address, flush=True)
        site.server.wait()
        sys.exit("lighttpd ended unexpectedly:\n" + site.log())
    except KeyboardInterrupt:
        pass
    except RuntimeError as error:
        sys.exit(str(error))
    finally:
        if site:
            site.remove()


if __name__ == "__main__":
    main()
