#!/usr/bin/env python3
"""Python's zipfile on the JAD benchmark: every *.jar of a directory gets
DIR/STEM.jad with the manifest's lines, MIDlet-Jar-Size and MIDlet-Jar-URL.
    bench/jad_zipfile.py DIR"""
import os
import sys
import zipfile


def main():
    folder = sys.argv[1]
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".jar"):
            continue
        path = os.path.join(folder, name)
        with zipfile.ZipFile(path) as z:
            manifest = z.read("META-INF/MANIFEST.MF").rstrip(b"\r\n")
        with open(path[:-4] + ".jad", "wb") as f:
            f.write(manifest + b"\r\nMIDlet-Jar-Size: %d\r\nMIDlet-Jar-URL: %s\r\n"
                    % (os.path.getsize(path), name.encode()))


if __name__ == "__main__":
    main()
