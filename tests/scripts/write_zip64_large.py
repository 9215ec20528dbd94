#!/usr/bin/env python3
"""Long test: an archive over 4 GiB (python's zipfile, stored members from a
sparse file) is listed, tested and updated by parcelix (the manifest
replaced, every other member copied), and unzip and python agree with the
result. Runs only with PARCELIX_LONG_TESTS=1 and 10 GiB free; skips (77)
otherwise."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

if os.environ.get("PARCELIX_LONG_TESTS") != "1":
    print("skipped: set PARCELIX_LONG_TESTS=1 to run")
    sys.exit(77)
work = tempfile.mkdtemp(prefix="parcelix-zip64-")
if shutil.disk_usage(work).free < 10 << 30:
    shutil.rmtree(work)
    print("skipped: less than 10 GiB free")
    sys.exit(77)
parcelix = os.environ["PARCELIX"]
env = dict(os.environ, PARCELIX_INI=os.path.join(work, "t.ini"))
started = time.time()
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


try:
    big = os.path.join(work, "big.bin")
    with open(big, "wb") as f:
        f.truncate(3 << 30)  # sparse: 3 GiB of zeros
    jar = os.path.join(work, "big.jar")
    manifest = b"Manifest-Version: 1.0\r\nMIDlet-Name: Big\r\nMIDlet-Version: 1.0\r\n\r\n"
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_STORED, allowZip64=True) as z:
        z.writestr("META-INF/MANIFEST.MF", manifest)
        z.write(big, "data/one.bin")
        z.write(big, "data/two.bin")  # starts past 4 GiB
        z.writestr("tail.txt", b"the last member\n")
    os.unlink(big)
    check(os.path.getsize(jar) > 6 << 30, "the archive is over 4 GiB")
    r = subprocess.run([parcelix, "list", jar], capture_output=True, text=True, env=env)
    check(r.returncode == 0 and "data/two.bin" in r.stdout and "tail.txt" in r.stdout, f"list ({r.stderr.strip()})")
    r = subprocess.run([parcelix, "test", jar], capture_output=True, text=True, env=env)
    check(r.returncode == 0, f"test ({r.stdout.strip()[-200:]} {r.stderr.strip()})")
    r = subprocess.run([parcelix, "set", "--no-backup", "--no-rename", "--no-jad", jar, "X-Long=Yes"],
                       capture_output=True, text=True, env=env)
    check(r.returncode == 0, f"set ({r.stderr.strip()})")
    r = subprocess.run(["unzip", "-tqq", jar], capture_output=True, text=True)
    check(r.returncode == 0, f"unzip -t after set ({r.stdout.strip()} {r.stderr.strip()})")
    with zipfile.ZipFile(jar) as z:
        check(b"X-Long: Yes\r\n" in z.read("META-INF/MANIFEST.MF"), "python reads the new manifest")
        check(z.read("tail.txt") == b"the last member\n", "python reads the member after 4 GiB")
        check([i.file_size for i in z.infolist()][1:3] == [3 << 30, 3 << 30], "python sees both large members")
    r = subprocess.run([parcelix, "test", jar], capture_output=True, text=True, env=env)
    check(r.returncode == 0, f"test after set ({r.stderr.strip()})")
finally:
    shutil.rmtree(work)
print(f"{time.time() - started:.0f} s")
sys.exit(1 if failures else 0)
