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
import sys
import tempfile

from webstack import Server, find_server, on_free_port, port_is_free

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
        self.conf = os.path.join(self.work, "lighttpd.conf")

        def start(port):
            self.port = port
            with open(self.conf, "w") as handle:
                handle.write(config(port, site, frames, folders, settings,
                                    self.error_log))
            self.server = Server([find_server("lighttpd"), "-D", "-f", self.conf],
                                 port, self.output_log if quiet else None,
                                 quote=[self.error_log, self.output_log])
        try:
            if port:
                start(port)
            else:  # another free port when one is taken before lighttpd binds it
                on_free_port(start)
        except RuntimeError:
            shutil.rmtree(self.work, ignore_errors=True)
            raise
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

    def log(self):
        """lighttpd's error log, then what the programs wrote."""
        return self.server.log()

    def stop(self):
        self.server.stop()

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
