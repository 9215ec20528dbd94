#!/usr/bin/env bash
# Rename benchmark: `parcelix rename -n -r DIR` over N small MIDlet JARs
# against a minimal C reference (pread + zlib), a libzip program and python's
# zipfile, all computing the same names. Prints JARs per second, ratios to
# the reference and system calls per JAR (strace -c).
#   bench/rename_bench.sh [PARCELIX] [N]     (needs: scripts/install-deps.sh --bench)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="${1:-$here/../build/parcelix}"
n="${2:-2000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$here/rename_make_data.py" "$work/jars" "$n" >/dev/null
cc -O2 -o "$work/rename_ref" "$here/rename_ref.c" -lz
have_libzip=0
if cc -O2 -o "$work/rename_libzip" "$here/rename_libzip.c" -lzip 2>/dev/null; then have_libzip=1; fi
printf '[Rename]\nAddVersion=1\n' >"$work/bench.ini"
export PARCELIX_INI="$work/bench.ini"
cat "$work"/jars/*.jar >/dev/null  # warm the page cache

declare -A cmds=(
  [parcelix]="$parcelix rename -n -r $work/jars"
  [c-reference]="$work/rename_ref $work/jars"
  [python-zipfile]="python3 $here/rename_zipfile.py $work/jars"
)
order=(c-reference parcelix python-zipfile)
if [ "$have_libzip" = 1 ]; then
  cmds[libzip]="$work/rename_libzip $work/jars"
  order=(c-reference parcelix libzip python-zipfile)
fi

# The same names from every program (the summary line aside).
for k in "${order[@]}"; do
  ${cmds[$k]} 2>/dev/null | grep ' -> ' | sort >"$work/out.$k"
done
for k in "${order[@]}"; do
  if ! cmp -s "$work/out.c-reference" "$work/out.$k"; then
    echo "warning: $k computes other names than the reference" >&2
  fi
done

# Best of 5 runs: wall time and CPU time (user + system) in milliseconds.
# The CPU time is the steadier figure on a machine shared with other jobs.
best_ms() {
  python3 - "$1" <<'PY'
import os, resource, subprocess, sys, time
cmd = sys.argv[1].split(" ")
wall = cpu = None
for _ in range(5):
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t1 = time.perf_counter()
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    w = (t1 - t0) * 1000
    c = (r1.ru_utime - r0.ru_utime + r1.ru_stime - r0.ru_stime) * 1000
    wall = w if wall is None else min(wall, w)
    cpu = c if cpu is None else min(cpu, c)
print(f"{wall:.0f} {cpu:.0f}")
PY
}

syscalls() {  # total system calls of one run
  strace -f -c -o "$work/strace.txt" $1 >/dev/null 2>&1 || true
  awk '/ total$/ {print $(NF-2) ~ /^[0-9]+$/ ? $(NF-2) : $(NF-1)}' "$work/strace.txt" | tail -1
}

echo "rename -n over $n JARs ($(du -sh "$work/jars" | cut -f1)); load average $(cut -d' ' -f1 /proc/loadavg)"
declare -A wall cpu
for k in "${order[@]}"; do
  read -r w c < <(best_ms "${cmds[$k]}")
  wall[$k]=$w
  cpu[$k]=$c
done
printf '%-16s %8s %10s %8s %8s %10s %14s\n' program wall-ms JARs/s ratio cpu-ms cpu-ratio syscalls/JAR
for k in "${order[@]}"; do
  w=${wall[$k]}; c=${cpu[$k]}
  rate=$(awk -v n="$n" -v w="$w" 'BEGIN { printf "%d", n * 1000 / (w < 1 ? 1 : w) }')
  ratio=$(awk -v a="$w" -v b="${wall[c-reference]}" 'BEGIN { printf "%.2f", a / (b < 1 ? 1 : b) }')
  cratio=$(awk -v a="$c" -v b="${cpu[c-reference]}" 'BEGIN { printf "%.2f", a / (b < 1 ? 1 : b) }')
  calls="-"
  if command -v strace >/dev/null 2>&1; then
    total=$(syscalls "${cmds[$k]}")
    [ -n "$total" ] && calls=$(awk -v t="$total" -v n="$n" 'BEGIN { printf "%.1f", t / n }')
  fi
  printf '%-16s %8s %10s %8s %8s %10s %14s\n' "$k" "$w" "$rate" "$ratio" "$c" "$cratio" "$calls"
done
