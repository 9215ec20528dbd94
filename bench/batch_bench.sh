#!/usr/bin/env bash
# Batch benchmark: the batch commands over a collection against the minimal
# single-threaded C programs (bench/rename_ref.c, bench/jad_ref.c) and
# python's zipfile, side by side in one run, medians of several rounds with
# the programs taking turns.
#   (1) rename -n -r over N JARs, warm page cache: default -j and -j 1;
#   (2) the same with the page cache dropped before each run (as root only);
#   (3) jad -r over the same JARs (every run starts without JADs);
#   (4) scale: rename -n -r over SCALE tiny JARs against 2000 of the same
#       kind, time per JAR and peak RSS.
#   bench/batch_bench.sh [PARCELIX] [N] [SCALE]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="$(realpath "${1:-$here/../build/parcelix}")"
n="${2:-2000}"
scale="${3:-100000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$here/rename_make_data.py" "$work/jars" "$n" >/dev/null
cc -O2 -o "$work/rename_ref" "$here/rename_ref.c" -lz
cc -O2 -o "$work/jad_ref" "$here/jad_ref.c" -lz
cc -O2 -o "$work/peak_rss" "$here/peak_rss.c"
printf '[Rename]\nAddVersion=1\n' >"$work/bench.ini"
export PARCELIX_INI="$work/bench.ini"
cat "$work"/jars/*.jar >/dev/null
echo "$n JARs ($(du -sh "$work/jars" | cut -f1)); load average $(cut -d' ' -f1 /proc/loadavg); $(nproc) cores"

# ROUNDS BEFORE NAME=CMD...: medians of wall time (ms) and peak RSS (MB) per
# program, the programs taking turns; BEFORE runs untimed before each run.
rounds() {
  python3 - "$work/peak_rss" "$@" <<'PY'
import statistics, subprocess, sys
peak, rounds, before = sys.argv[1], int(sys.argv[2]), sys.argv[3]
progs = [a.split("=", 1) for a in sys.argv[4:]]
kib = peak + ".out"
wall = {p: [] for p, _ in progs}
rss = {p: 0 for p, _ in progs}
for _ in range(rounds):
    for name, cmd in progs:
        if before:
            subprocess.run(before, shell=True, check=True)
        # The wall time as the small starter measures it, from its fork to
        # its wait: python's own fork would add milliseconds to every run.
        subprocess.run([peak, kib] + cmd.split(" "), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(kib) as f:
            kb, us = f.read().split()
        wall[name].append(int(us) / 1000)
        rss[name] = max(rss[name], int(kb) / 1024)
base = statistics.median(wall[progs[0][0]])
for name, _ in progs:
    m = statistics.median(wall[name])
    print(f"  {name:16} {m:9.1f} ms  {m / base:5.2f}x {progs[0][0]}  peak RSS {rss[name]:6.1f} MB")
PY
}

echo "(1) rename -n -r, warm cache (medians of 9)"
rounds 9 "" "c-reference=$work/rename_ref $work/jars" "parcelix=$parcelix rename -n -r $work/jars" \
  "parcelix-j1=$parcelix rename -n -r -j 1 $work/jars" "python-zipfile=python3 $here/rename_zipfile.py $work/jars"

if [ -w /proc/sys/vm/drop_caches ]; then
  echo "(2) rename -n -r, page cache dropped before each run (medians of 3)"
  rounds 3 "sync; echo 3 >/proc/sys/vm/drop_caches" "c-reference=$work/rename_ref $work/jars" \
    "parcelix=$parcelix rename -n -r $work/jars" "parcelix-j1=$parcelix rename -n -r -j 1 $work/jars"
else
  echo "(2) skipped: dropping the page cache needs root"
fi

# The JADs of the last run are removed and that removal written out before
# each run, so that no program pays for the one before it.
echo "(3) jad -r, each run starting without JADs (medians of 7)"
rounds 7 "rm -f $work/jars/*.jad; sync" "c-reference=$work/jad_ref $work/jars" "parcelix=$parcelix jad -q -r $work/jars" \
  "parcelix-j1=$parcelix jad -q -r -j 1 $work/jars" "python-zipfile=python3 $here/jad_zipfile.py $work/jars"
rm -f "$work"/jars/*.jad

if [ "$scale" -gt 0 ]; then
  python3 "$here/scale_make_data.py" "$work/scale" "$scale"
  echo "(4) scale: rename -n -r over $scale tiny JARs and over 2000 of them (medians of 3)"
  find "$work/scale" -name '*.jar' -exec cat {} + >/dev/null
  rounds 3 "" "2000=$parcelix rename -n -r $work/scale/f000 $work/scale/f001" "$scale=$parcelix rename -n -r $work/scale" |
    awk -v s="$scale" '{ print } $1 == "2000" { a = $2 } $1 == s { b = $2 }
      END { printf "  per JAR: %.2f us at 2000, %.2f us at %d (%.2fx)\n", a * 1000 / 2000, b * 1000 / s, s, (b / s) / (a / 2000) }'
fi
# Last run (2 cores, load 0.8): rename -n -r 0.70x the C reference (-j 1
# 1.08x), dropped cache 0.63x (-j 1 0.97x), jad -r 0.69x (-j 1 1.16x, python
# 2.66x); 100,000 tiny JARs: 0.70x the time per JAR of 2000, peak RSS 28.7 MB.
