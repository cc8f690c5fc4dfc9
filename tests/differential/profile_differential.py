#!/usr/bin/env python3
"""Differential test of the private-profile reader: the native whirlo32 and
whirlo32.exe under Wine read a corpus of awkward data and configuration
files, and must behave identically: the same exit code, the same messages,
the same files created with the same bytes.

The values read are observed through what the program does with them: the
"Output File" value names the file created, the query string picks the
frames played, "Allow Only" and "Allow Viewer" decide between refusal,
animation and still picture.

    tests/run.py tests/differential/profile_differential.py --native PATH \
        --program PATH.exe --emulator tools/wine
"""
import os
import shutil
import tempfile
import unittest

from lib import programs
from lib.given import given

FRAMES = {"A": 3, "B": 2, "C d": 2}
TIDY_PELK = b"[Whirl]\r\nAnimation Path=anim/\r\nAllow Only=\r\nAllow Viewer=Mozilla\r\n"


def data(query=b"A", out=b"out.txt", agent=b"Mozilla/5.0", referer=b""):
    return (b"[CGI]\r\nQuery String=" + query + b"\r\nReferer=" + referer +
            b"\r\n[Extra Headers]\r\nUser-Agent=" + agent +
            b"\r\n[System]\r\nOutput File=" + out + b"\r\n")


# name, data file bytes, pelk.ini bytes
CASES = [
    ("tidy", data(), TIDY_PELK),
    ("lf only", data().replace(b"\r\n", b"\n"), TIDY_PELK.replace(b"\r\n", b"\n")),
    ("cr only", data().replace(b"\r\n", b"\r"), TIDY_PELK.replace(b"\r\n", b"\r")),
    ("mixed line ends and blank lines",
     b"\n\n[CGI]\r\n\r\nQuery String=B\n\r\n[System]\rOutput File=out.txt", TIDY_PELK),
    ("no trailing line end", data().rstrip(b"\r\n"), TIDY_PELK.rstrip(b"\r\n")),
    ("blanks around names and values",
     b"  [ CGI ]  \r\n\t Query String \t=  B  \r\n[System]\r\n  Output File =   out.txt \t\r\n",
     b" [Whirl] \r\n  Animation Path  =  anim/  \r\n Allow Viewer = Mozilla \r\n"),
    ("blank inside a name counts",
     b"[CGI]\r\nQuery  String=B\r\n[System]\r\nOutput File=out.txt\r\n", TIDY_PELK),
    ("names in other letter case",
     b"[cgi]\r\nQUERY STRING=B\r\n[SYSTEM]\r\noutput file=Out.txt\r\n",
     b"[whirl]\r\nANIMATION PATH=anim/\r\nallow viewer=Mozilla\r\n"),
    ("header with text after the bracket",
     b"[CGI] trailing words\r\nQuery String=B\r\n[System]]x\r\nOutput File=out.txt\r\n",
     TIDY_PELK),
    ("header without closing bracket is an ordinary line",
     b"[CGI]\r\n[Query String=x\r\nQuery String=B\r\n[System\r\n[System]\r\nOutput File=out.txt\r\n",
     TIDY_PELK),
    ("double quotes removed", data(query=b'"B"', out=b'"out.txt"'), TIDY_PELK),
    ("single quotes removed", data(query=b"'B'", out=b"'out.txt'"),
     b"[Whirl]\r\nAnimation Path='anim/'\r\nAllow Viewer='Lynx'\r\n"),
    ("inner quote kept", data(query=b'"B?.GIF?N======"C D.GIF"'), TIDY_PELK),
    ("mismatched quotes kept", data(query=b"\"A'"), TIDY_PELK),
    ("lone quote", data(query=b'"'), TIDY_PELK),
    ("no comment syntax",
     b"[CGI]\r\n;Query String=A\r\n#Query String=A\r\nQuery String=B ; not a comment\r\n"
     b"[System]\r\nOutput File=out.txt ; with a note\r\n", TIDY_PELK),
    ("semicolon key", b"[System]\r\n;Output File=wrong.txt\r\nOutput File=right.txt\r\n", TIDY_PELK),
    ("duplicate keys: the first wins",
     b"[CGI]\r\nQuery String=B\r\nQuery String=A\r\n[System]\r\nOutput File=one.txt\r\n"
     b"Output File=two.txt\r\n", TIDY_PELK),
    ("duplicate sections: the first wins",
     b"[System]\r\nOutput File=one.txt\r\n[CGI]\r\nQuery String=B\r\n[System]\r\n"
     b"Output File=two.txt\r\n", TIDY_PELK),
    ("key only in a second section of the name",
     b"[System]\r\nOther=1\r\n[CGI]\r\nQuery String=B\r\n[system]\r\nOutput File=two.txt\r\n",
     TIDY_PELK),
    ("lines without equals sign",
     b"[CGI]\r\njust some words\r\nQuery String=B\r\n[System]\r\nnoise\r\nOutput File=out.txt\r\n",
     b"[Whirl]\r\nAnimation Path=anim/\r\nAllow Viewer\r\n"),
    ("empty values", data(query=b"", referer=b"   "),
     b"[Whirl]\r\nAnimation Path=anim/\r\nAllow Only=\r\nAllow Viewer=   \r\n"),
    ("equals sign in the value", data(query=b"A?.GIF?N======B1"), TIDY_PELK),
    ("control bytes trimmed", data(query=b"B\x1a\x0b", out=b"out.txt\x1a"), TIDY_PELK),
    ("long values are cut to 254",
     data(query=b"A?.GIF?" + b"U?" * 160, out=b"o" * 250 + b"12345678"), TIDY_PELK),
    ("long line elsewhere",
     b"[CGI]\r\nJunk=" + b"x" * 100000 + b"\r\nQuery String=B\r\n[System]\r\nOutput File=out.txt\r\n",
     TIDY_PELK),
    ("referer refused", data(referer=b"http://elsewhere/"),
     b"[Whirl]\r\nAnimation Path=anim/\r\nAllow Only=example.com, example.org\r\n"),
    ("referer allowed by a later item", data(referer=b"http://www.example.org/page"),
     b"[Whirl]\r\nAnimation Path=anim/\r\nAllow Only=example.com,example.org\r\n"),
    ("viewer not listed gets the still picture", data(agent=b"Lynx/2.8"), TIDY_PELK),
    ("animation path without trailing separator", data(),
     b"[Whirl]\r\nAnimation Path=anim\r\n"),
    ("no configuration section", data(), b"[Other]\r\nAnimation Path=nowhere/\r\n"),
    ("keys before the first section",
     b"Query String=A\r\n[CGI]\r\nQuery String=B\r\n[System]\r\nOutput File=out.txt\r\n",
     TIDY_PELK),
    ("missing output file key", b"[CGI]\r\nQuery String=A\r\n", TIDY_PELK),
]


def make_tree(root, data_bytes, pelk_bytes):
    cgi = os.path.join(root, "cgi")
    anim = os.path.join(cgi, "anim")
    os.makedirs(anim)
    for base, count in FRAMES.items():
        for n in range(1, count + 1):
            with open(os.path.join(anim, "%s%d.GIF" % (base, n)), "wb") as f:
                f.write(b"%s frame %d\r\n\x1a" % (base.encode(), n))
    with open(os.path.join(cgi, "pelk.ini"), "wb") as f:
        f.write(pelk_bytes)
    with open(os.path.join(cgi, "req.ini"), "wb") as f:
        f.write(data_bytes)
    return cgi


def snapshot(cgi):
    """Every file left in the folder, with its bytes."""
    files = {}
    for folder, _, names in os.walk(cgi):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, cgi)] = f.read()
    return files


def run(command, data_bytes, pelk_bytes, env):
    """(exit code, standard output, files left), which must be the same for
    both builds, and the standard error, which tells what went wrong."""
    root = tempfile.mkdtemp(prefix="whirlo-diff-")
    try:
        cgi = make_tree(root, data_bytes, pelk_bytes)
        done = programs.run(command + ["./req.ini"], cgi, env)
        stdout = done.stdout.replace(b"\r\n", b"\n")
        return (done.code, stdout, snapshot(cgi)), done.stderr
    finally:
        shutil.rmtree(root)


def describe(result, stderr):
    code, stdout, files = result
    lines = ["exit %s, stdout %r, stderr %r" % (code, stdout, stderr[-2000:])]
    for name in sorted(files):
        lines.append("  %s: %r" % (name, files[name][:120]))
    return "\n".join(lines)


class SameAsNative(unittest.TestCase):
    def test_every_case_reads_as_the_native_build_reads_it(self):
        windir = tempfile.mkdtemp(prefix="whirlo-diff-windir-")
        self.addCleanup(shutil.rmtree, windir)
        native_env = dict(os.environ, WINDIR=windir)
        native = [given("native")]
        windows = programs.emulator() + [given("program")]
        for name, data_bytes, pelk_bytes in CASES:
            with self.subTest(name):
                a, a_errors = run(native, data_bytes, pelk_bytes, native_env)
                b, b_errors = run(windows, data_bytes, pelk_bytes, os.environ)
                self.assertEqual(a, b, "native:\n%s\nwindows:\n%s"
                                 % (describe(a, a_errors), describe(b, b_errors)))
