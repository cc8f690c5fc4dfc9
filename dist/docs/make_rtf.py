#!/usr/bin/env python3
"""Turns the manual's plain-text source into an RTF document, the form
Windows word processors open under both installed names (.wri, .doc).

Source lines: "# " title, "## " heading, "- " list item, four-space indent
for literal lines, "| a | b |" table rows (the first row of a table is its
heading), anything else joins into paragraphs separated by blank lines.

Usage: make_rtf.py manual.txt output.rtf"""
import sys

HEADER = (r"{\rtf1\ansi\ansicpg1252\deff0"
          r"{\fonttbl{\f0\fswiss Arial;}{\f1\fmodern Courier New;}}"
          "\n")


def escape(text: str) -> str:
    out = []
    for ch in text:
        if ch in "\\{}":
            out.append("\\" + ch)
        elif ord(ch) > 126:
            out.append("\\'%02x" % ch.encode("cp1252")[0])
        else:
            out.append(ch)
    return "".join(out)


def paragraph(text: str, style: str = r"\f0\fs20") -> str:
    return r"\pard\plain\sa120" + style + " " + escape(text) + r"\par" + "\n"


def table(rows):
    width = 9000
    first = max(1400, min(4200, 110 * max(len(r[0]) for r in rows)))
    out = []
    for index, cells in enumerate(rows):
        bold = r"\b " if index == 0 else ""
        out.append(r"\trowd\trgaph100\cellx%d\cellx%d" % (first, width))
        for cell in cells:
            out.append(r"\pard\intbl\plain\f0\fs20 " + bold + escape(cell) +
                       (r"\b0" if bold else "") + r"\cell")
        out.append(r"\row" + "\n")
    return "".join(out) + r"\pard\plain\sa120\par" + "\n"


def convert(source: str) -> str:
    out = [HEADER]
    words, rows = [], []

    def flush():
        if words:
            out.append(paragraph(" ".join(words)))
            words.clear()
        if rows:
            out.append(table(rows))
            rows.clear()

    for line in source.splitlines():
        if line.startswith("|"):
            if words:
                flush()
            rows.append([c.strip() for c in line.strip().strip("|").split("|")])
            continue
        if rows or not line.strip():
            flush()
        if not line.strip():
            continue
        if line.startswith("## "):
            out.append(paragraph(line[3:], r"\f0\fs28\b\sb240"))
        elif line.startswith("# "):
            out.append(paragraph(line[2:], r"\f0\fs36\b"))
        elif line.startswith("- "):
            flush()
            out.append(paragraph("\u2022 " + line[2:], r"\f0\fs20\li360\fi-240"))
        elif line.startswith("    "):
            flush()
            out.append(paragraph(line[4:], r"\f1\fs18\sa0"))
        else:
            words.append(line.strip())
    flush()
    out.append("}\n")
    return "".join(out)


def main() -> None:
    with open(sys.argv[1], encoding="utf-8") as f:
        rtf = convert(f.read())
    with open(sys.argv[2], "w", encoding="ascii", newline="\r\n") as f:
        f.write(rtf)


if __name__ == "__main__":
    main()
