#!/usr/bin/env bash
# Two builds of parcelix side by side on the rename benchmark's small JARs:
# `rename -n -r DIR`, and `test` and `list --json` run on every JAR. The
# builds take turns in each round; the table gives the median of the rounds
# and the ratio NEW / OLD, so a change can be judged against the build before
# it on the same machine at the same moment.
#   bench/compare_builds.sh OLD-PARCELIX NEW-PARCELIX [N] [ROUNDS]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
old="${1:?old parcelix}"
new="${2:?new parcelix}"
n="${3:-2000}"
rounds="${4:-7}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$here/rename_make_data.py" "$work/jars" "$n" >/dev/null
printf '[Rename]\nAddVersion=1\n' >"$work/bench.ini"
export PARCELIX_INI="$work/bench.ini"
cat "$work"/jars/*.jar >/dev/null  # warm the page cache

echo "old: $old"
echo "new: $new"
echo "$n JARs ($(du -sh "$work/jars" | cut -f1)), $rounds rounds; load average $(cut -d' ' -f1 /proc/loadavg)"
python3 - "$old" "$new" "$work/jars" "$rounds" <<'PY'
import os, statistics, subprocess, sys, time
old, new, jars, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
files = sorted(os.path.join(jars, f) for f in os.listdir(jars) if f.endswith(".jar"))
quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

def rename(exe):
    subprocess.run([exe, "rename", "-n", "-r", jars], **quiet)

def per_jar(*args):
    def run(exe):
        for f in files:
            subprocess.run([exe, *args, f], **quiet)
    return run

work = {"rename -n -r": rename, "test (each JAR)": per_jar("test"),
        "list --json (each JAR)": per_jar("list", "--json")}
times = {(w, b): [] for w in work for b in ("old", "new")}
for _ in range(rounds):
    for w, fn in work.items():
        for b, exe in (("old", old), ("new", new)):
            t0 = time.perf_counter()
            fn(exe)
            times[(w, b)].append((time.perf_counter() - t0) * 1000)
print(f"{'work':24} {'old ms':>9} {'new ms':>9} {'new/old':>8}")
for w in work:
    o = statistics.median(times[(w, "old")])
    nw = statistics.median(times[(w, "new")])
    print(f"{w:24} {o:9.0f} {nw:9.0f} {nw / o:8.3f}")
PY
