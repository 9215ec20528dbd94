#!/usr/bin/env python3
"""Ctrl+C in the middle of a batch: rename, jad and fix stop between two
JARs with status 130 and say so; no temporary file is left, and every JAR
is either done (renamed, its JAD complete, fixed and readable by python's
zipfile) or untouched byte for byte."""
import hashlib
import os
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import PARCELIX, Checker, midlet_manifest, require_program, scratch  # noqa: E402

require_program()
c = Checker()
work, ENV = scratch("parcelix-interrupt-")


def collection(folder, count):
    """count JARs with the manifest last (so that fix rewrites each one)."""
    os.makedirs(folder)
    for i in range(count):
        with zipfile.ZipFile(os.path.join(folder, "g%04d.jar" % i), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(zipfile.ZipInfo("Main.class", (2009, 6, 1, 12, 0, 0)), b"\xca\xfe\xba\xbe%d" % i)
            z.writestr(zipfile.ZipInfo("META-INF/MANIFEST.MF", (2009, 6, 1, 12, 0, 0)),
                       midlet_manifest("Game %d" % i, "1.0"))


def digests(folder):
    out = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            out[name] = hashlib.sha256(f.read()).hexdigest()
    return out


def interrupt(args, folder, started):
    """Runs the batch, sends SIGINT once started(folder) sees its first
    change, and returns the exit status, stderr and whether the signal came
    before the end."""
    p = subprocess.Popen([PARCELIX] + args + [folder], env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline = time.time() + 60
    while p.poll() is None and not started(folder) and time.time() < deadline:
        time.sleep(0.002)
    in_time = p.poll() is None
    if in_time:
        p.send_signal(signal.SIGINT)
    err = p.communicate()[1].decode("utf-8", "replace")
    return p.returncode, err, in_time


def no_leftovers(folder, what):
    odd = [n for n in os.listdir(folder) if n.startswith(".") or "parcelix-tmp" in n or n.endswith(".tmp")]
    c.eq(odd, [], f"{what}: temporary files left")


def stopped(rc, err, in_time, what):
    if not in_time:
        print(f"note: {what} ended before the signal could be sent")
        return
    c.eq(rc, 130, f"{what}: exit status")
    c.check("interrupted after" in err, f"{what}: says it was interrupted ({err.strip()[-200:]})")


# rename: each JAR keeps its bytes, under its old name or its new one.
folder = os.path.join(work, "rename")
collection(folder, 1500)
before = digests(folder)
rc, err, in_time = interrupt(["rename", "-r", "-j", "2"], folder,
                             lambda f: any(not n.startswith("g") for n in os.listdir(f)))
after = digests(folder)
no_leftovers(folder, "rename")
stopped(rc, err, in_time, "rename")
c.eq(sorted(after.values()), sorted(before.values()), "rename: every JAR's bytes kept, once")
renamed = [n for n in after if not n.startswith("g")]
c.check(0 < len(renamed) < 1500 or not in_time, f"rename: stopped in the middle ({len(renamed)} renamed)")

# jad: every JAD written is whole and gives its JAR's size.
folder = os.path.join(work, "jad")
collection(folder, 1500)
rc, err, in_time = interrupt(["jad", "-r"], folder, lambda f: any(n.endswith(".jad") for n in os.listdir(f)))
no_leftovers(folder, "jad")
stopped(rc, err, in_time, "jad")
jads = [n for n in os.listdir(folder) if n.endswith(".jad")]
c.check(0 < len(jads) < 1500 or not in_time, f"jad: stopped in the middle ({len(jads)} JADs)")
for n in jads:
    with open(os.path.join(folder, n), encoding="utf-8") as f:
        text = f.read()
    size = os.path.getsize(os.path.join(folder, n[:-4] + ".jar"))
    if not c.check(f"MIDlet-Jar-Size: {size}" in text, f"jad: {n} whole"):
        break

# fix: each JAR untouched or fixed (manifest first, every member readable).
folder = os.path.join(work, "fix")
collection(folder, 400)
before = digests(folder)
first = {n: os.stat(os.path.join(folder, n)).st_ino for n in before}
rc, err, in_time = interrupt(["fix", "-r", "--no-backup", "-j", "2"], folder,
                             lambda f: any(os.stat(os.path.join(f, n)).st_ino != i for n, i in list(first.items())[:50]))
no_leftovers(folder, "fix")
stopped(rc, err, in_time, "fix")
after = digests(folder)
c.eq(sorted(after), sorted(before), "fix: the same JARs")
fixed = [n for n in after if after[n] != before[n]]
c.check(0 < len(fixed) < 400 or not in_time, f"fix: stopped in the middle ({len(fixed)} fixed)")
for n in fixed:
    with zipfile.ZipFile(os.path.join(folder, n)) as z:
        ok = z.testzip() is None and z.namelist()[0] == "META-INF/MANIFEST.MF"
    if not c.check(ok, f"fix: {n} fixed and readable"):
        break

# A program started with Ctrl+C ignored (as a background job is) goes on
# ignoring it.
folder = os.path.join(work, "ignored")
collection(folder, 1500)
p = subprocess.Popen([PARCELIX, "check", "-r", "-j", "1", folder], env=ENV, stdout=subprocess.PIPE,
                     stderr=subprocess.PIPE, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
p.stdout.read(1)  # the first report lines are out: the batch is under way
sent = p.poll() is None
if sent:
    p.send_signal(signal.SIGINT)
out, err = p.communicate()
c.check(p.returncode in (0, 1) and b"interrupted" not in err and (not sent or out.count(b"\n") >= 1499),
        f"an ignored Ctrl+C stays ignored (status {p.returncode})")

c.finish()
