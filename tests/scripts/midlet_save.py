#!/usr/bin/env python3
"""Scenario tests of the manifest save (set, unset, edit) on JARs made by the
JDK's jar, Info-ZIP zip, 7-Zip (Deflate64) and python's zipfile: the result
passes unzip -t and 7z t, every other member is byte-identical and in the
same order, Java sees the new values; failures leave the JAR untouched."""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import (MAKERS, Checker, files_in, have, make_jar, make_tree, midlet_manifest, read_member,  # noqa: E402,E501
                  raw_members, require_program, run, write_ini)
import jars  # noqa: E402

require_program()
c = Checker()
work = tempfile.mkdtemp(prefix="parcelix-midlet-save-")
tmpdir = os.path.join(work, "tmp")
os.makedirs(tmpdir)
ini = os.path.join(work, "settings.ini")
ENV = {"PARCELIX_INI": ini, "TMPDIR": tmpdir}
MF = "META-INF/MANIFEST.MF"

JAVA_CHECK = r"""
import java.io.*;
import java.util.*;
import java.util.jar.*;
public class MfCheck {
  public static void main(String[] a) throws Exception {
    try (JarFile jf = new JarFile(a[0])) {
      Manifest m = jf.getManifest();
      for (int i = 1; i < a.length; i++)
        System.out.println(a[i] + "=" + (m == null ? null : m.getMainAttributes().getValue(a[i])));
      for (Enumeration<JarEntry> en = jf.entries(); en.hasMoreElements();) {
        JarEntry e = en.nextElement();
        try (InputStream in = jf.getInputStream(e)) { in.readAllBytes(); }
        catch (Exception ex) { System.out.println("unreadable=" + e.getName()); }
      }
    }
    try (JarInputStream jis = new JarInputStream(new FileInputStream(a[0]))) {
      System.out.println("stream-manifest=" + (jis.getManifest() != null));
    }
  }
}
"""
java_dir = None
if have("javac") and have("java"):
    java_dir = os.path.join(work, "java")
    os.makedirs(java_dir)
    with open(os.path.join(java_dir, "MfCheck.java"), "w") as f:
        f.write(JAVA_CHECK)
    subprocess.run(["javac", "-d", java_dir, os.path.join(java_dir, "MfCheck.java")], check=True)


def java_view(jar, *keys):
    p = subprocess.run(["java", "-cp", java_dir, "MfCheck", jar] + list(keys), capture_output=True, text=True)
    if p.returncode != 0:
        return {"error": p.stderr.strip()}
    out = {}
    for line in p.stdout.splitlines():
        k, _, v = line.partition("=")
        out.setdefault(k, []).append(v) if k == "unreadable" else out.__setitem__(k, v)
    return out


def tool_ok(args):
    return subprocess.run(args, capture_output=True).returncode == 0


def unzip_p(jar, name):
    return subprocess.run(["unzip", "-p", jar, name], capture_output=True).stdout


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def new_jar(maker, manifest, folder, name="game.jar", with_manifest=True):
    return jars.new_jar(work, maker, manifest, folder, name, with_manifest)


def no_leftovers(folder, expected, what):
    c.eq(files_in(folder), sorted(expected), f"{what}: files beside the JAR")
    c.eq(files_in(tmpdir), [], f"{what}: temporary directory empty")


def manifest_of(jar):
    return read_member(jar, MF)


# ---------------------------------------------------------------- set on every maker
write_ini(ini)
SECTIONS = b"Name: GameMidlet.class\r\nSHA-256-Digest: q1w2e3=\r\n\r\nName: i.png\nSHA-256-Digest: r4t5\n y6=\n\n"
for maker in MAKERS:
    d = os.path.join(work, "set-" + maker)
    jar = new_jar(maker, midlet_manifest("Foo", "1.0"), d)
    if jar is None:
        print("skipping", maker, "(tool missing)")
        continue
    before = raw_members(jar)
    was_first = before[0][0] == MF or (before[0][0] == "META-INF/" and before[1][0] == MF)
    unzipped = {m[0]: unzip_p(jar, m[0]) for m in before if not m[0].endswith("/") and m[0] != MF}
    code, out, err = run(["set", "--no-backup", "--no-rename", "--no-jad", jar, "MIDlet-Version=2.0",
                          "X-New=a=b: c"], ENV)
    c.eq((code, out), (0, jar + "\n"), f"set {maker} ({err.strip()})")
    c.check(tool_ok(["unzip", "-t", "-q", jar]), f"set {maker}: unzip -t")
    if have("7z"):
        c.check(tool_ok(["7z", "t", jar]), f"set {maker}: 7z t")
    after = raw_members(jar)
    c.eq([m[0] for m in after], [m[0] for m in before], f"set {maker}: same members in the same order")
    c.eq([m for m in after if m[0] != MF], [m for m in before if m[0] != MF],
         f"set {maker}: other members byte-identical (method, CRC, sizes, raw data)")
    c.eq({n: unzip_p(jar, n) for n in unzipped}, unzipped, f"set {maker}: unzip -p output unchanged")
    text = manifest_of(jar).decode()
    c.check("MIDlet-Version: 2.0\r\n" in text and "X-New: a=b: c\r\n" in text and "MIDlet-Version: 1.0" not in text,
            f"set {maker}: manifest text")
    c.check(text.endswith("\r\n\r\n"), f"set {maker}: manifest ends with an empty line")
    if java_dir and maker != "7z-deflate64":  # Java refuses a directory that names Deflate64
        view = java_view(jar, "MIDlet-Version", "X-New", "MIDlet-Name")
        c.eq((view.get("MIDlet-Version"), view.get("X-New"), view.get("MIDlet-Name")), ("2.0", "a=b: c", "Foo"),
             f"set {maker}: java.util.jar.JarFile sees the values ({view.get('error', '')})")
        c.eq(view.get("unreadable"), None, f"set {maker}: Java reads every member")
        if was_first:
            c.eq(view.get("stream-manifest"), "true", f"set {maker}: JarInputStream finds the manifest")
    no_leftovers(d, ["game.jar"], f"set {maker}")

# ---------------------------------------------------------------- manifest forms through a save
d = os.path.join(work, "forms")
jar = new_jar("infozip", midlet_manifest("Signed", "1") + SECTIONS, d, "signed.jar")
run(["set", "--no-backup", "--no-rename", "--no-jad", jar, "MIDlet-Vendor=Other"], ENV)
text = manifest_of(jar)
c.check(text.endswith(b"\r\n\r\n" + SECTIONS), "per-entry sections written back unchanged after the main section")
c.check(b"MIDlet-Vendor: Other\r\n" in text.split(b"\r\n\r\n")[0], "main section edited")

long_value = "".join(chr(ord("a") + i % 26) for i in range(1500))
jar = new_jar("jdk", midlet_manifest("Long", "1", extra=["X-Folded: " + "y" * 100]), d, "long.jar")
if jar:
    code, out, err = run(["set", "--no-backup", "--no-rename", "--no-jad", jar, "X-Long=" + long_value], ENV)
    c.eq(code, 0, "set a 1500-byte value")
    raw = manifest_of(jar)
    c.check(all(len(l) + 2 <= 512 for l in raw.split(b"\r\n")), "no physical line longer than 512 bytes")
    c.check(b"X-Folded: " + b"y" * 100 + b"\r\n" in raw, "a 72-byte folded line is written on one line")
    if java_dir:
        view = java_view(jar, "X-Long", "X-Folded")
        c.eq((view.get("X-Long"), view.get("X-Folded")), (long_value, "y" * 100), "Java reads folded values")

jar = new_jar("python", b"", d, "nomf.jar", with_manifest=False)
code, out, err = run(["set", "--no-backup", "--no-rename", "--no-jad", jar, "MIDlet-Name=Fresh"], ENV)
c.eq(code, 0, "set on a JAR without a manifest")
with zipfile.ZipFile(jar) as z:
    names = z.namelist()
c.eq(names[0], MF, "a new manifest is the first member")
c.check(tool_ok(["unzip", "-t", "-q", jar]), "JAR with a new manifest: unzip -t")
if java_dir:
    view = java_view(jar, "MIDlet-Name", "Manifest-Version")
    c.eq((view.get("MIDlet-Name"), view.get("Manifest-Version"), view.get("stream-manifest")),
         ("Fresh", "1.0", "true"), "Java reads the new manifest")

# ---------------------------------------------------------------- the save command's options
write_ini(ini)  # backup, rename and JAD on
d = os.path.join(work, "options")
jar = new_jar("infozip", midlet_manifest("Foo", "1.0"), d)
old = read_bytes(jar)
code, out, err = run(["set", jar, "MIDlet-Version=2.0"], ENV)
new_path = os.path.join(d, "Foo 2.0.jar")
c.eq((code, out), (0, new_path + "\n"), f"set with all options ({err.strip()})")
no_leftovers(d, ["game.bak", "Foo 2.0.jar", "Foo 2.0.jad"], "set with all options")
c.eq(read_bytes(os.path.join(d, "game.bak")), old, "the backup is the old JAR")
jad = read_bytes(os.path.join(d, "Foo 2.0.jad")).decode()
c.check("MIDlet-Jar-URL: Foo 2.0.jar\r\n" in jad and "MIDlet-Version: 2.0\r\n" in jad and
        f"MIDlet-Jar-Size: {os.path.getsize(new_path)}\r\n" in jad, "the JAD follows the renamed JAR")

# A second save: the backup is replaced, the JAR keeps its (computed) name.
code, out, err = run(["set", "--no-jad", new_path, "X-Second=1"], ENV)
c.eq((code, out), (0, new_path + "\n"), "second save")
c.eq(files_in(d), ["Foo 2.0.bak", "Foo 2.0.jad", "Foo 2.0.jar", "game.bak"], "second save: backup of the new name")

# Rename wanted but the name is taken: saved, kept, status 1.
other = new_jar("python", midlet_manifest("Taken", "1"), d, "other.jar")
with open(os.path.join(d, "Taken 1.jar"), "wb") as f:
    f.write(b"someone else's file")
code, out, err = run(["set", "--no-backup", "--no-jad", other, "X=1"], ENV)
c.eq((code, out), (1, other + "\n"), "rename after save onto a taken name")
c.eq(read_bytes(os.path.join(d, "Taken 1.jar")), b"someone else's file", "taken name not replaced")
c.check("X: 1\r\n" in manifest_of(other).decode(), "the save itself happened")

# unset
code, out, err = run(["unset", "--no-backup", "--no-rename", "--no-jad", other, "X", "MIDlet-Vendor"], ENV)
c.eq(code, 0, "unset")
text = manifest_of(other).decode()
c.check("X: 1" not in text and "MIDlet-Vendor" not in text and "MIDlet-Name: Taken" in text, "unset removed both")
snapshot = read_bytes(other)
code, out, err = run(["unset", "--no-backup", "--no-rename", "--no-jad", other, "Missing"], ENV)
c.eq(code, 1, "unset of a missing key")
c.eq(read_bytes(other), snapshot, "unset of a missing key changes nothing")

# Keys and values that would break the manifest are refused.
for bad in (["set", other, "Bad Key=x"], ["set", other, "=x"], ["set", other, "K:x=1"], ["set", other, "novalue"],
            ["set", other, "K=a\nInjected: 1"], ["set", other]):
    code, out, err = run(bad, ENV)
    c.eq(code, 2, "refused: " + repr(bad[2:]))
c.eq(read_bytes(other), snapshot, "refused sets change nothing")

# edit: the editor's result is saved; no change or a failing editor saves nothing.
edit = os.path.join(work, "edit.sh")
with open(edit, "w") as f:
    f.write('#!/bin/sh\nsed -i -e "s/^MIDlet-Name=.*/MIDlet-Name=Edited/" -e "/^MIDlet-1=/d" "$1"\n')
os.chmod(edit, 0o755)
code, out, err = run(["edit", "--no-backup", "--no-rename", "--no-jad", other], dict(ENV, VISUAL="", EDITOR=edit))
text = manifest_of(other).decode()
c.eq(code, 0, f"edit ({err.strip()})")
c.check("MIDlet-Name: Edited\r\n" in text and "MIDlet-1:" not in text, "edit saved the edited lines")
snapshot = read_bytes(other)
for editor, want in (("true", 0), ("false", 1)):
    code, out, err = run(["edit", other], dict(ENV, VISUAL=editor))
    c.eq(code, want, f"edit with {editor}")
    c.eq(read_bytes(other), snapshot, f"edit with {editor} changes nothing")
c.check(not os.path.exists(os.path.join(d, "other.bak")), "no backup when nothing was saved")

# ---------------------------------------------------------------- failures leave the JAR as it was
d = os.path.join(work, "fail")
jar = new_jar("infozip", midlet_manifest("Foo", "1.0"), d)
snapshot = read_bytes(jar)
# The save needs no temporary directory: the new JAR is written beside the old one.
code, out, err = run(["set", "--no-backup", "--no-rename", "--no-jad", jar, "X=1"],
                     dict(ENV, TMPDIR=os.path.join(work, "no-such-dir")))
c.eq(code, 0, f"no usable temporary directory: the save works ({err.strip()})")
c.check(b"X: 1\r\n" in manifest_of(jar), "no usable temporary directory: the manifest was saved")
c.eq(sorted(os.listdir(d)), ["game.jar"], "no usable temporary directory: nothing left beside the JAR")
snapshot = read_bytes(jar)

damaged = os.path.join(d, "damaged.jar")
with open(damaged, "wb") as f:
    f.write(snapshot[:len(snapshot) // 3])
code, out, err = run(["set", "--no-backup", damaged, "X=1"], ENV)
c.eq(code, 1, "set on a truncated JAR fails")
c.eq(read_bytes(damaged), snapshot[:len(snapshot) // 3], "truncated JAR unchanged")

# The JAR disappears before the save (the editor moves it away).
mover = os.path.join(work, "mover.sh")
with open(mover, "w") as f:
    f.write(f'#!/bin/sh\necho "X=1" >> "$1"\nmv "{jar}" "{jar}.away"\n')
os.chmod(mover, 0o755)
code, out, err = run(["edit", jar], dict(ENV, VISUAL=mover))
c.eq(code, 1, "JAR gone before the save")
c.eq(read_bytes(jar + ".away"), snapshot, "moved JAR unchanged")
os.rename(jar + ".away", jar)
no_leftovers(d, ["damaged.jar", "game.jar"], "failed saves")

# A full file system: a small tmpfs that cannot hold a second copy.
full = os.path.join(work, "full")
os.makedirs(full)
mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", full], capture_output=True).returncode == 0
if mounted:
    try:
        tree = tempfile.mkdtemp(dir=work, prefix="tree-")
        make_tree(tree, midlet_manifest("Big", "1"))
        with open(os.path.join(tree, "big.bin"), "wb") as f:
            f.write(os.urandom(600 * 1024))
        jar = os.path.join(full, "big.jar")
        make_jar("infozip", jar, tree)
        snapshot = read_bytes(jar)
        # The backup is a second name of the old file (it takes no room), so
        # with a backup the save gets as far as the temporary archive too and
        # the backup of the unchanged JAR stays.
        for flags, what, left in ((["--no-backup"], "temporary archive", ["big.jar"]),
                                  ([], "with a backup", ["big.bak", "big.jar"])):
            code, out, err = run(["set"] + flags + [jar, "X=1"], ENV)
            c.eq(code, 1, f"full file system ({what}): the save fails")
            c.check(err.strip() != "", f"full file system ({what}): the user is told")
            c.eq(read_bytes(jar), snapshot, f"full file system ({what}): JAR byte-identical")
            no_leftovers(full, left, f"full file system ({what})")
        c.eq(read_bytes(os.path.join(full, "big.bak")), snapshot, "full file system: the backup is the old JAR")
    finally:
        subprocess.run(["umount", full])
else:
    print("tmpfs cannot be mounted here: full file system case skipped")

if not c.failures:
    shutil.rmtree(work)
c.finish()
