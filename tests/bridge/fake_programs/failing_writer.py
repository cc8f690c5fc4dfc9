#!/usr/bin/env python3
"""A Windows CGI program whose output file filled up: it wrote part of a
picture and ended with error 1004."""
import sys

with open(sys.argv[3], "wb") as out:
    out.write(b"HTTP/1.0 200 OK\nContent-type: image/gif\n\nGIF89a")
sys.exit(1004)
