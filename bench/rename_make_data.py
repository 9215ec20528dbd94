#!/usr/bin/env python3
"""Writes N small MIDlet JARs (default 2000) into a directory for the rename
benchmark: a deflated manifest first, then a few classes and resources, as a
phone game collection holds them (5 to 60 KB each).
    bench/rename_make_data.py DIR [N]"""
import os
import random
import sys
import zipfile


def main():
    out = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    os.makedirs(out, exist_ok=True)
    rng = random.Random(1234)
    words = ["Space", "Snake", "Racer", "Tetra", "Quest", "Bubble", "Ninja", "Pirate", "Golf", "Chess"]
    for i in range(count):
        name = f"{rng.choice(words)} {rng.choice(words)} {i}"
        version = f"{rng.randint(1, 3)}.{rng.randint(0, 9)}.{rng.randint(0, 20)}"
        manifest = (
            "Manifest-Version: 1.0\r\n"
            f"MIDlet-Name: {name}\r\n"
            f"MIDlet-Version: {version}\r\n"
            "MIDlet-Vendor: Bench Games Ltd\r\n"
            f"MIDlet-1: {name}, /icon.png, Main\r\n"
            "MIDlet-Icon: /icon.png\r\n"
            "MicroEdition-Profile: MIDP-2.0\r\n"
            "MicroEdition-Configuration: CLDC-1.1\r\n"
            "Created-By: 1.4.2 (Sun Microsystems Inc.)\r\n\r\n"
        )
        path = os.path.join(out, f"game{i:05d}.jar")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("META-INF/MANIFEST.MF", manifest)
            for k in range(rng.randint(3, 12)):
                size = rng.randint(300, 6000)
                # Class-like data: compressible but not trivial.
                body = bytes(rng.choice(b"\x00\x01\x02abcdefgh()V;Ljava/lang/") for _ in range(size))
                z.writestr(f"{chr(97 + k)}.class", b"\xca\xfe\xba\xbe" + body)
            z.writestr("icon.png", b"\x89PNG\r\n\x1a\n" + os.urandom(rng.randint(200, 2000)))
    print(f"{count} JARs in {out}")


if __name__ == "__main__":
    main()
