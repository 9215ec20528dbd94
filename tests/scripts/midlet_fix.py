#!/usr/bin/env python3
"""`parcelix fix` on JARs made by the JDK's jar, Info-ZIP zip, 7-Zip (Deflate
and Deflate64), python's zipfile and bsdtar, and on crafted ones (manifest
last, descriptor flag without descriptor, junk in front, a wrong directory
offset, a truncated tail, a bad CRC, a BOM, no final line end). After the fix
unzip -t, 7z t, python's testzip(), JarFile and JarInputStream read every
member, each kept member decodes to the bytes it had, and a second fix says
"already fine" and leaves bytes and mtime. Damaged JARs are left byte for
byte without --salvage; signatures are kept or refused as they must be."""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import (Checker, central_entries, compile_java, have, make_jar, make_tree, midlet_manifest,  # noqa: E402
                  require_program, run, write_ini)

require_program()
c = Checker()
work = tempfile.mkdtemp(prefix="parcelix-fix-")
ini = os.path.join(work, "settings.ini")
write_ini(ini, backup=False)
ENV = {"PARCELIX_INI": ini}

# JarFile and JarInputStream read every entry; the manifest is seen by both.
JAVA_CHECK = r"""
import java.io.*;
import java.util.*;
import java.util.jar.*;
public class JarCheck {
  public static void main(String[] a) throws Exception {
    int n = 0;
    try (JarFile f = new JarFile(a[0], true)) {
      for (Enumeration<JarEntry> e = f.entries(); e.hasMoreElements();) {
        JarEntry j = e.nextElement();
        try (InputStream in = f.getInputStream(j)) { in.readAllBytes(); }
        n++;
      }
    }
    int m = 0;
    try (JarInputStream in = new JarInputStream(new FileInputStream(a[0]), true)) {
      if (in.getManifest() == null) { System.out.println("JarInputStream: no manifest"); System.exit(1); }
      while (in.getNextJarEntry() != null) { in.readAllBytes(); m++; }
    }
    // JarInputStream hands out neither META-INF/ nor the manifest as entries.
    if (m < n - 2) { System.out.println("JarInputStream read " + m + " of " + n); System.exit(1); }
  }
}
"""
java_dir = compile_java(work, "JarCheck", JAVA_CHECK)


def members(jar):
    """Name -> decoded bytes (first entry of a name), by python's zipfile."""
    out = {}
    with zipfile.ZipFile(jar) as z:
        for info in z.infolist():
            if info.filename not in out:
                out[info.filename] = z.read(info)
    return out


def readers_accept(jar, what, java=True):
    p = subprocess.run(["unzip", "-tqq", jar], capture_output=True)
    c.eq(p.returncode, 0, f"{what}: unzip -t ({p.stdout[-200:]!r})")
    if have("7z"):
        p = subprocess.run(["7z", "t", "-bd", jar], capture_output=True)
        c.eq(p.returncode, 0, f"{what}: 7z t")
    try:
        with zipfile.ZipFile(jar) as z:
            c.eq(z.testzip(), None, f"{what}: python testzip")
    except (zipfile.BadZipFile, OSError, NotImplementedError) as e:
        c.check(False, f"{what}: python zipfile: {e}")
    if java and java_dir:
        p = subprocess.run(["java", "-cp", java_dir, "JarCheck", jar], capture_output=True)
        c.eq(p.returncode, 0, f"{what}: JarFile/JarInputStream ({p.stdout.decode()[-300:]} {p.stderr.decode()[-300:]})")
    with open(jar, "rb") as f:
        head = f.read(50)
    c.check(head.startswith(b"PK\x03\x04"), f"{what}: no bytes in front")
    c.check(b"META-INF/" in head, f"{what}: META-INF first")


def fix(*args):
    return run(["fix"] + list(args), env_extra=ENV)


def stamp(path):
    st = os.stat(path)
    return open(path, "rb").read(), st.st_mtime_ns


def check_fixed(jar, before, what, flags=(), java=True, want_rc=0):
    """Fixes jar; the readers accept it, its members are those of before
    (name -> bytes), and a second fix changes nothing."""
    rc, out, err = fix(*flags, jar)
    c.eq(rc, want_rc, f"{what}: exit status ({out} {err})")
    readers_accept(jar, what, java)
    after = members(jar)
    for name, data in after.items():
        c.check(before.get(name) == data or name == "META-INF/MANIFEST.MF" or name.endswith("/"),
                f"{what}: {name} decodes to other bytes than before")
    c.check(set(before) <= set(after) or want_rc == 1, f"{what}: lost {set(before) - set(after)}")
    old = stamp(jar)
    rc, out, _ = fix(*flags, jar)
    c.check(rc == 0 and "already fine" in out, f"{what}: second fix: {out}")
    c.check(stamp(jar) == old, f"{what}: second fix touched the file")
    return out


# ---------------------------------------------------------------- makers

tree = os.path.join(work, "tree")
files = make_tree(tree, midlet_manifest("Fix Me", "1.0"))


def make(maker, jar):
    if maker == "7z-deflate":
        if not have("7z"):
            return False
        names = sorted(os.listdir(tree))
        subprocess.run(["7z", "a", "-tzip", "-mm=Deflate", "-bd", "-bso0", jar] + names, cwd=tree, check=True)
        return True
    if maker == "bsdtar":
        if not have("bsdtar"):
            return False
        subprocess.run(["bsdtar", "--format", "zip", "-cf", jar] + sorted(os.listdir(tree)), cwd=tree, check=True)
        return True
    return make_jar(maker, jar, tree)


for maker in ["jdk", "infozip", "7z-deflate", "7z-deflate64", "python", "python-zip64", "bsdtar"]:
    jar = os.path.join(work, maker + ".jar")
    if not make(maker, jar):
        print("skipped (tool missing):", maker)
        continue
    # The tree's files; a tool may write its own manifest and directories.
    before = {n: d for n, d in files.items() if n != "META-INF/MANIFEST.MF"}
    flags = ["--deflate64-to-deflate"] if maker == "7z-deflate64" else []
    check_fixed(jar, before, maker, flags)


# ---------------------------------------------------------------- crafted

MF = midlet_manifest("Crafted", "2.0")
DATA = [("a.txt", b"alpha " * 300), ("res/b.bin", os.urandom(700)), ("c.txt", b"gamma\n" * 50)]


def zip_bytes(entries, method=zipfile.ZIP_DEFLATED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for name, data in entries:
            z.writestr(name, data)
    return bytearray(buf.getvalue())


def end_record(data):
    return data.rfind(b"PK\x05\x06")


def descriptor_flag(data):
    """Bit 3 set on every entry, local and central, with no descriptor written."""
    for cen, loc in central_entries(data):
        data[cen + 8] |= 8
        data[loc + 6] |= 8
    return data


def wrong_directory_offset(data):
    end = end_record(data)
    struct.pack_into("<I", data, end + 16, struct.unpack_from("<I", data, end + 16)[0] + 7)
    return data


def bad_crc(data):
    """One byte of the stored member c.txt changed."""
    loc = central_entries(data)[-1][1]
    n, m = struct.unpack_from("<HH", data, loc + 26)
    data[loc + 30 + n + m + 3] ^= 0x55
    return data


def write(name, data):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


plain = [("META-INF/MANIFEST.MF", MF)] + DATA
want = dict(plain)
crafted = [
    ("manifest-last", zip_bytes(DATA + [("META-INF/MANIFEST.MF", MF)]), []),
    ("descriptor-flag", descriptor_flag(zip_bytes(plain)), []),
    ("junk-in-front", bytearray(b"\x00junk" * 20) + zip_bytes(plain), []),
    ("wrong-directory-offset", wrong_directory_offset(zip_bytes(plain)), ["--salvage"]),
    ("truncated-tail", zip_bytes(plain)[:-30], ["--salvage"]),
    ("bom", zip_bytes([("META-INF/MANIFEST.MF", b"\xef\xbb\xbf" + MF)] + DATA), []),
    ("no-final-line-end", zip_bytes([("META-INF/MANIFEST.MF", MF.rstrip(b"\r\n"))] + DATA), []),
    ("everything", descriptor_flag(zip_bytes(DATA + [("META-INF/MANIFEST.MF", b"\xef\xbb\xbf" + MF[:-4])])), []),
]
for name, data, flags in crafted:
    jar = write(name + ".jar", data)
    out = check_fixed(jar, want, name, flags)
    if name in ("bom", "no-final-line-end", "everything"):
        with zipfile.ZipFile(jar) as z:
            mf = z.read("META-INF/MANIFEST.MF")
        c.check(not mf.startswith(b"\xef\xbb\xbf") and mf.endswith(b"\r\n"), f"{name}: manifest {mf[-20:]!r}")
        c.check(mf.replace(b"\r\n", b"") == MF.replace(b"\r\n", b""), f"{name}: manifest text changed")

# A damaged member: left byte for byte without --salvage; with it the rest is
# written, the member named and the exit status 1.
# The second JAR also needs its layout fixed, so its damage shows only when
# the written JAR is read back: the same words, nothing left beside it.
for stem, entries in (("bad-crc-manifest-later", DATA[:-1] + [plain[0], DATA[-1]]), ("bad-crc", plain)):
    jar = write(stem + ".jar", bad_crc(zip_bytes(entries, zipfile.ZIP_STORED)))
    old, before = stamp(jar), sorted(os.listdir(work))
    rc, out, err = fix(jar)
    c.check(rc == 1 and "left as it is (c.txt: it fails its CRC check" in out, f"{stem}: refused ({rc} {out} {err})")
    c.check(stamp(jar) == old, f"{stem}: the JAR changed without --salvage")
    c.eq(sorted(os.listdir(work)), before, f"{stem}: files beside a refused fix")
rc, out, err = fix("--salvage", jar)
c.check(rc == 1 and "left out c.txt" in out, f"bad crc with salvage: {rc} {out} {err}")
readers_accept(jar, "bad crc with salvage")
c.eq(sorted(members(jar)), sorted(n for n, _ in plain if n != "c.txt"), "bad crc with salvage: members")

# Duplicate names: reported and kept, dropped only with --salvage.
import warnings  # noqa: E402
warnings.simplefilter("ignore")
jar = write("dup.jar", zip_bytes(plain + [("a.txt", b"second a")]))
rc, out, _ = fix(jar)
c.check(rc == 0 and "a.txt is stored 2 times" in out, f"duplicates reported: {out}")
with zipfile.ZipFile(jar) as z:
    c.eq(len(z.infolist()), 5, "duplicates kept without --salvage")
rc, out, _ = fix("--salvage", jar)
c.check(rc == 0 and "dropped 1 later entry named a.txt" in out, f"duplicates dropped: {out}")
c.eq(members(jar)["a.txt"], want["a.txt"], "the first a.txt is kept")

# A folder with -r: the JARs below it in order, each with its verdict, and
# the summary; one damaged JAR makes the exit status 1.
folder = os.path.join(work, "batch", "sub")
os.makedirs(folder)
for name, data in (("a-fine.jar", zip_bytes(plain)), ("b-last.jar", zip_bytes(DATA + [("META-INF/MANIFEST.MF", MF)])),
                   ("c-bad.jar", bad_crc(zip_bytes(plain, zipfile.ZIP_STORED)))):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
rc, out, _ = fix("-r", os.path.dirname(folder))
lines = [l for l in out.splitlines() if not l.startswith("  ")]
c.eq([l.split(": ", 1)[1].split(" (")[0] for l in lines[:3]], ["already fine", "fixed", "left as it is"], "batch verdicts")
c.check(lines[0].endswith("a-fine.jar: already fine"), f"batch order: {lines}")
c.eq(lines[-1], "3 JARs: 1 fixed, 1 already fine, 1 left as they are", "batch summary")
c.eq(rc, 1, "batch exit status")

# A dry run writes nothing.
jar = write("dry.jar", zip_bytes(DATA + [("META-INF/MANIFEST.MF", MF)]))
old = stamp(jar)
rc, out, _ = fix("-n", jar)
c.check(rc == 0 and "would be fixed" in out, f"dry run: {out}")
c.check(stamp(jar) == old, "dry run changed the JAR")

# The JAD beside: its MIDlet-Jar-Size follows when it gave the old size;
# every other byte stays.
jar = write("sized.jar", zip_bytes(DATA + [("META-INF/MANIFEST.MF", MF)]))
jad = jar[:-4] + ".jad"
size = os.path.getsize(jar)
with open(jad, "wb") as f:
    f.write(b"MIDlet-Name: Crafted\nMIDlet-Jar-Size:  %d \r\nMIDlet-Jar-URL: sized.jar" % size)
rc, out, _ = fix(jar)
with open(jad, "rb") as f:
    c.eq(f.read(), b"MIDlet-Name: Crafted\nMIDlet-Jar-Size:  %d \r\nMIDlet-Jar-URL: sized.jar" % os.path.getsize(jar),
         "JAD size updated, nothing else")

# A MIDP signature in the JAD: refused without --break-signature.
jar = write("midp.jar", zip_bytes(DATA + [("META-INF/MANIFEST.MF", MF)]))
with open(jar[:-4] + ".jad", "wb") as f:
    f.write(b"MIDlet-Jar-Size: %d\nMIDlet-Jar-RSA-SHA1: c2lnbmF0dXJl\n" % os.path.getsize(jar))
old = stamp(jar)
rc, out, _ = fix(jar)
c.check(rc == 1 and "--break-signature" in out, f"MIDP-signed refused: {out}")
c.check(stamp(jar) == old, "MIDP-signed JAR changed")
rc, out, _ = fix("--break-signature", jar)
c.check(rc == 0 and "no longer matches" in out, f"MIDP-signed with --break-signature: {out}")

# A JAR signed the Java way keeps its signature through the fix.
if have("jarsigner") and have("keytool") and have("jar"):
    store = os.path.join(work, "keys.p12")
    subprocess.run(["keytool", "-genkeypair", "-keystore", store, "-storepass", "secret1", "-alias", "k",
                    "-keyalg", "RSA", "-keysize", "2048", "-dname", "CN=Parcelix Test", "-validity", "3650"],
                   check=True, capture_output=True)
    jar = os.path.join(work, "signed.jar")
    make_jar("jdk", jar, tree)
    subprocess.run(["jarsigner", "-keystore", store, "-storepass", "secret1", jar, "k"], check=True,
                   capture_output=True)
    with open(jar, "rb") as f:
        data = f.read()
    with open(jar, "wb") as f:
        f.write(b"\0" * 64 + data)
    rc, out, _ = fix(jar)
    c.check(rc == 0 and "fixed" in out and "no longer matches" not in out, f"signed: {out}")
    p = subprocess.run(["jarsigner", "-verify", jar], capture_output=True)
    c.check(p.returncode == 0 and b"jar verified" in p.stdout, f"signed: jarsigner -verify: {p.stdout[-300:]}")
    readers_accept(jar, "signed")

shutil.rmtree(work)
c.finish()
