#!/usr/bin/env python3
"""A Windows CGI program that never finishes; it leaves its process id."""
import os
import time

# Renamed into place: whoever sees the file can read the whole number.
with open("sleeper.pid.new", "w") as handle:
    handle.write(str(os.getpid()))
os.rename("sleeper.pid.new", "sleeper.pid")
time.sleep(120)
