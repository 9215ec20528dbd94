#!/usr/bin/env python3
"""Scenario tests of /rename, /jadgen and the batch rename and jad commands on
JARs made by the JDK's jar, Info-ZIP zip, 7-Zip (Deflate64) and python's
zipfile, and on damaged JARs."""
import os
import shutil
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import (MAKERS, Checker, files_in, flip_byte, make_jar, make_tree, member_data_span, read_member,  # noqa: E402,E501
                  midlet_manifest, require_program, run, write_ini)

require_program()
c = Checker()
work = tempfile.mkdtemp(prefix="parcelix-midlet-cli-")
ini = os.path.join(work, "settings.ini")
ENV = {"PARCELIX_INI": ini}


def jar_from(maker, manifest, name, folder=None, with_manifest=True):
    folder = folder or os.path.join(work, "jars")
    os.makedirs(folder, exist_ok=True)
    tree = tempfile.mkdtemp(dir=work, prefix="tree-")
    make_tree(tree, manifest, with_manifest)
    path = os.path.join(folder, name)
    if not make_jar(maker, path, tree):
        return None
    shutil.rmtree(tree)
    return path


def word_key(line):
    """The word sort, written independently: hyphens and apostrophes have no
    weight, then punctuation < digits < letters (no case) < high bytes."""
    key = []
    for ch in line.encode("utf-8"):
        if ch in b"-'":
            continue
        if ch < 0x20 or ch == 0x7F:
            key.append((0, ch))
        elif chr(ch).isdigit():
            key.append((2, ch))
        elif chr(ch).isalpha() and ch < 0x80:
            key.append((3, ord(chr(ch).lower())))
        elif ch < 0x80:
            key.append((1, ch))
        else:
            key.append((4, ch))
    return key


def main_lines(manifest_bytes):
    """Main-section lines with continuations joined, as Java reads them."""
    text = manifest_bytes.decode("utf-8").replace("\r\n", "\n").replace("\r", "\n")
    lines = []
    for raw in text.split("\n"):
        if raw.startswith(" ") and lines and lines[-1]:
            lines[-1] += raw[1:]
        else:
            lines.append(raw)
    main = []
    for i, line in enumerate(lines):
        if line == "" and i + 1 < len(lines) and lines[i + 1].lower().startswith("name:"):
            break
        main.append(line)
    return [l for l in main if l]


# ---------------------------------------------------------------- /rename per maker
write_ini(ini, add_version=True)
for maker in MAKERS:
    d = os.path.join(work, "rename-" + maker)
    jar = jar_from(maker, midlet_manifest("Foo Bar", "1.0.2"), "y.JAR", d)
    if jar is None:
        print("skipping", maker, "(tool missing)")
        continue
    code, out, err = run(["/rename", jar], ENV)
    c.eq((code, out, err), (0, "", ""), f"/rename {maker}: silent success")
    c.eq(files_in(d), ["Foo Bar 1.0.2.jar"], f"/rename {maker}: new name")

    # /RENAME is the same command; the JAR that already has its name keeps it.
    code, out, err = run(["/RENAME", os.path.join(d, "Foo Bar 1.0.2.jar")], ENV)
    c.eq(code, 0, f"/RENAME {maker} on an already named JAR")
    c.eq(files_in(d), ["Foo Bar 1.0.2.jar"], f"/RENAME {maker}: name kept")

    # JAD: exactly the manifest's main lines plus size and URL, sorted, CR LF.
    jar = os.path.join(d, "Foo Bar 1.0.2.jar")
    code, out, err = run(["/jadgen", jar], ENV)
    c.eq((code, err), (0, ""), f"/jadgen {maker}")
    mf = read_member(jar, "META-INF/MANIFEST.MF")
    want = main_lines(mf) + ["MIDlet-Jar-Size: %d" % os.path.getsize(jar), "MIDlet-Jar-URL: Foo Bar 1.0.2.jar"]
    want.sort(key=word_key)
    with open(os.path.join(d, "Foo Bar 1.0.2.jad"), "rb") as f:
        jad = f.read()
    c.eq(jad.decode("utf-8"), "".join(l + "\r\n" for l in want), f"/jadgen {maker}: JAD text")

# ---------------------------------------------------------------- manifest forms
forms = [
    # (what, manifest bytes, AddVersion, expected name)
    ("LF line ends", midlet_manifest("Foo Bar", "1.0.2", eol="\n"), True, "Foo Bar 1.0.2.jar"),
    ("version off", midlet_manifest("Foo Bar", "1.0.2"), False, "Foo Bar.jar"),
    ("no version", midlet_manifest("Foo Bar", None), True, "Foo Bar.jar"),
    ("unsafe characters", midlet_manifest("A/B: C?", "1.0"), False, "A_B_ C_.jar"),
    ("version cannot climb out", midlet_manifest("N", "1/../../x"), True, "N 1_.._.._x.jar"),
    ("byte-order mark", b"\xef\xbb\xbf" + midlet_manifest("Bom", "2"), True, "Bom 2.jar"),
    ("non-ASCII name", midlet_manifest("Caf\u00e9 \u00dcber", "1"), True, "Caf\u00e9 \u00dcber 1.jar"),
    ("window of 50 bytes", midlet_manifest("N" * 80, None), True, "N" * 49 + ".jar"),
]
for what, mf, add_version, want in forms:
    write_ini(ini, add_version=add_version)
    d = os.path.join(work, "form-" + what.replace(" ", "-"))
    jar = jar_from("python", mf, "game.jar", d)
    code, out, err = run(["/rename", jar], ENV)
    c.eq(code, 0, f"/rename {what}: status ({err.strip()})")
    c.eq(files_in(d), [want], f"/rename {what}")

# The JDK's jar folds long lines at 72 bytes: the JAD holds the joined line.
write_ini(ini)
d = os.path.join(work, "folded")
long_value = "x" * 150
jar = jar_from("jdk", midlet_manifest("Folded", "1", extra=["MIDlet-Info-URL: http://example.org/" + long_value]),
               "f.jar", d)
if jar:
    run(["/jadgen", jar], ENV)
    with open(os.path.join(d, "f.jad"), "rb") as f:
        lines = f.read().decode().split("\r\n")
    c.check(any(l == "MIDlet-Info-URL: http://example.org/" + long_value for l in lines),
            "folded line joined in the JAD")
    c.check(not any(l.startswith(" ") for l in lines), "no JAD line begins with a space")

# Per-entry sections (a signed JAR) stay out of the JAD.
sections = "Name: GameMidlet.class\r\nSHA-256-Digest: abc=\r\n\r\nName: i.png\r\nSHA-256-Digest: def=\r\n\r\n"
jar = jar_from("infozip", midlet_manifest("Signed", "1") + sections.encode(), "s.jar", os.path.join(work, "signed"))
code, out, err = run(["/jadgen", jar], ENV)
with open(os.path.join(work, "signed", "s.jad"), "rb") as f:
    jad = f.read().decode()
c.eq(code, 0, "/jadgen signed JAR")
c.check(not any(l.startswith("Name:") or "Digest" in l for l in jad.split("\r\n")),
        "JAD of a signed JAR has no per-entry lines")

# ---------------------------------------------------------------- checks and messages
write_ini(ini)
d = os.path.join(work, "checks")
os.makedirs(d)
zip_path = os.path.join(d, "b.zip")
shutil.copy(jar_from("python", midlet_manifest(), "b.jar", d), zip_path)
os.mkdir(os.path.join(d, "dir.jar"))
cases = [
    (["/rename"], 1, "Error! File '' not exists!\n"),
    (["/rename", os.path.join(d, "missing.jar")], 1, f"Error! File '{d}/missing.jar' not exists!\n"),
    (["/jadgen", os.path.join(d, "dir.jar")], 1, f"Error! File '{d}/dir.jar' not exists!\n"),
    (["/jadgen", zip_path], 1, f"Error! File '{zip_path}' is not a JAR-file!\n"),
    (["/foo", zip_path], 2, "Warning! Usage:\r\n Parcelix /rename FileName\r\nor\r\n Parcelix /jadgen FileName\n"),
]
for args, want_code, want_err in cases:
    code, out, err = run(args, ENV)
    c.eq((code, out, err), (want_code, "", want_err), "message for " + " ".join(args))
c.eq(files_in(d), ["b.jar", "b.zip", "dir.jar"], "the checks change nothing")

# An upper-case extension is accepted; the JAD replaces an older one.
upper = os.path.join(d, "Up.JAR")
os.rename(os.path.join(d, "b.jar"), upper)
with open(os.path.join(d, "Up.jad"), "w") as f:
    f.write("old")
code, out, err = run(["/jadgen", upper], ENV)
c.eq(code, 0, "/jadgen X.JAR")
with open(os.path.join(d, "Up.jad"), "rb") as f:
    c.check(f.read().startswith(b"Manifest-Version: 1.0\r\n"), "old JAD replaced")

# Target exists: both files stay, exit 1, no message box text.
d = os.path.join(work, "exists")
a = jar_from("python", midlet_manifest("Same", "1"), "a.jar", d)
b = jar_from("python", midlet_manifest("Same", "1"), "Same 1.jar", d)
with open(b, "rb") as f:
    before = f.read()
code, out, err = run(["/rename", a], ENV)
c.eq(code, 1, "/rename onto an existing name fails")
c.eq(files_in(d), ["Same 1.jar", "a.jar"], "existing file not replaced")
with open(b, "rb") as f:
    c.check(f.read() == before, "existing file unchanged")

# No MIDlet-Name, or an empty one: the name stays and the user is told.
for what, mf in [("no name", midlet_manifest(None, "1")), ("empty name", midlet_manifest("", "1"))]:
    d = os.path.join(work, what.replace(" ", "-"))
    jar = jar_from("python", mf, "keep.jar", d)
    code, out, err = run(["/rename", jar], ENV)
    c.eq(code, 1, f"/rename {what}: status")
    c.check(err.startswith("Warning! ") and "MIDlet-Name" in err, f"/rename {what}: told ({err.strip()})")
    c.eq(files_in(d), ["keep.jar"], f"/rename {what}: kept")

# ---------------------------------------------------------------- damaged JARs
d = os.path.join(work, "damaged")
os.makedirs(d)
good = jar_from("python-stored", midlet_manifest("Broken", "1"), "good.jar", d)
off, length = member_data_span(good, "META-INF/MANIFEST.MF")
damaged = {}
p = os.path.join(d, "crc.jar")          # manifest bytes changed: fails its CRC check
shutil.copy(good, p)
flip_byte(p, off + length // 2)
damaged["crc"] = p
p = os.path.join(d, "short.jar")        # cut inside the manifest's data
with open(good, "rb") as f:
    data = f.read()
with open(p, "wb") as f:
    f.write(data[:off + length // 2])
damaged["truncated"] = p
p = os.path.join(d, "text.jar")         # not an archive at all
with open(p, "wb") as f:
    f.write(b"this is not a zip file\n" * 10)
damaged["not a zip"] = p
damaged["no manifest"] = jar_from("python", b"", "nomf.jar", d, with_manifest=False)
os.remove(good)
for what, path in damaged.items():
    for cmd in ("/rename", "/jadgen"):
        code, out, err = run([cmd, path], ENV)
        c.eq(code, 1, f"{cmd} {what}: fails")
        c.check(err.startswith("Error! "), f"{cmd} {what}: error message ({err.strip()})")
c.eq(files_in(d), ["crc.jar", "nomf.jar", "short.jar", "text.jar"], "damaged JARs keep their names, no JAD")
code, out, err = run(["/jadgen", damaged["no manifest"]], ENV)
c.eq(err, "Error! List index out of bounds (0)\n", "JAR without a manifest")

# ---------------------------------------------------------------- batch rename and jad
write_ini(ini, add_version=False)
d = os.path.join(work, "batch")
jar_from("infozip", midlet_manifest("Alpha", "1"), "a.jar", d)
jar_from("7z-deflate64", midlet_manifest("Beta", "2"), "b.jar", d) or jar_from(
    "python", midlet_manifest("Beta", "2"), "b.jar", d)
jar_from("python", midlet_manifest("Alpha", "9"), "c.jar", d)          # same name as a.jar's
jar_from("python", midlet_manifest("Gamma", "3"), "Gamma.jar", d)      # already named
shutil.copy(damaged["crc"], os.path.join(d, "d.jar"))
jar_from("python", midlet_manifest("Deep", "4"), "e.jar", os.path.join(d, "sub"))
with open(os.path.join(d, "notes.txt"), "w") as f:
    f.write("not a jar")

code, out, err = run(["rename", "-n", d], ENV)
c.eq(code, 1, "rename -n: a JAR would keep its name")
lines = out.splitlines()
c.eq(lines[:4], [
    f"{d}/Gamma.jar: kept (already named)",
    f"{d}/a.jar -> {d}/Alpha.jar",
    f"{d}/b.jar -> {d}/Beta.jar",
    f"{d}/c.jar: kept ('Alpha.jar' exists)",
], "rename -n output")
c.check(len(lines) == 6 and lines[4].startswith(f"{d}/d.jar: kept (damaged: "), "damaged JAR reported: " + out)
c.eq(lines[-1], "5 JARs: 2 to rename, 1 already named, 2 kept (dry run)", "rename -n summary")
c.eq(files_in(d), ["Gamma.jar", "a.jar", "b.jar", "c.jar", "d.jar", "notes.txt", "sub"], "dry run moves nothing")

code, out, err = run(["rename", "-r", "--version", d], ENV)
c.eq(code, 1, "rename -r: damaged and clashing JARs make the status 1")
c.eq(sorted(files_in(d)), ["Alpha 1.jar", "Alpha 9.jar", "Beta 2.jar", "Gamma 3.jar", "d.jar", "notes.txt", "sub"],
     "rename -r --version")
c.eq(files_in(os.path.join(d, "sub")), ["Deep 4.jar"], "rename -r goes into subdirectories")
c.check(out.splitlines()[-1] == "6 JARs: 5 renamed, 0 already named, 1 kept", "summary: " + out.splitlines()[-1])

code, out, err = run(["rename", "--version", os.path.join(d, "Beta 2.jar"), os.path.join(d, "notes.txt"),
                      os.path.join(d, "none.jar")], ENV)
c.eq(out.splitlines()[:2], [f"{d}/notes.txt: kept (not a JAR file)", f"{d}/none.jar: kept (not found)"],
     "named paths that are not JARs")
c.eq(code, 1, "status with bad paths")

code, out, err = run(["jad", d], ENV)
c.eq(code, 1, "jad: the damaged JAR fails")
c.check(os.path.exists(os.path.join(d, "Beta 2.jad")) and not os.path.exists(os.path.join(d, "d.jad")),
        "jad writes JADs for the good JARs only")
c.check(not os.path.exists(os.path.join(d, "sub", "Deep 4.jad")), "jad without -r stays in the directory")
code, out, err = run(["jad", "-rn", os.path.join(d, "sub")], ENV)
c.eq((code, out.splitlines()[-1]), (0, "1 JAR: 1 JADs to write, 0 failed (dry run)"), "jad -rn")
c.check(not os.path.exists(os.path.join(d, "sub", "Deep 4.jad")), "jad -n writes nothing")

for args in (["rename"], ["rename", "-x", d], ["jad", "--version", d]):
    code, out, err = run(args, ENV)
    c.eq(code, 2, "usage error: " + " ".join(args))

# ---------------------------------------------------------------- one manifest read
import io  # noqa: E402

d = os.path.join(work, "shared")
os.makedirs(d)
MF = midlet_manifest("Shared", "3.0")


def stored_zip(members):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        for name, data in members:
            z.writestr(name, data)
    return bytearray(buf.getvalue())


def write(name, data):
    path = os.path.join(d, name)
    with open(path, "wb") as f:
        f.write(bytes(data))
    return path


# The manifest command takes META-INF/MANIFEST.MF even when lib/MANIFEST.MF comes first.
path = write("libfirst.jar", stored_zip([("lib/MANIFEST.MF", b"Lib: yes\r\n"), ("META-INF/MANIFEST.MF", MF)]))
code, out, err = run(["manifest", path], ENV)
c.eq((code, out.encode()), (0, MF), "manifest prints META-INF/MANIFEST.MF")

# A manifest that fails its CRC check is not printed, and the command fails.
data = stored_zip([("META-INF/MANIFEST.MF", MF)])
data[30 + len("META-INF/MANIFEST.MF") + 3] ^= 0x20
path = write("badcrc.jar", data)
code, out, err = run(["manifest", path], ENV)
c.eq((code, out), (1, ""), "manifest with a bad CRC fails and prints nothing")
c.check("CRC" in err and "META-INF/MANIFEST.MF" in err, f"manifest says the CRC fails ({err.strip()})")

if not c.failures:
    shutil.rmtree(work)
c.finish()
