#!/usr/bin/env python3
"""A Windows CGI program whose server-push part is larger than the bridge
holds in memory."""
import sys

with open(sys.argv[3], "wb") as out:
    out.write(b"HTTP/1.0 200 OK\nContent-type: multipart/x-mixed-replace;"
              b"boundary=cut\n\n--cut\nContent-type: text/plain\n\n")
    out.write(bytes(range(256)) * 12288)  # 3 MiB
    out.write(b"\n--cut\n")
