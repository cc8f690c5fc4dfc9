#!/usr/bin/env python3
"""The script a site owner might write instead of whirlo32: the same
server-push response for the same query and the same files, in plain
Python 3. It serves as the comparison peer of the benchmark, so it covers
the commands the workloads use (base, extension, U, D, S, E, L, N) and the
same lookup rules (case-insensitive names, one listing per folder)."""
import configparser
import os
import sys

BOUNDARY = b"\n--sometext\n"
MIME = {".GIF": b"image/gif", ".JPG": b"image/jpeg", ".TIF": b"image/tif"}


def profile(path):
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str.lower
    with open(path, encoding="latin-1") as f:
        parser.read_string(f.read())
    return {s.lower(): dict(parser[s]) for s in parser.sections()}


def allows(value, fragments):
    items = [f for f in fragments.split(",") if f]
    return not items or any(f in value for f in items)


class Folder:
    """Case-insensitive file lookup with one directory listing."""

    def __init__(self, path):
        self.path = path
        self.names = {}
        for name in sorted(os.listdir(path or "."), reverse=True):
            self.names[name.upper()] = name

    def find(self, name):
        actual = self.names.get(name.upper())
        return None if actual is None else self.path + actual


def main():
    request = profile(sys.argv[1])
    os.remove(sys.argv[1])
    config = profile("pelk.ini").get("whirl", {})
    folder = Folder(config.get("animation path", ""))
    query = request.get("cgi", {}).get("query string", "").upper()
    fields = query.split("?")
    base = fields[0] if query else "Whirlo"
    ext = fields[1][:4] if len(fields) > 1 else ".GIF"
    start, end = 1, None
    still = base + ("1" if query else "8") + ext
    steps = []
    for field in fields[2:]:
        letter = field[:1]
        if letter in ("U", "D"):
            steps.append(letter)
        elif letter == "S":
            start = int(field[6:8])
        elif letter == "E":
            end = int(field[4:6])
        elif letter == "L":
            steps.append(int(field[5:6]))
        elif letter == "N":
            still = base + field[7:9] + ext
    if not steps:
        steps = ["U"]
    if end is None:
        end = start
        while end < 99 and folder.find(base + str(end) + ext):
            end += 1
        end -= 1

    out = open(request["system"]["output file"], "wb")
    out.write(b"HTTP/1.0 200 OK\n")
    if start >= end:
        out.write(b"Content-type: text/html\n\n<html><body>Whirlo-32 V1.2, "
                  b"error : WHL1005 (cannot open picture files)</body></html>"
                  + BOUNDARY)
        out.close()
        sys.stdout.write("\nWhirlo-32 V1.2, error : WHL1005 (cannot open "
                         "picture files).\nSee WHIRLO32.HLP for help")
        return 1005

    def part(name):
        path = folder.find(name)
        if path:
            with open(path, "rb") as f:
                out.write(b"Content-type: " + MIME[ext] + b"\n\n" + f.read()
                          + BOUNDARY)

    agent = request.get("extra headers", {}).get("user-agent", "")
    if not allows(agent, config.get("allow viewer", "")):
        part(still)
        return 0
    out.write(b"Content-type: multipart/x-mixed-replace;boundary=sometext\n"
              + BOUNDARY)
    i = 0
    while i < len(steps):
        step = steps[i]
        if step == "U":
            for n in range(start, end + 1):
                part(base + str(n) + ext)
        elif step == "D":
            for n in range(end, start - 1, -1):
                part(base + str(n) + ext)
        elif step == 0:
            break  # a spent repeat count ends the table
        else:
            steps[i] = step - 1
            i = 0
            continue
        i += 1
    out.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
