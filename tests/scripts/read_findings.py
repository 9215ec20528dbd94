#!/usr/bin/env python3
"""Damaged and odd archives, each built here (python's zipfile, or a small
writer below with a few values changed): `parcelix test` names what is wrong
with a stable code, exits 1 on an error and 0 on a warning alone, `extract`
gives the same verdict, and the verdict agrees with the independent readers
(python's zipfile, unzip, 7z) where they agree among themselves."""
import io
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

from read_harness import PARCELIX, check, finish, failures, run  # noqa: E402,F401


# ---------------------------------------------------------------- oracles

def python_ok(path):
    try:
        with zipfile.ZipFile(path) as z:
            if z.testzip() is not None:
                return False
            for i in z.infolist():
                z.read(i)
        return True
    except Exception:
        return False


def tool_ok(cmd, path):
    if not shutil.which(cmd[0]):
        return None
    p = subprocess.run(cmd + [path], capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
    return p.returncode == 0


def oracle_verdicts(path):
    votes = [python_ok(path), tool_ok(["unzip", "-tqq"], path), tool_ok(["7z", "t", "-p-"], path)]
    return [v for v in votes if v is not None]


# ------------------------------------------------------- a small ZIP writer

class Entry:
    """One member. Fields of the local header can be overridden by local_*
    keys, of the central header by central_* keys."""

    def __init__(self, name, data, method=8, **over):
        self.name = name if isinstance(name, bytes) else name.encode()
        self.data = data
        self.method = method
        self.over = over
        if method == 8:
            c = zlib.compressobj(6, zlib.DEFLATED, -15)
            self.comp = c.compress(data) + c.flush()
        else:
            self.comp = data
        self.crc = zlib.crc32(data) & 0xFFFFFFFF

    def get(self, side, key, default):
        return self.over.get(f"{side}_{key}", self.over.get(key, default))


def build(entries, prefix=b"", comment=b"", gap=b"", eocd=None, descriptor=None, adjust=True):
    out = bytearray(prefix)
    base = len(prefix) if adjust else 0
    central = bytearray()
    for e in entries:
        off = len(out) - len(prefix) + base
        g = lambda k, d: e.get("local", k, d)
        name = g("name", e.name)
        extra = g("extra", b"")
        out += struct.pack("<IHHHHHIIIHH", g("sig", 0x04034B50), 20, g("flags", 0), g("method", e.method), 0, 0x21,
                           g("crc", e.crc), g("csize", len(e.comp)), g("usize", len(e.data)), len(name), len(extra))
        out += name + extra + e.comp
        if descriptor is not None and e is entries[0]:
            out += descriptor
        g = lambda k, d: e.get("central", k, d)
        name = g("name", e.name)
        extra = g("extra", b"")
        central += struct.pack("<IHHHHHHIIIHHHHHII", g("sig", 0x02014B50), 20, 20, g("flags", 0), e.method, 0, 0x21,
                               e.crc, g("csize", len(e.comp)), g("usize", len(e.data)), len(name), len(extra), 0, 0, 0,
                               g("attr", 0), off)
        central += name + extra
    start = len(out) - len(prefix) + base
    out += central + gap
    ev = dict(count=len(entries), size=len(central), offset=start, comment_len=len(comment))
    ev.update(eocd or {})
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, ev["count"], ev["count"], ev["size"], ev["offset"],
                       ev["comment_len"]) + comment
    return bytes(out)


def zipfile_bytes(members, **kw):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED, **kw) as z:
        for name, data in members:
            z.writestr(name, data)
    return buf.getvalue()


def streamed_bytes(members):
    """What a writer that cannot seek gives: bit 3 and data descriptors."""
    class Sink(io.RawIOBase):
        def __init__(self):
            self.buf = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.buf += b
            return len(b)

    sink = Sink()
    with zipfile.ZipFile(sink, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            with z.open(name, "w") as f:
                f.write(data)
    return bytes(sink.buf)


# ------------------------------------------------------------------ cases

DATA = b"MIDlet-Name: Findings\r\n" * 40
TWO = [Entry("META-INF/MANIFEST.MF", DATA), Entry("a/b.txt", b"hello world", method=0)]


def two(**over0):
    return [Entry("META-INF/MANIFEST.MF", DATA, **over0), Entry("a/b.txt", b"hello world", method=0)]


def zip64_huge():
    # A zip64 block that claims 2^64-1 bytes for both sizes.
    e = Entry("big.bin", b"x" * 10, method=0, central_csize=0xFFFFFFFF, central_usize=0xFFFFFFFF,
              central_extra=struct.pack("<HHQQ", 1, 16, 2 ** 64 - 1, 2 ** 64 - 1))
    return build([e])


def inner_in_comment():
    inner = zipfile_bytes([("inner.txt", b"from the inner archive")])
    outer = io.BytesIO()
    with zipfile.ZipFile(outer, "w") as z:
        z.writestr("outer.txt", b"from the outer archive")
        z.comment = inner
    return outer.getvalue()


def streamed_with_bad_descriptor():
    raw = bytearray(streamed_bytes([("s.txt", DATA)]))
    pos = raw.find(b"PK\x07\x08")
    raw[pos + 4] ^= 0xFF  # the descriptor's CRC
    return bytes(raw)


def central_sig_broken():
    raw = bytearray(zipfile_bytes([("a.txt", DATA), ("b.txt", DATA)]))
    pos = raw.find(b"PK\x01\x02")
    raw[pos + 2] = 0x09
    return bytes(raw)


def zip64_jar():
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("META-INF/MANIFEST.MF", "w", force_zip64=True) as f:
            f.write(DATA)
        with z.open("big.txt", "w", force_zip64=True) as f:
            f.write(b"z" * 70000)
    return buf.getvalue()


def truncated():
    raw = zipfile_bytes([("a.txt", os.urandom(4000)), ("b.txt", DATA)])
    return raw[: len(raw) // 2]


# name, bytes, extension, expected codes, verdict (0 ok / 1 error), oracle
# check: "agree" (the majority of the oracles gives the same verdict) or None.
CASES = [
    ("clean", zipfile_bytes([("META-INF/MANIFEST.MF", DATA), ("a.class", b"\xca\xfe" * 99)]), ".jar", [], 0, "agree"),
    ("junk in front", b"#!/bin/sh\nexec java -jar $0\n" + zipfile_bytes([("a.txt", DATA)]), ".jar",
     ["bytes-before-archive"], 0, "same-data"),
    ("prefix, offsets not adjusted", build(TWO, prefix=b"J" * 100, adjust=False), ".jar", ["bytes-before-archive"], 0,
     None),
    ("data descriptors", streamed_bytes([("META-INF/MANIFEST.MF", DATA), ("x.txt", b"y" * 5000)]), ".jar", [], 0,
     "agree"),
    ("zip64", zip64_jar(), ".jar", [], 0, "agree"),
    ("central signature broken", central_sig_broken(), ".zip", ["directory-missing"], 1, None),
    ("directory size too large", build(TWO, eocd={"size": 200}), ".zip", [], 1, None),
    ("directory size too small", build(TWO, eocd={"size": 50}), ".zip", [], 1, None),
    ("gap before end record", build(TWO, gap=b"\0" * 16), ".zip", ["gap-before-end-record"], 1, None),
    ("entry count", build(TWO, eocd={"count": 3}), ".zip", ["entry-count"], 1, None),
    ("local method differs", build(two(local_method=0)), ".zip", ["local-method"], 1, "agree"),
    ("local size larger", build(two(local_csize=len(TWO[0].comp) + 40)), ".zip", ["local-size"], 1, None),
    ("central size larger", build(two(central_csize=len(TWO[0].comp) + 40)), ".zip", ["local-size"], 1, None),
    ("central size smaller", build(two(central_csize=len(TWO[0].comp) - 9)), ".zip", ["local-size"], 1, "agree"),
    ("local name differs", build(two(local_name=b"META-INF/MANIFEST.MX")), ".zip", ["local-name"], 1, "agree"),
    ("local crc differs", build(two(local_crc=0x12345678)), ".zip", ["local-crc"], 1, None),
    ("zip64 extra twice", build(two(local_extra=struct.pack("<HHQ", 1, 8, 5) * 2)), ".zip",
     ["zip64-extra-duplicated"], 1, None),
    ("descriptor differs", streamed_with_bad_descriptor(), ".zip", ["descriptor-mismatch"], 1, None),
    ("comment holds a zip", inner_in_comment(), ".zip", ["bytes-before-archive"], 0, "agree"),
    ("empty name", build([Entry(b"", b"nameless", method=0), TWO[1]]), ".zip", ["name-empty"], 1, None),
    ("name with NUL", build([Entry(b"a\0b.txt", b"nul", method=0), TWO[1]]), ".zip", ["name-nul"], 1, None),
    ("absolute name", build([Entry("/abs.txt", b"abs", method=0), TWO[1]]), ".zip", ["name-absolute"], 1, None),
    ("parent name", build([Entry("x/../../up.txt", b"up", method=0), TWO[1]]), ".zip", ["name-parent"], 1, None),
    ("encrypted member", build([Entry("bar.txt", b"\0" * 12 + b"secret", method=0, flags=1), TWO[1]]), ".zip",
     ["encrypted"], 1, "agree"),
    ("zip64 size beyond the file", zip64_huge(), ".zip", ["size-beyond-file"], 1, "agree"),
    ("strongly encrypted directory",
     build([Entry("x.bin", b"\0" * 40, method=0, local_flags=0x2041, central_sig=0x13572468)]), ".zip",
     ["directory-missing", "directory-encrypted"], 1, None),
    ("truncated", truncated(), ".zip", [], 1, "agree"),
    ("empty archive", zipfile_bytes([]), ".zip", [], 0, "agree"),
    ("padding after end record", zipfile_bytes([("a.txt", DATA)]) + b"\0" * 64, ".zip", ["comment-length"], 0, None),
]


def codes_of(path):
    p = run("list", "--json", path)
    try:
        doc = json.loads(p.stdout)
    except ValueError:
        check(False, f"{path}: list --json gave no JSON: {p.stdout!r} {p.stderr!r}")
        return [], {}
    return [f["code"] for f in doc.get("findings", [])], doc


def main():
    work = tempfile.mkdtemp(prefix="parcelix-findings-")
    try:
        for i, (what, data, ext, codes, verdict, oracle) in enumerate(CASES):
            path = os.path.join(work, f"case{i}{ext}")
            with open(path, "wb") as f:
                f.write(data)
            t = run("test", path)
            x = run("extract", path, os.path.join(work, f"out{i}"))
            check(t.returncode == verdict, f"{what}: test exit {t.returncode}, want {verdict}: {t.stderr!r}")
            check(x.returncode == t.returncode, f"{what}: extract exit {x.returncode}, test {t.returncode}")
            said = t.stdout.decode(errors="replace")
            check(("No errors detected" in said) == (t.returncode == 0), f"{what}: verdict line {said!r}")
            tcodes = set()
            for line in t.stderr.decode(errors="replace").splitlines():
                if line.endswith("]") and "[" in line:
                    tcodes.add(line[line.rindex("[") + 1:-1])
            got, _ = codes_of(path)
            for c in codes:
                check(c in got or c in tcodes, f"{what}: finding {c} missing, list {got}, test {sorted(tcodes)}")
            if not codes and verdict == 0:
                check(not got and not tcodes, f"{what}: unexpected findings {got} {sorted(tcodes)}")
            if oracle == "same-data":
                # unzip and 7z only warn here: every member reads the same.
                check(python_ok(path), f"{what}: python cannot read it")
            if oracle == "agree":
                votes = oracle_verdicts(path)
                if votes:
                    majority_ok = sum(votes) * 2 > len(votes)
                    check(majority_ok == (verdict == 0), f"{what}: oracles {votes}, our verdict {verdict}")
            check(b"\\" not in t.stderr.replace(b"\\\\", b""), f"{what}: a backslash name in {t.stderr!r}")
        check_specifics(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    finish()


def check_specifics(work):
    # A JAR as the JDK writes it (data descriptors after deflated members)
    # tests clean, with nothing to say about it.
    if shutil.which("jar"):
        src = os.path.join(work, "jdk-src")
        os.makedirs(os.path.join(src, "res"))
        with open(os.path.join(src, "res", "a.txt"), "wb") as f:
            f.write(DATA * 20)
        jar = os.path.join(work, "jdk.jar")
        subprocess.run(["jar", "cf", jar, "-C", src, "."], check=True, capture_output=True, timeout=120)
        t = run("test", jar)
        codes, _ = codes_of(jar)
        check(t.returncode == 0 and not codes, f"JDK jar: exit {t.returncode} {codes} {t.stderr!r}")

    # An encrypted member: one message that says so, no password event, no CRC.
    path = os.path.join(work, "enc.zip")
    with open(path, "wb") as f:
        f.write(build([Entry("bar.txt", b"\0" * 12 + b"secret", method=0, flags=1)]))
    for cmd in (["test", path], ["extract", path, os.path.join(work, "enc")]):
        err = run(*cmd).stderr.decode()
        check(err.count("bar.txt") == 1 and "encrypted" in err and "does not decrypt" in err,
              f"{cmd[0]} encrypted: {err!r}")
        check("OnGetPassword" not in err and "CRC" not in err, f"{cmd[0]} encrypted: {err!r}")

    # 2^64-1 is listed as itself.
    path = os.path.join(work, "huge.zip")
    with open(path, "wb") as f:
        f.write(zip64_huge())
    _, doc = codes_of(path)
    sizes = [m["size"] for m in doc.get("members", [])]
    check(sizes == [2 ** 64 - 1], f"zip64 huge size listed as {sizes}")

    # The inner archive of an archive in a comment is what is read.
    path = os.path.join(work, "inner.zip")
    with open(path, "wb") as f:
        f.write(inner_in_comment())
    _, doc = codes_of(path)
    names = [m["name"] for m in doc.get("members", [])]
    check(names == zipfile.ZipFile(path).namelist(), f"comment zip: {names}")
    out = os.path.join(work, "inner")
    run("extract", path, out)
    check(open(os.path.join(out, "inner.txt"), "rb").read() == b"from the inner archive", "comment zip extract")

    # Members found through the local headers when the directory is broken.
    path = os.path.join(work, "nocd.zip")
    with open(path, "wb") as f:
        f.write(central_sig_broken())
    _, doc = codes_of(path)
    check([m["name"] for m in doc.get("members", [])] == ["a.txt", "b.txt"], f"broken directory list {doc}")

    # A file with the directory attribute and data is extracted; a directory
    # entry is created; an empty name is listed.
    path = os.path.join(work, "dirs.zip")
    with open(path, "wb") as f:
        f.write(build([Entry("empty-dir/", b"", method=0, attr=0x10), Entry("file", b"hello", method=0, attr=0x10),
                       Entry(b"", b"", method=0)]))
    out = os.path.join(work, "dirs")
    run("extract", path, out)
    check(os.path.isdir(os.path.join(out, "empty-dir")), "directory entry not created")
    check(os.path.isfile(os.path.join(out, "file")) and open(os.path.join(out, "file"), "rb").read() == b"hello",
          "file with the directory bit lost")
    p = run("list", path)
    check(p.stdout == b"empty-dir/\nfile\n\n", f"empty name not listed: {p.stdout!r}")


if __name__ == "__main__":
    main()
