#!/usr/bin/env python3
"""Development server for the demonstration site (Python standard library only).

    python3 tools/demo_server.py [--port N] [--interval MS] [--bridge B --program P]

Serves site/ and the demonstration frames, and runs the bridge as a CGI/1.1
server would for addresses under /cgi-bin/ (animating viewers: "Mozilla")
and /cgi-still/ (no viewer animates, so every browser gets the still
picture). Script names starting with "nph-" are relayed unparsed. Listens
on 127.0.0.1 only and prints the address once it is ready.
"""

import argparse
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import urllib.parse

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE = os.path.join(REPO, "site")
FRAMES = os.path.join(REPO, "dist", "frames")
SCRIPT_FOLDERS = {"cgi-bin": "Mozilla", "cgi-still": "NoViewerAnimates"}
SCRIPTS = ("whirlo32.cgi", "nph-whirlo32.cgi")
STATIC_TYPES = {".html": "text/html; charset=utf-8", ".css": "text/css",
                ".gif": "image/gif", ".png": "image/png", ".js": "text/javascript"}
MAX_BODY = 1 << 20
DEFAULT_PORT = 8032


def make_cgi_folders(work, bridge, program):
    """Lays out one folder per viewer setting: the program, its pelk.ini and
    the bridge under both script names."""
    for folder, viewers in SCRIPT_FOLDERS.items():
        path = os.path.join(work, folder)
        os.makedirs(path)
        os.symlink(program, os.path.join(path, "whirlo32"))
        for name in SCRIPTS:
            os.symlink(bridge, os.path.join(path, name))
        with open(os.path.join(path, "pelk.ini"), "w") as ini:
            ini.write("[Whirl]\nAnimation Path=%s/\nAllow Only=\nAllow Viewer=%s\n"
                      % (FRAMES, viewers))
    for name in ("windows", "temp"):
        os.makedirs(os.path.join(work, name))


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "WhirloDemo/1.0"
    protocol_version = "HTTP/1.0"

    def do_GET(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def log_message(self, fmt, *args):
        if self.server.verbose:
            super().log_message(fmt, *args)

    def dispatch(self):
        path = urllib.parse.urlsplit(self.path).path
        parts = path.split("/")
        if len(parts) >= 3 and parts[1] in SCRIPT_FOLDERS and parts[2] in SCRIPTS:
            self.run_script(parts[1], parts[2], "/".join([""] + parts[3:]))
        elif path.startswith("/frames/"):
            self.send_static(FRAMES, path[len("/frames/"):])
        else:
            self.send_static(SITE, path.lstrip("/") or "index.html")

    def send_static(self, root, name):
        name = urllib.parse.unquote(name)
        if self.command == "POST" or "/" in name or name.startswith("."):
            return self.send_error(404)
        file_path = os.path.join(root, name)
        if not os.path.isfile(file_path):
            return self.send_error(404)
        with open(file_path, "rb") as handle:
            data = handle.read()
        self.send_response(200)
        self.send_header("Content-Type", STATIC_TYPES.get(
            os.path.splitext(name)[1], "application/octet-stream"))
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def cgi_environment(self, folder, script, path_info):
        query = urllib.parse.urlsplit(self.path).query
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "GATEWAY_INTERFACE": "CGI/1.1",
            "SERVER_SOFTWARE": self.version_string(),
            "SERVER_NAME": "127.0.0.1",
            "SERVER_PORT": str(self.server.server_address[1]),
            "SERVER_PROTOCOL": self.request_version,
            "REQUEST_METHOD": self.command,
            "SCRIPT_NAME": "/%s/%s" % (folder, script),
            "SCRIPT_FILENAME": os.path.join(self.server.work, folder, script),
            "PATH_INFO": path_info,
            "QUERY_STRING": query,
            "REMOTE_ADDR": self.client_address[0],
            "DOCUMENT_ROOT": SITE,
            "WINDIR": os.path.join(self.server.work, "windows"),
            "WINCGI_TEMP": os.path.join(self.server.work, "temp"),
            "WINCGI_FRAME_INTERVAL": str(self.server.interval),
            "WINCGI_TIMEOUT": "30",
        }
        for name, value in self.headers.items():
            key = name.upper().replace("-", "_")
            if key.replace("_", "").isalnum() and key not in (
                    "CONTENT_TYPE", "CONTENT_LENGTH", "PROXY"):
                env["HTTP_" + key] = value
        if self.headers.get("Content-Type"):
            env["CONTENT_TYPE"] = self.headers["Content-Type"]
        if self.headers.get("Content-Length"):
            env["CONTENT_LENGTH"] = self.headers["Content-Length"]
        return env

    def run_script(self, folder, script, path_info):
        env = self.cgi_environment(folder, script, path_info)
        body = b""
        length = env.get("CONTENT_LENGTH", "0")
        if not length.isdigit() or int(length) > MAX_BODY:
            return self.send_error(413 if length.isdigit() else 400)
        if int(length):
            body = self.rfile.read(int(length))
        cwd = os.path.join(self.server.work, folder)
        child = subprocess.Popen([os.path.join(cwd, script)], cwd=cwd, env=env,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            child.stdin.write(body)
            child.stdin.close()
            if script.startswith("nph-"):
                self.copy_stream(child.stdout)
            else:
                self.relay_parsed(child.stdout)
        except (BrokenPipeError, ConnectionResetError):
            child.send_signal(signal.SIGTERM)  # the bridge cleans up and ends
        finally:
            child.stdout.close()
            child.wait()

    def copy_stream(self, stream, first=b""):
        if first:
            self.wfile.write(first)
        while True:
            chunk = stream.read1(65536)
            if not chunk:
                break
            self.wfile.write(chunk)
            self.wfile.flush()

    def relay_parsed(self, stream):
        data = b""
        while header_end(data) < 0:
            chunk = stream.read1(65536)
            if not chunk:
                break
            data += chunk
        end = header_end(data)
        if end < 0:
            return self.send_error(502, "script wrote no header")
        status, fields = "200 OK", []
        for line in data[:end].decode("latin-1").splitlines():
            name, _, value = line.partition(":")
            if not line or not value:
                continue
            if name.lower() == "status":
                status = value.strip()
                continue
            if name.lower() == "location":
                status = "302 Found"
            fields.append((name, value.strip()))
        code, _, reason = status.partition(" ")
        self.send_response(int(code) if code.isdigit() else 502, reason or None)
        for name, value in fields:
            self.send_header(name, value)
        self.end_headers()
        self.copy_stream(stream, data[end:])


def header_end(data):
    """Index just past the empty line that ends a CGI header, or -1."""
    ends = [at + len(sep) for sep in (b"\n\n", b"\n\r\n")
            for at in [data.find(sep)] if at >= 0]
    return min(ends) if ends else -1

def open_server(port):
    if port is not None:
        return http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    try:
        return http.server.ThreadingHTTPServer(("127.0.0.1", DEFAULT_PORT), Handler)
    except OSError:
        return http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=None,
                        help="default 8032, or any free port when it is taken; 0: any")
    parser.add_argument("--interval", type=int, default=100,
                        help="frame interval of the bridge in ms (0: no pacing)")
    parser.add_argument("--bridge", default=os.path.join(REPO, "build", "bin", "wincgi-bridge"))
    parser.add_argument("--program", default=os.path.join(REPO, "build", "bin", "whirlo32"))
    parser.add_argument("-v", dest="verbose", action="store_true", help="log requests")
    options = parser.parse_args()
    for path in (options.bridge, options.program):
        if not os.access(path, os.X_OK):
            sys.exit("demo_server: no executable at %s (build first)" % path)

    work = tempfile.mkdtemp(prefix="whirlo-demo-")
    try:
        make_cgi_folders(work, os.path.abspath(options.bridge),
                         os.path.abspath(options.program))
        server = open_server(options.port)
        server.daemon_threads = True
        server.work, server.interval, server.verbose = work, options.interval, options.verbose
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
        print("Serving the Whirlo-32 demo at http://127.0.0.1:%d/  (Ctrl-C stops)"
              % server.server_address[1], flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
        finally:
            server.server_close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
