#!/usr/bin/env python3
"""A Windows CGI program that never finishes; it leaves its process id."""
import os
import time

with open("sleeper.pid", "w") as handle:
    handle.write(str(os.getpid()))
time.sleep(120)
