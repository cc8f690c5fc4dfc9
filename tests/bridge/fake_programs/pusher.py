#!/usr/bin/env python3
"""A Windows CGI program that writes a server-push stream slowly: one part
every 0.4 s, announcing in each part the time at which it was written."""
import sys
import time

with open(sys.argv[3], "wb", buffering=0) as out:
    out.write(b"HTTP/1.0 200 OK\nContent-type: multipart/x-mixed-replace;"
              b"boundary=cut\n\n--cut\n")
    for number in range(3):
        out.write(b"Content-type: text/plain\n\npart %d at %.3f\n--cut\n"
                  % (number, time.time()))
        time.sleep(0.4)
