#!/usr/bin/env python3
"""Prints an HTTP response file written by whirlo32 in readable form: text
lines as they are, each picture's bytes as one summary line."""
import sys

BOUNDARY = b"\n--sometext\n"


def show(data: bytes) -> None:
    head, sep, rest = data.partition(b"\n")
    print(head.decode("latin-1"))
    while rest:
        if rest.startswith(b"Content-type: image/"):
            header, _, rest = rest.partition(b"\n\n")
            body, sep, rest = rest.partition(BOUNDARY)
            print(header.decode("latin-1"))
            print()
            print(f"[{len(body)} bytes of picture data]")
            if sep:
                print("--sometext")
            continue
        line, sep, rest = rest.partition(b"\n")
        print(line.decode("latin-1"))


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        show(f.read())
