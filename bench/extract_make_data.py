#!/usr/bin/env python3
"""Builds the extraction benchmark's JAR: about 100 MB in a few thousand
members of mixed kinds (class-like binaries, text, already compressed
resources stored as they are, a few large files), deflated at level 6.
   extract_make_data.py OUT.jar [TARGET_MB]"""
import random
import sys
import zipfile


def main():
    out = sys.argv[1]
    target = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    rnd = random.Random(20240607)
    words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10))) for _ in range(3000)]

    def text(n):
        parts, size = [], 0
        while size < n:
            w = rnd.choice(words)
            parts.append(w)
            size += len(w) + 1
        return b" ".join(parts)[:n]

    def classlike(n):
        # Constant-pool-ish: repeated identifiers mixed with random operands.
        body = bytearray(b"\xca\xfe\xba\xbe\x00\x00\x00\x31")
        while len(body) < n:
            body += rnd.choice(words) * rnd.randint(1, 3)
            body += rnd.randbytes(rnd.randint(1, 12))
        return bytes(body[:n])

    total = 0
    i = 0
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        z.writestr("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\nMIDlet-Name: Bench\r\n\r\n")
        while total < target * 1_000_000:
            kind = i % 10
            if i % 60 == 59:
                kind = 9
            elif kind == 9:
                kind = 0
            if kind < 6:
                data = classlike(rnd.randint(1_000, 30_000))
                name = f"com/bench/p{i % 37}/C{i}.class"
                z.writestr(name, data)
            elif kind < 8:
                data = text(rnd.randint(2_000, 40_000))
                name = f"res/text/t{i}.txt"
                z.writestr(name, data)
            elif kind == 8:
                data = rnd.randbytes(rnd.randint(5_000, 60_000))
                name = f"res/img/i{i}.png"
                z.writestr(name, data, compress_type=zipfile.ZIP_STORED)
            else:
                data = (text(200_000) if i % 20 == 9 else classlike(120_000)) * 4
                name = f"res/big/b{i}.bin"
                z.writestr(name, data)
            total += len(data)
            i += 1
    print(f"{out}: {i + 1} members, {total / 1e6:.1f} MB uncompressed")


if __name__ == "__main__":
    main()
