# The progress line of a long command (create, jad) on a terminal: under a
# pseudo-terminal it is drawn, at most ten times a second, and cleared at the
# end; with stderr on a pipe, or with -q, not one byte of it is written.
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

PROGRAM = os.environ.get("PARCELIX")
if not PROGRAM or not os.access(PROGRAM, os.X_OK):
    sys.exit(77)
failures = []
work = tempfile.mkdtemp(prefix="parcelix-progress-")
FILES = 1500


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


tree = os.path.join(work, "tree")
for i in range(FILES):
    d = os.path.join(tree, "d%02d" % (i % 30))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%04d.txt" % i), "wb") as f:
        f.write(os.urandom(2000) + b"x" * 30000)


def run_on_terminal(args, columns=60):
    """Runs with stderr on a pseudo-terminal (stdout on a pipe): (status, stdout, terminal bytes, seconds)."""
    master, slave = pty.openpty()
    # The terminal's width, as the program asks it.
    import fcntl, struct, termios
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    start = time.monotonic()
    p = subprocess.Popen([PROGRAM] + args, stdout=subprocess.PIPE, stderr=slave, stdin=subprocess.DEVNULL)
    os.close(slave)
    seen = b""
    out_chunks = []
    while True:
        ready, _, _ = select.select([master, p.stdout], [], [], 30)
        if not ready:
            break
        if master in ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                chunk = b""
            seen += chunk
        if p.stdout in ready:
            chunk = p.stdout.read1(65536)
            if not chunk and p.poll() is not None:
                break
            out_chunks.append(chunk)
    p.wait(timeout=60)
    seconds = time.monotonic() - start
    try:
        while True:
            chunk = os.read(master, 65536)
            if not chunk:
                break
            seen += chunk
    except OSError:
        pass
    os.close(master)
    return p.returncode, b"".join(out_chunks), seen, seconds


# On a terminal: lines drawn, throttled, cut to the width, cleared at the end.
status, out, seen, seconds = run_on_terminal(["create", os.path.join(work, "a.jar"), tree])
check(status == 0, "create exits 0")
draws = re.findall(rb"\r\x1b\[K(\[[^\r]*)", seen)
check(len(draws) >= 1, "a progress line is drawn: %r" % seen[:200])
check(len(draws) <= seconds * 10 + 2, "at most ten lines a second: %d in %.2fs" % (len(draws), seconds))
check(all(re.match(rb"\[\d+/%d\] " % FILES, d) for d in draws), "done/total: %r" % draws[:3])
check(all(len(d.decode()) <= 59 for d in draws), "cut to the terminal's width: %r" % max(draws, key=len))
check(seen.endswith(b"\r\x1b[K"), "cleared at the end: %r" % seen[-40:])
check(out.count(b"  adding: ") == FILES, "stdout keeps every line: %d" % out.count(b"  adding: "))
check(b"\x1b" not in out, "nothing of it on stdout")
with zipfile.ZipFile(os.path.join(work, "a.jar")) as z:
    check(len(z.namelist()) == FILES and z.testzip() is None, "the archive is whole")

# -q on a terminal: nothing at all.
status, out, seen, _ = run_on_terminal(["-q", "create", os.path.join(work, "b.jar"), tree])
check(status == 0 and seen == b"" and out == b"", "-q: nothing written: %r %r" % (seen[:100], out[:100]))

# stderr on a pipe: no progress bytes.
r = subprocess.run([PROGRAM, "create", os.path.join(work, "c.jar"), tree], capture_output=True, timeout=300)
check(r.returncode == 0 and r.stderr == b"", "no terminal: nothing on stderr: %r" % r.stderr[:100])

# A batch command (jad over a folder of JARs): "[done/total] name", cleared.
jars = os.path.join(work, "jars")
os.makedirs(jars)
for i in range(40):
    with zipfile.ZipFile(os.path.join(jars, "game%02d.jar" % i), "w") as z:
        z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-Name: Game %d\r\n\r\n" % i)
status, out, seen, _ = run_on_terminal(["jad", jars])
draws = re.findall(rb"\r\x1b\[K(\[[^\r]*)", seen)
check(status == 0 and out.count(b" -> ") == 40, "jad: exit %d, %d lines" % (status, out.count(b" -> ")))
check(draws and all(re.match(rb"\[\d+/40\] game\d\d\.jar", d) for d in draws), "jad progress: %r" % draws[:3])
check(seen.endswith(b"\r\x1b[K"), "jad: cleared at the end")

shutil.rmtree(work, ignore_errors=True)
if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("ok")
