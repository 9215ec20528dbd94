#!/usr/bin/env python3
"""What a save asks of the disk, seen by strace: `parcelix set` on a JAR of
some MB flushes the new JAR (fdatasync) before it renames it over the old one
and flushes the folder after the rename; the new JAR is whole (python's
zipfile, unzip -t). `parcelix jad -r` flushes its new JADs once for the batch,
not one by one. Skipped when strace is missing."""
import os
import re
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import PARCELIX, Checker, have, midlet_manifest, require_program, scratch, strace_parcelix  # noqa: E402

require_program()
if not have("strace"):
    print("strace is missing: skipped", file=sys.stderr)
    sys.exit(77)

c = Checker()
work, ENV = scratch("parcelix-durable-")
SYSCALLS = "fdatasync,fsync,syncfs,rename,renameat,renameat2,link,linkat,openat"

# 12345 openat(AT_FDCWD, "/x/", O_RDWR|O_CLOEXEC|O_TMPFILE, 0666) = 5
LINE = re.compile(r'^(?:\[pid\s+)?(\d+)\]?\s+(\w+)\((.*)\)\s+=\s+(-?\d+)')


def make_jar(path, megabytes):
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("META-INF/MANIFEST.MF", midlet_manifest())
        for i in range(megabytes):
            z.writestr("res/data%02d.bin" % i, os.urandom(1 << 20), zipfile.ZIP_STORED)
        z.writestr("Game.class", b"\xca\xfe\xba\xbe" + bytes(4000), zipfile.ZIP_DEFLATED)


def traced(args):
    log = os.path.join(work, "strace.log")
    p = strace_parcelix(log, SYSCALLS, args, ENV)
    calls = []
    with open(log) as f:
        for line in f:
            m = LINE.match(line.strip())
            if m:
                calls.append((m.group(2), m.group(3), int(m.group(4))))
    return p.returncode, calls


def strings(args):
    return re.findall(r'"((?:[^"\\]|\\.)*)"', args)


def fd_of_new_name(calls, upto, name):
    """The descriptor of the file that got name (the source of the rename)."""
    for i in range(upto - 1, -1, -1):
        call, args, ret = calls[i]
        if call == "linkat" and ret == 0 and strings(args)[-1:] == [name]:
            m = re.match(r'(\d+), ""', args) or re.search(r'"/proc/self/fd/(\d+)"', args)
            return int(m.group(1)) if m else None
        if call == "openat" and ret >= 0 and name in strings(args) and "O_CREAT" in args:
            return ret
    return None


def check_save(jar):
    rc, calls = traced(["set", "--no-backup", "--no-rename", "--no-jad", jar, "MIDlet-Vendor=Durable"])
    c.eq(rc, 0, "set exits 0")
    folder = os.path.dirname(jar)
    over = [i for i, (call, args, ret) in enumerate(calls)
            if call.startswith("rename") and ret == 0 and strings(args)[-1:] == [jar]]
    if not c.eq(len(over), 1, "one rename puts the new JAR in place"):
        return
    i = over[0]
    fd = fd_of_new_name(calls, i, strings(calls[i][1])[0])
    if not c.check(fd is not None, "the new JAR's descriptor is found"):
        return
    flushed = [k for k in range(i) if calls[k][0] in ("fdatasync", "fsync") and calls[k][1] == str(fd)
               and calls[k][2] == 0]
    c.check(bool(flushed), "the new JAR's data is flushed before the rename")
    folder_fds = {ret for call, args, ret in calls[i + 1:]
                  if call == "openat" and ret >= 0 and "O_DIRECTORY" in args
                  and strings(args) and strings(args)[0].rstrip("/") == folder}
    c.check(any(call == "fsync" and int(args) in folder_fds and ret == 0 for call, args, ret in calls[i + 1:]
                if args.isdigit()), "the folder is flushed after the rename")
    with zipfile.ZipFile(jar) as z:
        c.eq(z.testzip(), None, "python reads every member of the saved JAR")
        c.check(b"MIDlet-Vendor: Durable" in z.read("META-INF/MANIFEST.MF"), "the new value is saved")
    if have("unzip"):
        c.eq(subprocess.run(["unzip", "-tqq", jar]).returncode, 0, "unzip -t passes the saved JAR")
    c.eq(sorted(os.listdir(folder)), [os.path.basename(jar)], "nothing is left beside the JAR")


def check_jad_batch(folder):
    for i in range(4):
        make_jar(os.path.join(folder, "g%d.jar" % i), 0)
    rc, calls = traced(["jad", "-r", folder])
    c.eq(rc, 0, "jad -r exits 0")
    c.eq(len([1 for call, _, _ in calls if call in ("fsync", "fdatasync")]), 0, "new JADs are not flushed one by one")
    c.eq(len([1 for call, _, ret in calls if call == "syncfs" and ret == 0]), 1, "the batch is flushed once")
    c.eq(len([n for n in os.listdir(folder) if n.endswith(".jad")]), 4, "four JADs")


try:
    save_dir = os.path.join(work, "save")
    os.makedirs(save_dir)
    jar = os.path.join(save_dir, "Game.jar")
    make_jar(jar, 8)
    check_save(jar)
    jad_dir = os.path.join(work, "jads")
    os.makedirs(jad_dir)
    check_jad_batch(jad_dir)
finally:
    shutil.rmtree(work, ignore_errors=True)
c.finish()
