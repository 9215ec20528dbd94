#!/usr/bin/env python3
"""Writes a JAD beside every JAR of a folder, from its manifest, its size and
its name, as a download site serves them; every tenth JAD gives a stale
MIDlet-Jar-Size, as collections hold them.
    bench/check_make_jads.py DIR"""
import os
import sys
import zipfile


def main():
    folder = sys.argv[1]
    for i, name in enumerate(sorted(os.listdir(folder))):
        if not name.endswith(".jar"):
            continue
        path = os.path.join(folder, name)
        with zipfile.ZipFile(path) as z:
            manifest = z.read("META-INF/MANIFEST.MF").decode("utf-8")
        lines = [l for l in manifest.replace("\r\n", "\n").split("\n") if l and not l.startswith("Created-By")]
        size = os.path.getsize(path) + (1 if i % 10 == 0 else 0)
        lines += [f"MIDlet-Jar-Size: {size}", f"MIDlet-Jar-URL: {name}"]
        with open(os.path.splitext(path)[0] + ".jad", "w", newline="") as f:
            f.write("".join(l + "\r\n" for l in lines))


if __name__ == "__main__":
    main()
