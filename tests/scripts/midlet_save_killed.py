#!/usr/bin/env python3
"""A save killed with SIGKILL at any moment: `parcelix set` on a JAR of
some tens of MB is killed at moments spread over the time a whole save
takes. Every time the JAR is either the old one, byte for byte, or the new
one, whole (python's zipfile and unzip -t read every member, the new value is
in the manifest), and nothing is left beside it."""
import os
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import PARCELIX, Checker, have, midlet_manifest, require_program, scratch  # noqa: E402

require_program()
c = Checker()
work, ENV = scratch("parcelix-killed-")
ARGS = ["set", "--no-backup", "--no-rename", "--no-jad"]
VALUE = b"MIDlet-Vendor: Killed"


def make_original(path):
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("META-INF/MANIFEST.MF", midlet_manifest())
        for i in range(24):
            z.writestr("res/data%02d.bin" % i, os.urandom(1 << 20), zipfile.ZIP_STORED)
        z.writestr("res/text.txt", b"level row ....##....\n" * 20000, zipfile.ZIP_DEFLATED)


def whole_and_new(jar):
    try:
        with zipfile.ZipFile(jar) as z:
            if z.testzip() is not None or VALUE not in z.read("META-INF/MANIFEST.MF"):
                return False
    except (zipfile.BadZipFile, OSError, KeyError):
        return False
    return not have("unzip") or subprocess.run(["unzip", "-tqq", jar]).returncode == 0


def save(jar, kill_after=None):
    """Runs a save; kills it after kill_after seconds. The time it ran."""
    start = time.monotonic()
    p = subprocess.Popen([PARCELIX] + ARGS + [jar, "MIDlet-Vendor=Killed"], env=ENV,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if kill_after is not None:
        time.sleep(kill_after)
        p.send_signal(signal.SIGKILL)
    p.wait()
    return time.monotonic() - start, p.returncode


try:
    original = os.path.join(work, "original.jar")
    make_original(original)
    with open(original, "rb") as f:
        old_bytes = f.read()
    # How long a whole save takes here, then kills spread over that time.
    probe = os.path.join(work, "probe")
    os.makedirs(probe)
    shutil.copy(original, os.path.join(probe, "Game.jar"))
    full, rc = save(os.path.join(probe, "Game.jar"))
    c.eq(rc, 0, "an uninterrupted save exits 0")
    c.check(whole_and_new(os.path.join(probe, "Game.jar")), "an uninterrupted save gives the new JAR")
    moments = [0.002, 0.01] + [full * f for f in (0.1, 0.25, 0.4, 0.55, 0.7, 0.8, 0.9, 0.97, 1.05)]
    outcomes = {"old": 0, "new": 0}
    for n, moment in enumerate(moments):
        folder = os.path.join(work, "round%02d" % n)
        os.makedirs(folder)
        jar = os.path.join(folder, "Game.jar")
        shutil.copy(original, jar)
        save(jar, moment)
        with open(jar, "rb") as f:
            now = f.read()
        if now == old_bytes:
            outcomes["old"] += 1
        else:
            c.check(whole_and_new(jar), "killed after %.3fs: the JAR is the old one or the new one, whole" % moment)
            outcomes["new"] += 1
        c.eq(os.listdir(folder), ["Game.jar"], "killed after %.3fs: nothing beside the JAR" % moment)
    print("save %.3fs; killed saves left the old JAR %d times, the new one %d times"
          % (full, outcomes["old"], outcomes["new"]))
finally:
    shutil.rmtree(work, ignore_errors=True)
c.finish()
