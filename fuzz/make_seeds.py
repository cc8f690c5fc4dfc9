#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are the inputs of the unit and end-to-end tests, pulled from
their sources, put into each target's input format, plus a few cases that
sit on the edges the targets check. Run again after the tests change:

    python3 fuzz/make_seeds.py
"""

import hashlib
import os
import re
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")

LITERAL = r'"(?:[^"\\\n]|\\.)*"'


def unescape(literal):
    """The bytes of a C++ or Python string literal (simple escapes only)."""
    body = literal[1:-1]
    out = bytearray()
    i = 0
    simple = {"n": 10, "r": 13, "t": 9, "0": 0, "\\": 92, '"': 34, "'": 39}
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]{1,2}", body[i + 2:])
                out.append(int(m.group(0), 16))
                i += 2 + len(m.group(0))
                continue
            out.append(simple.get(nxt, ord(nxt)))
            i += 2
            continue
        out += c.encode("latin-1")
        i += 1
    return bytes(out)


def source(*parts):
    path = os.path.join(REPO, *parts)
    if not os.path.exists(path):
        return ""
    with open(path, encoding="latin-1") as f:
        return f.read()


def calls(text, name, args):
    """Literal arguments of calls name(lit, lit, ...) with `args` literals."""
    pattern = re.escape(name) + r"\(\s*" + r"\s*,\s*".join([LITERAL] * args)
    found = []
    for m in re.finditer(pattern, text):
        found.append([unescape(x) for x in re.findall(LITERAL, m.group(0))])
    return found


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for seed in sorted(set(seeds)):
        name = hashlib.sha1(seed).hexdigest()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)
    return len(set(seeds))


def query_seeds():
    queries = set()
    unit = source("tests", "unit", "query_parser_test.cc") + source(
        "tests", "unit", "player_test.cc")
    for (q,) in calls(unit, "parse", 1) + calls(unit, "play", 1):
        queries.add(q)
    e2e = "".join(source("tests", "e2e", n) for n in sorted(
        os.listdir(os.path.join(REPO, "tests", "e2e")))
        if n.endswith(".py")) if os.path.isdir(
            os.path.join(REPO, "tests", "e2e")) else ""
    for (q,) in calls(e2e, "request", 1):
        queries.add(q)
    queries |= {b"", b"whirlo", b"a?.GIF?U?D?L====3", b"b?.JPG?S=====90",
                b"C?.TIF?R?O", b"?.GIF?P====LOGO.TIF?P====X.BMP",
                b"a?.GIF?O", b"a?.GIF?P====LOGO", b"d?.GIF?S=====1?E===2",
                b"../A?.GIF?S=====1?E===3", b"a?.GIF?P====../S1.GIF",
                b"a?.GIF?N======SUB/A1.GIF", b"a?.GIF?" + b"U?" * 55}
    return [flag + q for q in queries for flag in (b"\x00", b"\x01")]


def profile_seeds():
    seeds = []
    unit = source("tests", "unit", "profile_parser_test.cc")
    for text, section, key in calls(unit, "lookup", 3):
        seeds.append(bytes([255]) + section + b"\n" + key + b"\n<default>\n" + text)
    long_value = b"[S]\nk=" + b"x" * 300 + b"\n"
    seeds += [bytes([255]) + b"S\nk\n\n" + long_value,
              bytes([1]) + b"S\nk\n\n[S]\nk=v\n",
              bytes([0]) + b"S\nk\ndef  \n",
              bytes([4]) + b"WHIRL\nAllow Only\nd e f   \n[Whirl]\r\nAllow Only=a,b\r\n"]
    return seeds


def tail_seeds():
    unit = source("tests", "unit", "command_tail_test.cc")
    lines = [x[0] for x in calls(unit, "command_tail", 1)]
    lines += [b"prog " + x[0] for x in calls(unit, "data_file_path", 1)]
    return lines + [b"", b'"', b'""', b"\x00", b"prog\x00 x"]


def list_seeds():
    unit = source("tests", "unit", "access_list_test.cc")
    pairs = calls(unit, "allows", 2) + calls(unit, "cgi::list_allows", 2)
    return [v + b"\n" + l for v, l in pairs] + [b"abc\n,", b"abc\n", b"\nx"]


def part_seeds():
    awkward = b"\r\n\x1a\x00\n\r\xff"
    sizes = [0, 1, 32767, 32768, 32769]
    seeds = []
    for choice in range(9):
        # The block edges once, for a known extension; small files for all.
        for size in sizes if choice == 0 else sizes[:2]:
            seeds.append(bytes([choice]) + (awkward * (size // 7 + 1))[:size])
    return seeds


def fcgi_record(kind, request, content=b""):
    padding = -len(content) % 8
    return (bytes([1, kind, request >> 8, request & 255, len(content) >> 8,
                   len(content) & 255, padding, 0]) + content + bytes(padding))


def fcgi_pairs(pairs):
    def length(n):
        return bytes([n]) if n < 128 else (n | 1 << 31).to_bytes(4, "big")
    return b"".join(length(len(k)) + length(len(v)) + k + v for k, v in pairs)


def fcgi_request(request, pairs, body=b"", role=1, keep=1):
    return (fcgi_record(1, request, bytes([0, role, keep]) + bytes(5)) +
            fcgi_record(4, request, fcgi_pairs(pairs)) + fcgi_record(4, request) +
            fcgi_record(5, request, body) * bool(body) + fcgi_record(5, request))


def fastcgi_seeds():
    cgi = [(b"REQUEST_METHOD", b"GET"), (b"QUERY_STRING", b"a?.GIF?U"),
           (b"HTTP_USER_AGENT", b"x" * 200), (b"NUL\x00NAME", b"")]
    values = fcgi_record(9, 0, fcgi_pairs([(b"FCGI_MAX_CONNS", b""),
                                           (b"FCGI_MAX_REQS", b""),
                                           (b"FCGI_MPXS_CONNS", b"")]))
    two = fcgi_request(1, cgi, b"body")
    mixed = (fcgi_record(1, 2, bytes([0, 1, 0]) + bytes(5)) +
             fcgi_record(4, 2, fcgi_pairs(cgi[:2])))
    streams = [two, values + two + two, mixed + two + fcgi_record(4, 2) +
               fcgi_record(2, 2) + fcgi_record(5, 2, b"late"),
               fcgi_request(3, cgi, role=3) + fcgi_record(8, 3, b"data"),
               fcgi_record(1, 4, bytes([0, 1, 0]) + bytes(5)) + fcgi_record(2, 4),
               fcgi_record(40, 1) + fcgi_record(40, 0) + fcgi_record(5, 9, b"stray"),
               two[:8] + b"\x02" + two[9:]]
    return [bytes([limits, 7]) + s for s in streams for limits in (0x61, 0x03)]


def data_file_seeds():
    def pairs(*items):
        return b"".join(bytes([len(k)]) + len(v).to_bytes(2, "big") + k + v for k, v in items)
    hostile = [(b"HTTP_USER_AGENT", b"x; id > F; exit 0;\r\n[System]\r\nOutput File=/etc/passwd"),
               (b"HTTP_REFERER", b"$(touch F)"), (b"HTTP_OUTPUT_FILE", b"/etc/shadow"),
               (b"HTTP_X_\r\n[System]", b"v"), (b"HTTP_ACCEPT", b"image/gif, [x]=y;q=1, */*"),
               (b"HTTP_AUTHORIZATION", b"Basic dTpwCg=="), (b"CONTENT_LENGTH", b"7")]
    return [pairs(*hostile), pairs(hostile[0], (b"HTTP_USER_AGENT", b"Mozilla/5.0")),
            pairs((b"QUERY_STRING", b"a?.GIF?U"), (b"HTTP_COOKIE", b"\x00" * 9000)),
            pairs((b"HTTP_X_A", b"1"), (b"HTTP_x_a", b"2"), (b"SERVER_PROTOCOL", b"HTTP/1.1"))]


def relay_seeds():
    push = (b"Content-type: multipart/x-mixed-replace;boundary=B\n\n--B\n"
            + b"".join(b"Content-type: image/gif\n\n" + bytes([65 + i]) * 40
                       + b"\n--B\n" for i in range(4)))
    files = [push, push.replace(b"\n", b"\r\n"), b"HTTP/1.0 200 OK\r\n\r\nbody",
             b"Status: 404 Nope\nURI: /x\nno colon\n\nbody", b"\n\nonly body",
             b"Content-type: text/plain\n" + b"x" * 66000, b"HTTP/1.0 2x\n\n"]
    return [bytes([choice, 3]) + f for f in files for choice in (0, 1, 7)]


def event_seeds():
    def feed(peer, data):
        return b"".join(bytes([peer, len(data[i:i + 255])]) + data[i:i + 255]
                        for i in range(0, len(data), 255))
    cgi = [(b"REQUEST_METHOD", b"GET"), (b"HTTP_X", b"y" * 100)]
    one = fcgi_request(1, cgi)
    half = fcgi_record(1, 2, bytes([0, 1, 1]) + bytes(5)) + fcgi_record(4, 2, fcgi_pairs(cgi))
    events = [feed(0, one) + b"\x02" + feed(1, one) + b"\x03",
              feed(0, half) + b"\x44" + feed(1, half) + b"\x06" + feed(0, one),
              feed(0, half + half) + b"\x84" + b"\x07" + feed(1, b"\x07" * 9)]
    return [bytes([budget]) + e for e in events for budget in (0, 2, 7)]


def main():
    for target, seeds in [("query_walk_fuzzer", query_seeds()),
                          ("play_source_fuzzer", query_seeds()),
                          ("profile_fuzzer", profile_seeds()),
                          ("command_tail_fuzzer", tail_seeds()),
                          ("list_allows_fuzzer", list_seeds()),
                          ("picture_part_fuzzer", part_seeds()),
                          ("fastcgi_fuzzer", fastcgi_seeds()),
                          ("data_file_fuzzer", data_file_seeds()),
                          ("output_relay_fuzzer", relay_seeds()),
                          ("fastcgi_events_fuzzer", event_seeds())]:
        print("%-22s %d seeds" % (target, write(target, seeds)))


if __name__ == "__main__":
    main()
