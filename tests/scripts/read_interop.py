#!/usr/bin/env python3
"""Reading archives made by other tools: `parcelix list --json` agrees with
python's zipfile, `parcelix test` passes, extracted bytes equal the sources;
damaged archives fail without crashing."""
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

from read_harness import PARCELIX, check, finish, failures  # noqa: E402,F401
from read_harness import run as run_program  # noqa: E402


def run(*args):
    return run_program(*args, timeout=300)


def make_tree(root):
    rnd = random.Random(1234)
    files = {
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\nMIDlet-Name: Interop\r\nMIDlet-Version: 1.0\r\n\r\n",
        "empty.txt": b"",
        "one.txt": b"1",
        "text/lines.txt": "".join(f"line {i}\n" for i in range(20000)).encode(),
        "bin/random.bin": bytes(rnd.getrandbits(8) for _ in range(300_000)),
        "bin/repetitive.bin": b"abcabcabd" * 60_000,
        "bin/zeros.bin": bytes(250_000),
        "deep/a/b/c/d.txt": b"deep",
        "LICENSE": b"no extension",
    }
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


def listed(archive):
    p = run("list", "--json", archive)
    check(p.returncode == 0, f"list {archive}: exit {p.returncode} {p.stderr.decode(errors='replace')}")
    try:
        return json.loads(p.stdout)
    except ValueError:
        check(False, f"list {archive}: not JSON: {p.stdout[:200]!r}")
        return {"members": []}


def compare_with_zipfile(archive, label):
    doc = listed(archive)
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
    got = [(m["name"], m["method"], m["compressed"], m["size"], m["crc"]) for m in doc["members"]]
    want = [(i.filename, i.compress_type, i.compress_size, i.file_size, f"{i.CRC:08x}") for i in infos]
    check(got == want, f"{label}: list differs from zipfile\n  got  {got[:5]}...\n  want {want[:5]}...")
    return doc


def tested_ok(archive, label):
    p = run("test", "--json", archive)
    check(p.returncode == 0, f"{label}: test exit {p.returncode}: {p.stderr.decode(errors='replace')[:500]}")
    try:
        doc = json.loads(p.stdout)
        check(doc["ok"] is True, f"{label}: test ok false")
        check(all(m["ok"] for m in doc["members"]), f"{label}: a member failed")
    except ValueError:
        check(False, f"{label}: test output not JSON")


def extracted_equal(archive, files, label, work):
    out = os.path.join(work, "x-" + label)
    p = run("extract", archive, out)
    check(p.returncode == 0, f"{label}: extract exit {p.returncode}: {p.stderr.decode(errors='replace')[:500]}")
    for name, data in files.items():
        path = os.path.join(out, name)
        if not os.path.exists(path):
            check(False, f"{label}: {name} not extracted")
            continue
        with open(path, "rb") as f:
            check(f.read() == data, f"{label}: {name} differs")


def fails_cleanly(archive, label):
    p = run("test", archive)
    check(p.returncode == 1, f"{label}: test exit {p.returncode}, want 1")


def main():
    work = tempfile.mkdtemp(prefix="parcelix-read-")
    try:
        src = os.path.join(work, "src")
        os.makedirs(src)
        files = make_tree(src)
        archives = {}

        if shutil.which("zip"):
            a = os.path.join(work, "infozip.zip")
            subprocess.run(["zip", "-qr", a, "."], cwd=src, check=True)
            archives["infozip"] = a
        if shutil.which("jar"):
            a = os.path.join(work, "jdk.jar")
            subprocess.run(["jar", "cfM", a, "-C", src, "."], check=True)
            archives["jdk"] = a
        if shutil.which("7z"):
            a = os.path.join(work, "d64.zip")
            subprocess.run(["7z", "a", "-tzip", "-mm=Deflate64", a, "."], cwd=src, check=True,
                           stdout=subprocess.DEVNULL)
            archives["7z-deflate64"] = a
            a = os.path.join(work, "7z.zip")
            subprocess.run(["7z", "a", "-tzip", "-mx=9", a, "."], cwd=src, check=True, stdout=subprocess.DEVNULL)
            archives["7z-deflate"] = a

        # python's zipfile with zip64 extra fields on every member and, with
        # more than 65535 entries, the zip64 end records.
        a = os.path.join(work, "py64.zip")
        with zipfile.ZipFile(a, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files.items():
                with z.open(name, "w", force_zip64=True) as f:
                    f.write(data)
        archives["python-zip64"] = a
        many = os.path.join(work, "many.zip")
        with zipfile.ZipFile(many, "w") as z:
            for i in range(65540):
                z.writestr(f"m/{i}", b"")
            for name, data in files.items():
                z.writestr(name, data, compress_type=zipfile.ZIP_DEFLATED)
        archives["python-65540"] = many

        # A long comment pushes the end record out of the last 32 KiB.
        a = os.path.join(work, "comment.zip")
        with zipfile.ZipFile(a, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files.items():
                z.writestr(name, data)
            z.comment = b"c" * 40000
        archives["long-comment"] = a

        base = archives.get("infozip", archives["python-zip64"])
        with open(base, "rb") as f:
            good = f.read()
        # Bytes put in front without adjusting the offsets.
        a = os.path.join(work, "prefixed.zip")
        with open(a, "wb") as f:
            f.write(b"#!/bin/sh\necho self-extractor stub\n" + b"\0" * 1000 + good)
        archives["prefixed"] = a
        # An end record whose directory offset is wrong.
        e = good.rfind(b"PK\x05\x06")
        bad = bytearray(good)
        struct.pack_into("<I", bad, e + 16, 0x01020304)
        a = os.path.join(work, "wrong-offset.zip")
        with open(a, "wb") as f:
            f.write(bad)
        archives["wrong-offset"] = a

        for label, a in archives.items():
            if label != "7z-deflate64":
                compare_with_zipfile(a, label)  # zipfile cannot decode Deflate64 but lists it
            else:
                doc = listed(a)
                check(any(m["method"] == 9 for m in doc["members"]), "7z: no Deflate64 member")
                compare_with_zipfile(a, label)
            tested_ok(a, label)
            extracted_equal(a, files, label, work)

        # Damaged archives fail, and never crash.
        z = zipfile.ZipFile(base)
        info = z.getinfo("bin/random.bin")
        z.close()
        flipped = bytearray(good)
        flipped[info.header_offset + 30 + len(info.filename) + 100] ^= 0x10
        a = os.path.join(work, "flipped.zip")
        open(a, "wb").write(flipped)
        fails_cleanly(a, "flipped byte")
        for cut in (len(good) // 2, len(good) - 10, 100):
            a = os.path.join(work, f"cut{cut}.zip")
            open(a, "wb").write(good[:cut])
            fails_cleanly(a, f"truncated to {cut}")
        unsupported = bytearray(good)
        struct.pack_into("<H", unsupported, info.header_offset + 8, 12)
        pos = good.find(b"PK\x01\x02")
        while pos >= 0:
            n = struct.unpack_from("<H", good, pos + 28)[0]
            if good[pos + 46:pos + 46 + n] == b"bin/random.bin":
                struct.pack_into("<H", unsupported, pos + 10, 12)
            pos = good.find(b"PK\x01\x02", pos + 4)
        a = os.path.join(work, "method12.zip")
        open(a, "wb").write(unsupported)
        fails_cleanly(a, "unsupported method")
        p = run("test", "--json", a)
        doc = json.loads(p.stdout)
        bad_members = [m["name"] for m in doc["members"] if not m["ok"]]
        check(bad_members == ["bin/random.bin"], f"unsupported method: failed members {bad_members}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    finish()


if __name__ == "__main__":
    main()
