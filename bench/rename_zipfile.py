#!/usr/bin/env python3
"""The rename benchmark's python program: for every *.jar in a directory,
read META-INF/MANIFEST.MF with zipfile and print the name it would get
("OLD -> NEW"), as `parcelix rename -n` does.
    bench/rename_zipfile.py DIR"""
import os
import sys
import zipfile


def scan(m, key, window):
    i = m.find(key)
    if i < 0:
        return b""
    value = m[i + len(key):i + len(key) + window]
    for stop in (b"\r", b"\n", b"\0"):
        value = value.split(stop, 1)[0]
    return value.strip(bytes(range(33)))


def main():
    d = sys.argv[1]
    count = 0
    for f in os.listdir(d):
        if not f.endswith(".jar"):
            continue
        path = os.path.join(d, f)
        try:
            with zipfile.ZipFile(path) as z:
                m = z.read("META-INF/MANIFEST.MF")
        except (KeyError, zipfile.BadZipFile, OSError):
            continue
        name = scan(m, b"MIDlet-Name:", 50).decode("utf-8", "replace")
        version = scan(m, b"MIDlet-Version:", 20).decode("utf-8", "replace")
        print(f"{path} -> {d}/{name} {version}.jar")
        count += 1
    print(f"{count} JARs", file=sys.stderr)


if __name__ == "__main__":
    main()
