#!/usr/bin/env python3
"""Writes a large MIDlet-style JAR (default ~100 MB) for the set benchmark:
the manifest first, then a few thousand members, half of them compressible
(deflated), half random (stored or barely deflated), as a big game or
resource pack holds them.
    bench/set_make_data.py OUT.jar [MB]"""
import os
import random
import sys
import zipfile


def main():
    out = sys.argv[1]
    target = int(sys.argv[2]) * 1024 * 1024 if len(sys.argv) > 2 else 100 * 1024 * 1024
    rng = random.Random(99)
    text = b"".join(b"level %d row %d: ..##..##..$$..##..\n" % (i % 50, i) for i in range(4000))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        z.writestr("META-INF/MANIFEST.MF",
                   "Manifest-Version: 1.0\r\nMIDlet-Name: Big Bench\r\nMIDlet-Version: 1.0\r\n"
                   "MIDlet-Vendor: Bench\r\nMIDlet-1: Big, /icon.png, Main\r\n\r\n")
        i = 0
        while z.fp.tell() < target:
            size = rng.randint(2000, 120000)
            if i % 2:
                data = os.urandom(size)
                z.writestr(zipfile.ZipInfo(f"res/r{i:05d}.bin"), data, zipfile.ZIP_STORED)
            else:
                start = rng.randint(0, len(text) - 1)
                data = (text[start:] + text)[:size]
                z.writestr(f"classes/c{i:05d}.class", data)
            i += 1
    print(f"{out}: {os.path.getsize(out) / 1e6:.1f} MB, {i + 1} members")


if __name__ == "__main__":
    main()
