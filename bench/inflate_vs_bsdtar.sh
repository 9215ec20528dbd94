#!/usr/bin/env bash
# Compares member inflation speed of the engine (inflate_bench) with bsdtar
# extracting the same zip to /dev/null.
#   bench/inflate_vs_bsdtar.sh BUILD_DIR   (configured with -DPARCELIX_BENCH=ON)
set -euo pipefail
build="${1:?usage: $0 BUILD_DIR}"
bench="$build/bench/inflate_bench"
command -v bsdtar >/dev/null && command -v zip >/dev/null || { echo "needs bsdtar and zip" >&2; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$work" <<'PY'
import os, random, sys
random.seed(7)
words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 11))) for _ in range(2000)]
os.makedirs(os.path.join(sys.argv[1], 'd'))
for i in range(400):  # JAR-sized members, about 64 MiB in all
    n = random.randint(20000, 300000)
    text = ' '.join(random.choice(words) for _ in range(n // 6))[:n]
    open(os.path.join(sys.argv[1], 'd', 'm%03d.txt' % i), 'w').write(text)
PY
(cd "$work" && zip -q -6 -r t.zip d)
total=$(du -cb "$work"/d/* | tail -1 | cut -f1)
# Processor time (user + system) of bsdtar, best of three: steadier than
# wall time on a busy machine, and what inflate_bench measures too.
python3 - "$work/t.zip" "$total" <<'PY'
import resource, subprocess, sys
best = None
for _ in range(3):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(['bsdtar', '-xOf', sys.argv[1]], stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    best = t if best is None else min(best, t)
print('bsdtar -xOf:                  %8.1f MiB/s' % (int(sys.argv[2]) / 1048576 / best))
PY
"$bench" "$work/t.zip"
