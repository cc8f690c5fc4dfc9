"""The benchmark's workloads: frame folders, configuration and request for
each, the files `cat` copies for the same response, and what the response
must hold."""
import os
import random
import shutil

DEMO_FRAMES = [f"whirlo{n}.gif" for n in range(1, 14)]
ERROR_PAGE = (b"HTTP/1.0 200 OK\nContent-type: text/html\n\n<html><body>"
              b"Whirlo-32 V1.2, error : WHL1005 (cannot open picture files)"
              b"</body></html>\n--sometext\n")


class Workload:
    def __init__(self, tmp, name, frames_dir, query, cat_files, parts,
                 agent="Mozilla/5.0", viewers="", exit_code=0):
        self.name = name
        self.root = os.path.join(tmp, name)
        self.cgi_dir = os.path.join(self.root, "cgi")
        self.windir = os.path.join(self.root, "windows")
        out_dir = os.path.join(self.root, "out")
        for d in (self.cgi_dir, self.windir, out_dir):
            os.makedirs(d)
        self.request = os.path.join(self.root, "request.ini")
        self.output = os.path.join(out_dir, "response")
        self.cat_output = os.path.join(out_dir, "cat")
        self.cat_files = cat_files
        self.parts = parts
        self.exit_code = exit_code
        with open(os.path.join(self.cgi_dir, "pelk.ini"), "w") as f:
            f.write(f"[Whirl]\nAnimation Path={frames_dir}/\n"
                    f"Allow Only=\nAllow Viewer={viewers}\n")
        self.request_text = (
            f"[CGI]\nRequest Method=GET\nQuery String={query}\n"
            f"Referer=http://localhost/page.html\nContent File=\n"
            f"[Extra Headers]\nUser-Agent={agent}\n"
            f"[System]\nOutput File={self.output}\n").encode()

    def write_request(self):
        # The program deletes its data file, so every run gets a new one.
        with open(self.request, "wb") as f:
            f.write(self.request_text)


def make_long_frames(folder, count=99, size=100_000):
    """FRAME1.GIF ... FRAME99.GIF of about 100 KB each (not real pictures:
    the program copies bytes and never decodes them)."""
    os.makedirs(folder)
    rng = random.Random(7)
    for n in range(1, count + 1):
        body = rng.randbytes(size + rng.randrange(-5000, 5000))
        with open(os.path.join(folder, f"FRAME{n}.GIF"), "wb") as f:
            f.write(b"GIF89a" + body)


def make_crowded_frames(folder, demo_dir, others=10_000):
    """The demonstration frames among 10,000 other files."""
    os.makedirs(folder)
    for name in DEMO_FRAMES:
        shutil.copy(os.path.join(demo_dir, name), folder)
    for n in range(others):
        with open(os.path.join(folder, f"other{n:05d}.txt"), "wb") as f:
            f.write(b"x")


def build_all(tmp, root):
    demo_dir = os.path.join(root, "dist", "frames")
    demo_files = [os.path.join(demo_dir, n) for n in DEMO_FRAMES]

    long_dir = os.path.join(tmp, "long-frames")
    make_long_frames(long_dir)
    # Frames 1 to 99 ascending, the whole run played five times.
    long_query = "FRAME?.GIF?U?S=====1?E===99?L====4"
    long_files = [os.path.join(long_dir, f"FRAME{n}.GIF")
                  for n in range(1, 100)] * 5

    crowded_dir = os.path.join(tmp, "crowded-frames")
    make_crowded_frames(crowded_dir, demo_dir)

    error_file = os.path.join(tmp, "error-page")
    with open(error_file, "wb") as f:
        f.write(ERROR_PAGE)

    return [
        Workload(tmp, "demo", demo_dir, "", demo_files, parts=13),
        Workload(tmp, "long", long_dir, long_query, long_files, parts=495),
        # A viewer off the "Allow Viewer" list gets the still Whirlo8.GIF.
        Workload(tmp, "still", demo_dir, "",
                 [os.path.join(demo_dir, "whirlo8.gif")], parts=1,
                 agent="Lynx/2.8.9", viewers="Mozilla"),
        # Start frame 20 of 13 frames: an empty range and the error page.
        Workload(tmp, "empty", demo_dir, "WHIRLO?.GIF?S=====20",
                 [error_file], parts=0, exit_code=1005),
        Workload(tmp, "crowded", crowded_dir, "",
                 [os.path.join(crowded_dir, n) for n in DEMO_FRAMES],
                 parts=13),
    ]
