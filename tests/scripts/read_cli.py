#!/usr/bin/env python3
"""The archive commands as a user meets them: exit statuses, messages, JSON
of awkward names, the manifest bytes, and names that try to leave the
extraction directory."""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

from read_harness import PARCELIX, check, finish, failures, run  # noqa: E402,F401


MANIFEST = b"Manifest-Version: 1.0\r\nMIDlet-Name: Cli Game\r\nMIDlet-Version: 2.1\r\n\r\n"


def zip_with(path, members):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            z.writestr(name, data)


def main():
    work = tempfile.mkdtemp(prefix="parcelix-cli-")
    try:
        jar = os.path.join(work, "game.jar")
        zip_with(jar, [("META-INF/MANIFEST.MF", MANIFEST), ("a/B.class", b"\xca\xfe\xba\xbe" * 100)])

        # Usage errors exit 2, before touching any file.
        for args in (["list"], ["list", "a", "b"], ["list", "--bogus", jar], ["test"], ["extract", jar],
                     ["manifest"], ["manifest", jar, "extra"]):
            p = run(*args)
            check(p.returncode == 2, f"{args}: exit {p.returncode}, want 2")

        # Missing file, a directory, and a file that is no ZIP: exit 1 with a message.
        missing = os.path.join(work, "missing.jar")
        for cmd in ("list", "test", "manifest"):
            p = run(cmd, missing)
            check(p.returncode == 1, f"{cmd} missing: exit {p.returncode}")
            check(b"File not found" in p.stderr, f"{cmd} missing: stderr {p.stderr!r}")
        text = os.path.join(work, "notes.jar")
        open(text, "wb").write(b"just some text, long enough to be looked at\n" * 10)
        for cmd in ("list", "test", "manifest"):
            p = run(cmd, text)
            check(p.returncode == 1, f"{cmd} text: exit {p.returncode}")
            check(b"not a ZIP archive" in p.stderr, f"{cmd} text: stderr {p.stderr!r}")
        unreadable = os.path.join(work, "locked.jar")
        shutil.copy(jar, unreadable)
        os.chmod(unreadable, 0)
        if os.geteuid() != 0:
            p = run("list", unreadable)
            check(p.returncode == 1 and b"Error opening file" in p.stderr, f"unreadable: {p.stderr!r}")

        # Plain list: one name a line, in directory order.
        p = run("list", jar)
        check(p.returncode == 0 and p.stdout == b"META-INF/MANIFEST.MF\na/B.class\n", f"plain list {p.stdout!r}")

        # The manifest: exactly its bytes; none in a JAR without one.
        p = run("manifest", jar)
        check(p.returncode == 0 and p.stdout == MANIFEST, f"manifest {p.returncode} {p.stdout!r}")
        nomf = os.path.join(work, "nomf.jar")
        zip_with(nomf, [("a.txt", b"x")])
        p = run("manifest", nomf)
        check(p.returncode == 1 and p.stdout == b"", f"no manifest: {p.returncode}")

        # Awkward names survive JSON: quotes, backslashes, control characters,
        # UTF-8 (flag bit 11) and CP437 (no flag).
        odd = os.path.join(work, "odd.zip")
        names = ['quote"d.txt', "back\\slash.txt", "tab\there.txt", "ctl\x01.txt", "caf\u00e9/\u00fcber.txt",
                 "dir/"]
        with zipfile.ZipFile(odd, "w") as z:
            for n in names:
                z.writestr(n, b"" if n.endswith("/") else n.encode())
            zi = zipfile.ZipInfo("x")
            z.writestr(zi, b"cp437")
        raw = bytearray(open(odd, "rb").read())
        # Rename "x" to the CP437 byte 0x81 (u with umlaut) in both headers.
        for sig, off in ((b"PK\x03\x04", 30), (b"PK\x01\x02", 46)):
            pos = raw.find(sig)
            while pos >= 0:
                n = struct.unpack_from("<H", raw, pos + off - 4 if sig == b"PK\x03\x04" else pos + 28)[0]
                if n == 1 and raw[pos + off:pos + off + 1] == b"x":
                    raw[pos + off] = 0x81
                pos = raw.find(sig, pos + 4)
        open(odd, "wb").write(raw)
        p = run("list", "--json", odd)
        check(p.returncode == 0, f"odd list exit {p.returncode} {p.stderr!r}")
        try:
            doc = json.loads(p.stdout.decode("utf-8"))
            got = [m["name"] for m in doc["members"]]
            check(got == names + ["\u00fc"], f"odd names {got}")
            check(doc["type"] == "atZip" and doc["archive"] == odd, f"odd header {doc['type']} {doc['archive']}")
        except (ValueError, UnicodeDecodeError) as e:
            check(False, f"odd list JSON: {e}: {p.stdout!r}")

        # Names that would leave the extraction directory are never written;
        # the others are, and the run says it failed.
        evil = os.path.join(work, "evil.zip")
        # zipfile cleans such names on writing: the archive is laid out here.
        evil_members = [("good.txt", b"good"), ("../escaped.txt", b"evil"), ("a/../../escaped2.txt", b"evil"),
                        ("/tmp/parcelix-cli-abs.txt", b"evil")]
        with open(evil, "wb") as f:
            central = b""
            for name, data in evil_members:
                off = f.tell()
                nb = name.encode()
                crc = zipfile.crc32(data) & 0xFFFFFFFF
                f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, crc, len(data), len(data),
                                    len(nb), 0) + nb + data)
                central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, crc, len(data),
                                       len(data), len(nb), 0, 0, 0, 0, 0, off) + nb
            start = f.tell()
            f.write(central)
            f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(evil_members), len(evil_members), len(central),
                                start, 0))
        out = os.path.join(work, "out", "deeper")
        p = run("extract", evil, out)
        check(p.returncode == 1, f"evil extract exit {p.returncode}")
        check(p.stderr.count(b"Invalid file name") == 3, f"evil stderr {p.stderr!r}")
        check(open(os.path.join(out, "good.txt"), "rb").read() == b"good", "evil: good.txt missing")
        for leaked in (os.path.join(work, "out", "escaped.txt"), os.path.join(work, "escaped2.txt"),
                       os.path.join(work, "out", "escaped2.txt"), "/tmp/parcelix-cli-abs.txt"):
            check(not os.path.exists(leaked), f"evil: {leaked} was written")
        check(p.stdout.decode().splitlines() == [os.path.join(out, "good.txt")], f"evil stdout {p.stdout!r}")

        # extract with masks, and the names it prints.
        out2 = os.path.join(work, "masked")
        p = run("extract", jar, out2, "*.MF")
        check(p.returncode == 0, f"masked extract exit {p.returncode} {p.stderr!r}")
        check(p.stdout.decode().splitlines() == [os.path.join(out2, "META-INF/MANIFEST.MF")],
              f"masked stdout {p.stdout!r}")
        check(not os.path.exists(os.path.join(out2, "a")), "masked: a/ extracted")

        # test --json on a damaged member: false there and at the top.
        dmg = bytearray(open(jar, "rb").read())
        info = zipfile.ZipFile(jar).getinfo("a/B.class")
        dmg[info.header_offset + 30 + len("a/B.class") + 5] ^= 0xFF
        damaged = os.path.join(work, "damaged.jar")
        open(damaged, "wb").write(dmg)
        p = run("test", "--json", damaged)
        check(p.returncode == 1, f"damaged test exit {p.returncode}")
        doc = json.loads(p.stdout)
        check(doc["ok"] is False and [m["ok"] for m in doc["members"]] == [True, False], f"damaged json {doc}")
        check(set(doc["members"][0]) == {"name", "method", "compressed", "size", "crc", "flags", "ok"},
              f"test member keys {sorted(doc['members'][0])}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    finish()


if __name__ == "__main__":
    main()
