#!/usr/bin/env python3
"""Builds one manual page from its scdoc source, gzipped as Debian installs them.

    build_man.py --scdoc SCDOC [--quorvel QUORVEL] SOURCE OUTPUT.gz

A source ending in ".in" has its line "@COMMANDS@" replaced by the command list of
`QUORVEL --help`, turned into scdoc: the page lists every verb and option the program itself
knows, and cannot fall behind it."""
import argparse
import gzip
import subprocess
import sys


def escape(text):
    # scdoc reads "\", "*" and "_" as markup, and a "-" that begins a line as a list.
    text = text.replace("\\", "\\\\").replace("*", "\\*").replace("_", "\\_")
    return "\\" + text if text.startswith("-") else text


def commands(help_text):
    lines = help_text.splitlines()
    start = lines.index("Commands:") + 1
    out = []
    for line in lines[start:]:
        if line and not line.startswith(" "):
            break  # the paragraph after the list
        text = line.strip()
        header = out and out[-1].startswith("*quorvel ")
        if not text:
            if out and out[-1] != "":
                out.append("")
        elif line.startswith("        "):
            out.append("\t" + escape(text))
        elif line.startswith("      "):
            # A usage that goes on over two lines stays one.
            out[-1] = out[-1][:-1] + " " + escape(text) + "*"
        else:
            if header:
                out[-1] += " ++"  # usages sharing one description, a line each
            elif out and out[-1] != "":
                out.append("")
            out.append("*quorvel " + escape(text) + "*")
    return "\n".join(out).strip() + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scdoc", required=True)
    ap.add_argument("--quorvel")
    ap.add_argument("source")
    ap.add_argument("output")
    args = ap.parse_args()
    with open(args.source, encoding="utf-8") as f:
        text = f.read()
    if args.source.endswith(".in"):
        if "@COMMANDS@\n" not in text or not args.quorvel:
            sys.exit("build_man: " + args.source + " needs --quorvel and an @COMMANDS@ line")
        help_text = subprocess.run([args.quorvel, "--help"], check=True, capture_output=True,
                                   text=True).stdout
        text = text.replace("@COMMANDS@\n", commands(help_text))
    page = subprocess.run([args.scdoc], input=text.encode(), check=True,
                          capture_output=True).stdout
    # Option and key names are never split at a line's end: scdoc's ".nh" comes before ".TH",
    # which turns hyphenation on again.
    lines = page.split(b"\n")
    th = next(i for i, line in enumerate(lines) if line.startswith(b".TH"))
    lines.insert(th + 1, b".nh")
    lines.insert(th + 2, b".ad l")
    page = b"\n".join(lines)
    # mtime 0: the same page gives the same bytes (reproducible packages).
    with gzip.GzipFile(args.output, "wb", compresslevel=9, mtime=0) as f:
        f.write(page)


if __name__ == "__main__":
    main()
