#!/usr/bin/env python3
"""Makes the benchmark tree for `parcelix create`: about 100 MB in a few
thousand files of the kinds a MIDlet collection holds (text and manifests,
class-like binaries, images that do not compress, nested archives, a few
large files), reproducible from a fixed seed.

    bench/create_make_tree.py DIR [MEGABYTES]
"""
import os
import random
import sys
import zipfile

WORDS = ("MIDlet Name Vendor Version Profile Configuration Jar URL Size Description Icon "
         "public private static final class void int String return if else for while new "
         "import java microedition lcdui Canvas Graphics Display Command Form List Alert "
         "the a of to and in is it that was for on are with as be at by this had not").split()


def text(rnd, n):
    out = []
    size = 0
    while size < n:
        line = " ".join(rnd.choices(WORDS, k=rnd.randint(4, 14))) + ";\n"
        out.append(line)
        size += len(line)
    return "".join(out).encode()[:n]


def classlike(rnd, n):
    # Structured binary: a constant pool of repeated names between opcodes.
    pool = [rnd.choice(WORDS).encode() + bytes([rnd.randrange(32)]) for _ in range(60)]
    out = bytearray()
    while len(out) < n:
        if rnd.random() < 0.5:
            out += rnd.choice(pool)
        else:
            out += rnd.randbytes(rnd.randint(1, 12))
    return bytes(out[:n])


def main():
    root = sys.argv[1]
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    budget = megabytes * 1024 * 1024
    rnd = random.Random(20240601)
    total = 0
    count = 0

    def put(rel, data):
        nonlocal total, count
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        total += len(data)
        count += 1

    # A few large files and nested archives first (about a quarter).
    for i in range(3):
        put("data/log%d.txt" % i, text(rnd, 6 * 1024 * 1024))
    for i in range(4):
        inner = os.path.join(root, "lib", "inner%d.jar" % i)
        os.makedirs(os.path.dirname(inner), exist_ok=True)
        with zipfile.ZipFile(inner, "w", zipfile.ZIP_DEFLATED) as z:
            for j in range(40):
                z.writestr("pkg/C%d.class" % j, classlike(rnd, rnd.randint(2000, 30000)))
        total += os.path.getsize(inner)
        count += 1
    # Then many small and middling files until the budget is spent.
    game = 0
    while total < budget:
        game += 1
        base = "games/game%04d/" % game
        put(base + "META-INF/MANIFEST.MF",
            b"Manifest-Version: 1.0\r\nMIDlet-Name: Game %d\r\nMIDlet-Version: 1.%d\r\n\r\n" % (game, game % 10))
        for j in range(rnd.randint(3, 9)):
            put(base + "pkg/C%d.class" % j, classlike(rnd, int(rnd.lognormvariate(9.3, 1.0)) + 200))
        for j in range(rnd.randint(1, 4)):
            put(base + "res/img%d.png" % j, b"\x89PNG\r\n\x1a\n" + rnd.randbytes(int(rnd.lognormvariate(9.0, 1.2)) + 100))
        if rnd.random() < 0.5:
            put(base + "res/strings.txt", text(rnd, int(rnd.lognormvariate(10.0, 1.0)) + 50))
        if rnd.random() < 0.05:
            os.makedirs(os.path.join(root, base, "empty"), exist_ok=True)
    print("%d files, %.1f MB in %s" % (count, total / 1048576.0, root))


main()
