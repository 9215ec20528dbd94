#!/usr/bin/env python3
"""Every command that writes a JAR again (set, unset, edit, create over an
existing archive) never writes one that fewer of python's zipfile, unzip and
7-Zip accept than the original: on archives built for each kind of damage it
either saves something at least as many of them accept, or refuses with
exit 1, says why, and leaves the JAR byte for byte as it was and nothing
beside it. Also: how often `set` opens the JAR (strace)."""
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import PARCELIX, Checker, have, midlet_manifest, require_program, run, write_ini, strace_parcelix  # noqa: E402
from jars import central_entries as central  # noqa: E402

require_program()
c = Checker()
work = tempfile.mkdtemp(prefix="parcelix-save-readers-")
ini = os.path.join(work, "settings.ini")
write_ini(ini, rename=False, jad=False, backup=False)
EDITOR = os.path.join(work, "editor.sh")
with open(EDITOR, "w") as f:
    f.write('#!/bin/sh\necho "X-Edited=yes" >> "$1"\n')
os.chmod(EDITOR, 0o755)
ENV = {"PARCELIX_INI": ini, "EDITOR": EDITOR, "VISUAL": ""}
MF = midlet_manifest("Readers", "1.0")


def zip_of(members, method=zipfile.ZIP_STORED, comment=b""):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for name, data in members:
            z.writestr(name, data)
        z.comment = comment
    return bytearray(buf.getvalue())


def without_local_name(data, index):
    """The local name of entry index cut out (length 0), later offsets moved."""
    entries = central(data)
    local = entries[index][1]
    n = struct.unpack_from("<H", data, local + 26)[0]
    out = data[:local + 26] + struct.pack("<H", 0) + data[local + 28:local + 30] + data[local + 30 + n:]
    for cpos, lpos in entries[index + 1:]:
        struct.pack_into("<I", out, cpos - n + 42, lpos - n)
    end = out.rfind(b"PK\x05\x06")
    struct.pack_into("<I", out, end + 16, struct.unpack_from("<I", out, end + 16)[0] - n)
    return out


def appended(outer, inner):
    """inner put behind outer, inside outer's archive comment."""
    out = bytearray(outer)
    struct.pack_into("<H", out, out.rfind(b"PK\x05\x06") + 20, len(inner))
    return out + inner


def readers(path):
    """Which of python, unzip and 7z read every member of path."""
    ok = set()
    try:
        with zipfile.ZipFile(path) as z:
            if z.testzip() is None:
                ok.add("python")
    except Exception:  # noqa: BLE001
        pass
    if have("unzip") and subprocess.run(["unzip", "-tqq", path], capture_output=True).returncode == 0:
        ok.add("unzip")
    if have("7z") and subprocess.run(["7z", "t", path], capture_output=True).returncode == 0:
        ok.add("7z")
    return ok


def unzip_warnings(path):
    if not have("unzip"):
        return set()
    p = subprocess.run(["unzip", "-t", path], capture_output=True)
    text = (p.stdout + p.stderr).decode("utf-8", "replace").replace(path, "JAR")
    return {line.strip() for line in text.splitlines() if "testing:" not in line and "No errors" not in line
            and not line.startswith("Archive:")}


def folder_of(label):
    d = os.path.join(work, label)
    os.makedirs(d)
    return d


base = zip_of([("META-INF/MANIFEST.MF", MF), ("a.bin", b"A" * 300), ("b.txt", b"text line\n" * 90)])
(_, _), (ca, la), (cb, lb) = central(base)

# (label, bytes, what must happen: "refuse" or "save")
cases = []
x = bytearray(base)
struct.pack_into("<I", x, ca + 20, 100)  # central compressed size smaller than the data
cases.append(("short-size", x, "refuse"))
x = bytearray(base)
struct.pack_into("<I", x, ca + 20, 310)  # ... and larger
cases.append(("long-size", x, "refuse"))
x = bytearray(base)
struct.pack_into("<H", x, la + 8, 8)  # local method 8, central 0
cases.append(("method", x, "refuse"))
x = bytearray(base)
struct.pack_into("<I", x, cb + 42, la)  # b's local header is a's
cases.append(("other-local", x, "refuse"))
x = bytearray(base)
struct.pack_into("<H", x, x.rfind(b"PK\x05\x06") + 10, 4)  # the end record counts 4 entries
cases.append(("entry-count", x, "refuse"))
cases.append(("no-local-name", without_local_name(base, 1), "save"))
inner = zip_of([("META-INF/MANIFEST.MF", MF), ("inner.txt", b"inner " * 50)], zipfile.ZIP_DEFLATED)
outer = zip_of([("META-INF/MANIFEST.MF", midlet_manifest("Outer", "9.9")), ("outer.txt", b"outer")])
cases.append(("appended", appended(outer, inner), "refuse"))
outer = zip_of([("outer.txt", b"outer"), ("META-INF/MANIFEST.MF", midlet_manifest("Outer", "9.9"))])
cases.append(("appended-other-first", appended(outer, inner), "refuse"))
class Unseekable(io.BytesIO):
    """Makes python's zipfile write as to a pipe: data descriptors follow the data."""

    def tell(self):
        raise OSError("not seekable")

    def seek(self, *args):
        raise OSError("not seekable")


buf = Unseekable()
with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("META-INF/MANIFEST.MF", MF)
    z.comment = b"kept comment"
    with z.open("streamed.txt", "w", force_zip64=False) as f:  # with a data descriptor
        f.write(b"line\n" * 500)
cases.append(("plain", buf.getvalue(), "save"))
cases.append(("stub", b"#!/bin/sh\nexit 0\n" + buf.getvalue(), "save"))

COMMANDS = {
    "set": lambda p: ["set", "--no-backup", "--no-rename", "--no-jad", p, "X-Key=1"],
    "unset": lambda p: ["unset", "--no-backup", "--no-rename", "--no-jad", p, "MIDlet-Version"],
    "edit": lambda p: ["edit", "--no-backup", "--no-rename", "--no-jad", p],
}

for label, data, expect in cases:
    for command, args in COMMANDS.items():
        what = f"{command} on {label}"
        d = folder_of(f"{label}-{command}")
        path = os.path.join(d, "game.jar")
        with open(path, "wb") as f:
            f.write(bytes(data))
        before, warned = readers(path), unzip_warnings(path)
        code, out, err = run(args(path), ENV)
        with open(path, "rb") as f:
            now = f.read()
        c.eq(os.listdir(d), ["game.jar"], f"{what}: nothing beside the JAR")
        if code != 0:
            c.check(expect != "save", f"{what} saves ({err.strip()})")
            c.eq(code, 1, f"{what}: a refusal exits 1")
            c.check("cannot" in err or "fails" in err, f"{what} says why ({err.strip()})")
            c.check(now == bytes(data), f"{what}: refused, the JAR is byte for byte as it was")
            continue
        c.check(expect != "refuse", f"{what} is refused")
        after = readers(path)
        c.check(after >= before, f"{what}: readers before {sorted(before)}, after {sorted(after)}")
        new_warnings = unzip_warnings(path) - warned
        c.eq(new_warnings, set(), f"{what}: no unzip warning the original did not draw")
        with zipfile.ZipFile(path) as z:
            saved = {"set": b"X-Key: 1\r\n", "edit": b"X-Edited: yes\r\n"}.get(command)
            if saved:
                c.check(saved in z.read("META-INF/MANIFEST.MF"), f"{what}: the value is saved")
            if label == "no-local-name":
                c.eq(z.read("a.bin"), b"A" * 300, f"{what}: the member without its local name reads whole")
            if label in ("plain", "stub"):
                c.eq(z.comment, b"kept comment", f"{what}: the archive comment is kept")
                c.eq(z.read("streamed.txt"), b"line\n" * 500, f"{what}: the streamed member is unchanged")

# The member without its local name: the saved copy even satisfies python and unzip.
d = folder_of("noname-fixed")
path = os.path.join(d, "game.jar")
with open(path, "wb") as f:
    f.write(bytes(without_local_name(base, 1)))
run(COMMANDS["set"](path), ENV)
c.check({"python", "unzip"} <= readers(path), f"the saved copy reads everywhere: {sorted(readers(path))}")

# create over an existing damaged archive replaces it (it never copies from
# it): the new archive reads everywhere.
d = folder_of("create")
path = os.path.join(d, "game.jar")
with open(path, "wb") as f:
    f.write(bytes(cases[0][1]))
tree = os.path.join(work, "tree")
os.makedirs(os.path.join(tree, "META-INF"))
with open(os.path.join(tree, "META-INF", "MANIFEST.MF"), "wb") as f:
    f.write(MF)
code, out, err = run(["create", path, tree], ENV)
c.eq(code, 0, f"create over a damaged archive ({err.strip()})")
c.eq(readers(path), {"python", "unzip", "7z"} & ({"python"} | {t for t in ("unzip", "7z") if have(t)}),
     "create's archive reads everywhere")
c.eq(os.listdir(d), ["game.jar"], "create: nothing beside the archive")

# How often set opens the JAR: twice (the archive for the plan, the manifest
# read), also with rename and JAD on, which read the manifest just written;
# no temporary directory.
if have("strace"):
    OPEN = re.compile(r'openat\(AT_FDCWD, "([^"]*)", ([^)]*)\) = (-?\d+)')
    for rename, limit in ((False, 2), (True, 2)):
        write_ini(ini, rename=rename, jad=rename, backup=True)
        d = folder_of(f"opens-{rename}")
        path = os.path.join(d, "Opens.jar")
        with open(path, "wb") as f:
            f.write(bytes(base))
        log = os.path.join(work, f"strace-{rename}.log")
        args = ["set"] + ([] if rename else ["--no-rename", "--no-jad"]) + [path, "X=1"]
        p = strace_parcelix(log, "openat,mkdir,mkdirat", args, dict(os.environ, **ENV))
        c.eq(p.returncode, 0, f"traced set (rename {rename}): {p.stderr.decode().strip()}")
        with open(log) as f:
            text = f.read()
        opened = [m.group(1) for m in OPEN.finditer(text)
                  if int(m.group(3)) >= 0 and m.group(1).endswith(".jar") and "O_CREAT" not in m.group(2)]
        c.check(len(opened) <= limit, f"set (rename and JAD {rename}) opens the JAR {len(opened)} times: {opened}")
        c.check("mkdir" not in text, "set makes no temporary directory")
    write_ini(ini, rename=False, jad=False, backup=False)

if not c.failures:
    shutil.rmtree(work)
c.finish()
