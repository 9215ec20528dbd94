#!/usr/bin/env bash
# Check benchmark: `parcelix check -r DIR` over N small MIDlet JARs with their
# JADs, against the minimal C scan (bench/rename_ref.c: directory and
# manifest only, no checks), a minimal C decode (bench/check_ref.c: every
# member inflated and its CRC-32 compared, the JAD read; the floor of any
# audit of CRCs) and python's zipfile doing the same checks
# (bench/check_zipfile.py), side by side: medians of several rounds of wall
# and CPU time, and the ratios. Targets: at most 2x the C scan, at least 4x
# ahead of python. With --duplicates: against sha256sum over the same files.
#   bench/check_bench.sh [PARCELIX] [N] [ROUNDS]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="${1:-$here/../build/parcelix}"
n="${2:-2000}"
rounds="${3:-7}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$here/rename_make_data.py" "$work/jars" "$n" >/dev/null
python3 "$here/check_make_jads.py" "$work/jars"
cc -O2 -o "$work/rename_ref" "$here/rename_ref.c" -lz
cc -O2 -o "$work/check_ref" "$here/check_ref.c" -lz
printf '[Rename]\nAddVersion=1\n' >"$work/bench.ini"
export PARCELIX_INI="$work/bench.ini"
cat "$work"/jars/* >/dev/null  # warm the page cache

declare -A cmds=(
  [c-scan]="$work/rename_ref $work/jars"
  [c-decode]="$work/check_ref $work/jars"
  [parcelix]="$parcelix check -q -r $work/jars"
  [parcelix-j1]="$parcelix check -q -j 1 -r $work/jars"
  [python-zipfile]="python3 $here/check_zipfile.py $work/jars"
  [sha256sum]="sha256sum $work/jars/*.jar"
  [parcelix-dups]="$parcelix check -q --duplicates -r $work/jars"
)
order=(c-scan c-decode parcelix parcelix-j1 python-zipfile)
probe="$("$parcelix" check --json --duplicates "$work/jars/game00000.jar" 2>/dev/null || true)"
if [[ "$probe" == *'"sha256"'* ]]; then
  order+=(sha256sum parcelix-dups)
else
  echo "(no digests in this build: --duplicates is left out)"
fi

# The same findings from parcelix and python, by JAR and code.
"$parcelix" check --json -r "$work/jars" | python3 -c '
import json, sys
for line in sys.stdin:
    r = json.loads(line)
    for f in sorted({f["code"] for f in r["findings"]}):
        print(r["path"] + ": " + f)' | sort >"$work/out.parcelix" || true
python3 "$here/check_zipfile.py" "$work/jars" | sort -u >"$work/out.python"
if ! cmp -s "$work/out.parcelix" "$work/out.python"; then
  echo "warning: parcelix and python find different things:" >&2
  diff "$work/out.parcelix" "$work/out.python" | head -5 >&2
fi

# Median of the rounds: wall time and CPU time (user + system) in ms.
median_ms() {
  python3 - "$1" "$rounds" <<'PY'
import resource, statistics, subprocess, sys, time
cmd = ["sh", "-c", sys.argv[1]]
walls, cpus = [], []
for _ in range(int(sys.argv[2])):
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t1 = time.perf_counter()
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    walls.append((t1 - t0) * 1000)
    cpus.append((r1.ru_utime - r0.ru_utime + r1.ru_stime - r0.ru_stime) * 1000)
print(f"{statistics.median(walls):.0f} {statistics.median(cpus):.0f}")
PY
}

echo "check -r over $n JARs with JADs ($(du -sh "$work/jars" | cut -f1)), median of $rounds rounds;" \
  "load average $(cut -d' ' -f1 /proc/loadavg)"
declare -A wall cpu
for k in "${order[@]}"; do
  read -r w c < <(median_ms "${cmds[$k]}")
  wall[$k]=$w
  cpu[$k]=$c
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b < 1 ? 1 : b) }'; }
printf '%-16s %8s %10s %8s %11s %11s %11s\n' program wall-ms JARs/s cpu-ms "vs c-scan" "vs c-decode" \
  "vs parcelix"
for k in "${order[@]}"; do
  w=${wall[$k]}; c=${cpu[$k]}
  rate=$(awk -v n="$n" -v w="$w" 'BEGIN { printf "%d", n * 1000 / (w < 1 ? 1 : w) }')
  printf '%-16s %8s %10s %8s %11s %11s %11s\n' "$k" "$w" "$rate" "$c" "$(ratio "$c" "${cpu[c-scan]}")" \
    "$(ratio "$c" "${cpu[c-decode]}")" "$(ratio "$c" "${cpu[parcelix]}")"
done
echo "targets (CPU time): parcelix <= 2x the C floor; python-zipfile >= 4x parcelix;" \
  "parcelix-dups <= 1.2x sha256sum"
if [ -n "${cpu[parcelix-dups]:-}" ]; then
  echo "parcelix-dups / sha256sum (CPU): $(ratio "${cpu[parcelix-dups]}" "${cpu[sha256sum]}")"
fi
