#!/usr/bin/env python3
"""A Windows CGI program that writes a server-push stream until it is
stopped (a part every 50 ms, for at most a minute); it leaves its process
id in endless.pid in its current directory."""
import os
import sys
import time

# Renamed into place: whoever sees the file can read the whole number.
with open("endless.pid.new", "w") as handle:
    handle.write(str(os.getpid()))
os.rename("endless.pid.new", "endless.pid")
with open(sys.argv[3], "wb", buffering=0) as out:
    out.write(b"HTTP/1.0 200 OK\nContent-type: multipart/x-mixed-replace;"
              b"boundary=cut\n\n--cut\n")
    for number in range(1200):
        out.write(b"Content-type: text/plain\n\npart %d\n--cut\n" % number)
        time.sleep(0.05)
