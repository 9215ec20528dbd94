#!/usr/bin/env python3
"""Batches on worker threads: `rename`, `jad`, `check` and `fix` with -j 4 print the same
bytes and leave the same files as with -j 1, on a collection with name
clashes, damaged JARs, JARs without a manifest, identical copies and a
legacy code page; the result is checked against python's zipfile reading
the manifests, not only against the program itself."""
import hashlib
import os
import shutil
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import Checker, midlet_manifest, require_program, run, scratch  # noqa: E402

require_program()
c = Checker()
work, ENV = scratch("parcelix-jobs-")


def jar(folder, name, manifest, extra=b""):
    """A JAR with fixed member times, so the collections built for -j 1 and
    -j 4 have the same bytes even when a second passes between them."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)

    def member(member_name):
        return zipfile.ZipInfo(member_name, date_time=(2009, 6, 1, 12, 0, 0))

    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        if manifest is not None:
            z.writestr(member("META-INF/MANIFEST.MF"), manifest, zipfile.ZIP_DEFLATED)
        z.writestr(member("GameMidlet.class"), b"\xca\xfe\xba\xbe" + extra * 50, zipfile.ZIP_DEFLATED)
    return path


def collection(root):
    """About 60 JARs in two folders: pairs of one suite (the second keeps its
    name), a copy with the same bytes, damaged ones, and odd manifests."""
    for i in range(40):
        folder = os.path.join(root, "a" if i % 2 else "b")
        jar(folder, "g%02d.jar" % i, midlet_manifest("Game %d" % (i // 3), "1.%d" % (i % 3 // 2)), b"%d" % i)
    jar(os.path.join(root, "a"), "copy1.jar", midlet_manifest("Copy", "1.0"))
    shutil.copy(os.path.join(root, "a", "copy1.jar"), os.path.join(root, "a", "copy2.jar"))
    jar(os.path.join(root, "a"), "nomf.jar", None)
    jar(os.path.join(root, "b"), "noname.jar", midlet_manifest(None, "1.0"))
    legacy = midlet_manifest(None, "2.0").decode().replace("Manifest-Version: 1.0\r\n",
                                                           "Manifest-Version: 1.0\r\nMIDlet-Name: Игра\r\n")
    jar(os.path.join(root, "b"), "cyr.jar", legacy.encode("cp1251"))
    good = jar(os.path.join(root, "b"), "cut.jar", midlet_manifest("Cut", "1.0"), b"x" * 100)
    with open(good, "rb") as f:
        data = f.read()
    with open(good, "wb") as f:
        f.write(data[:len(data) // 2])
    with open(os.path.join(root, "a", "notzip.jar"), "wb") as f:
        f.write(b"not an archive\n" * 10)
    # For jad: a stale JAD the batch must replace, and two JARs whose JADs
    # share one name (the second one's wins, as in a single-threaded run).
    with open(os.path.join(root, "a", "g03.jad"), "wb") as f:
        f.write(b"MIDlet-Name: Old\r\n")
    jar(os.path.join(root, "a"), "g05.JAR", midlet_manifest("Upper", "3.0"))


def tree(root):
    """Every file below root: relative path -> SHA-256 of its bytes."""
    out = {}
    for d, _, files in os.walk(root):
        for name in files:
            p = os.path.join(d, name)
            with open(p, "rb") as f:
                out[os.path.relpath(p, root)] = hashlib.sha256(f.read()).hexdigest()
    return out


def batch(jobs, *args):
    root = os.path.join(work, "%s-j%s" % ("-".join(a.strip("-") for a in args), jobs))
    collection(root)
    code, out, err = run(list(args) + ["-r", "-j", jobs, root], ENV)
    return code, out.replace(root, "ROOT"), err.replace(root, "ROOT"), tree(root), root


for args in (["rename"], ["rename", "-n"], ["rename", "--json"], ["rename", "--on-conflict", "number"],
             ["jad"], ["jad", "-n", "--json"], ["check", "--duplicates"], ["fix", "-n"], ["fix"]):
    one = batch("1", *args)
    four = batch("4", *args)
    what = " ".join(args)
    c.check(len(one[1].splitlines()) >= 45, f"{what}: every JAR reported ({len(one[1].splitlines())} lines)")
    c.eq(four[0], one[0], f"{what} -j 4: exit status as -j 1")
    c.eq(four[1], one[1], f"{what} -j 4: standard output as -j 1")
    c.eq(four[2], one[2], f"{what} -j 4: standard error as -j 1")
    c.eq(four[3], one[3], f"{what} -j 4: the same files with the same bytes as -j 1")

# The renamed files carry the names python reads from their manifests; the
# second JAR of a suite kept its name; damaged JARs are untouched.
code, out, err, files, root = batch("4", "rename")
for rel in files:
    if not rel.endswith(".jar") or not rel.startswith(("a/Game", "b/Game")):
        continue
    with zipfile.ZipFile(os.path.join(root, rel)) as z:
        mf = z.read("META-INF/MANIFEST.MF").decode()
    fields = dict(line.split(": ", 1) for line in mf.split("\r\n") if ": " in line)
    c.eq(os.path.basename(rel), "%s %s.jar" % (fields["MIDlet-Name"], fields["MIDlet-Version"]),
         f"{rel}: named after its manifest")
c.check("b/cut.jar" in files and "a/notzip.jar" in files and "a/nomf.jar" in files, "damaged JARs keep their names")
c.check("b/Игра 2.0.jar" in files, f"a windows-1251 name becomes UTF-8 ({sorted(files)[:3]}...)")
c.check(code == 1 and "kept" in out, "JARs that keep their names make the status 1")

# The JADs the workers wrote ahead are the JADs of the manifests python
# reads, the stale one replaced, and the shared name holds the later JAR's.
code, out, err, files, root = batch("4", "jad")
with open(os.path.join(root, "a", "g03.jad"), encoding="utf-8", newline="") as f:
    c.check("MIDlet-Name: Game 1\r\n" in f.read(), "a stale JAD is replaced")
with open(os.path.join(root, "a", "g05.jad"), encoding="utf-8", newline="") as f:
    text = f.read()  # g05.JAR comes before g05.jar
c.check("MIDlet-Jar-URL: g05.jar\r\n" in text and "Upper" not in text, "two JARs, one JAD name: the later JAR's JAD")
c.check(out.count("a/g05.jad") == 2, "both JARs report the JAD")
c.check(not any(".parcelix-tmp-" in rel for rel in files), "no temporary file is left")

c.finish()
