"""What the archive scenario scripts share: the program under test (from
$PARCELIX; exit 77, skipped, when it is not there), a list of failures, a
check that records one, a run of the program that must not die of a signal,
and the closing verdict."""
import os
import subprocess
import sys

PARCELIX = os.environ.get("PARCELIX")
if not PARCELIX or not os.path.exists(PARCELIX):
    print("PARCELIX not set", file=sys.stderr)
    sys.exit(77)

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def run(*args, cwd=None, timeout=120):
    p = subprocess.run([PARCELIX, *args], capture_output=True, timeout=timeout, cwd=cwd)
    check(p.returncode >= 0, f"{args}: killed by signal {-p.returncode}")
    return p


def finish():
    if failures:
        print(f"{len(failures)} failure(s)", file=sys.stderr)
        sys.exit(1)
    print("ok")
