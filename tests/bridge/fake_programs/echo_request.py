#!/usr/bin/env python3
"""A Windows CGI program that answers with what it was given, as JSON."""
import json
import os
import sys

words = sys.argv[1:]
with open(words[0], "rb") as handle:
    data = handle.read().decode("latin-1")
with open(words[1], "rb") as handle:
    content = handle.read().decode("latin-1")
with open(words[2], "wb") as out:
    out.write(b"Content-type: application/json\r\n\r\n")
    out.write(json.dumps({"words": words, "cwd": os.getcwd(), "data": data,
                          "content": content}).encode())
