#!/usr/bin/env bash
# Extraction benchmark: one ~100 MB JAR of a few thousand mixed members
# extracted to a fresh directory by parcelix and, side by side in the same
# run, by bsdtar, 7z, python's zipfile and unzip, the tools taking turns in
# each round. Prints the best wall time of each (of RUNS rounds), the ratio
# of parcelix to the fastest other tool, and the peak RSS of parcelix.
# The trees go to a tmpfs when there is one (EXTRACT_BENCH_DIR overrides):
# on a disk file system the cost of allocating thousands of inodes right
# after deleting the previous tree varies more than the tools differ.
#   bench/extract_bench.sh [PARCELIX] [RUNS] [SIZE_MB]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="${1:-$here/../build/parcelix}"
runs="${2:-5}"
size="${3:-100}"
base="${EXTRACT_BENCH_DIR:-}"
if [ -z "$base" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work="$(mktemp -d ${base:+-p "$base"})"
trap 'rm -rf "$work"' EXIT

jar="$work/bench.jar"
python3 "$here/extract_make_data.py" "$jar" "$size"
ls -l "$jar" | awk '{printf "archive: %.1f MB\n", $5 / 1e6}'
cat "$jar" >/dev/null  # warm the page cache

declare -A cmds=(
  [parcelix]="$parcelix extract $jar OUT"
  [bsdtar]="bsdtar -xf $jar -C OUT"
  [7z]="7z x -y -bso0 -bsp0 -oOUT $jar"
  [python-zipfile]="python3 -c 'import sys,zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' $jar OUT"
  [unzip]="unzip -q -o $jar -d OUT"
)
order=(parcelix bsdtar 7z python-zipfile unzip)

run_once() {  # wall time in seconds of one run into a fresh directory
  rm -rf "$work/out"; mkdir -p "$work/out"
  local c="${1//OUT/$work/out}"
  { /usr/bin/time -f '%e' bash -c "$c >/dev/null" ; } 2>&1 | tail -1
}

declare -A times
active=()
for k in "${order[@]}"; do
  tool="${cmds[$k]%% *}"
  if [ "$k" != parcelix ] && ! command -v "$tool" >/dev/null 2>&1; then
    echo "$k: not installed"; continue
  fi
  active+=("$k")
  times[$k]=999999
done
for _ in $(seq "$runs"); do
  for k in "${active[@]}"; do
    t="$(run_once "${cmds[$k]}")"
    times[$k]=$(python3 -c "print(min(${times[$k]}, $t))")
  done
done
for k in "${active[@]}"; do printf '%-15s %6.2f s\n' "$k" "${times[$k]}"; done

# The same files: parcelix's tree against python's zipfile's.
rm -rf "$work/a" "$work/b"; mkdir -p "$work/a" "$work/b"
"$parcelix" extract "$jar" "$work/a" >/dev/null
python3 -c 'import sys,zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$jar" "$work/b"
diff -r "$work/a" "$work/b" >/dev/null && echo "trees: identical" || echo "trees: DIFFER"

fastest=""
for k in "${order[@]}"; do
  [ "$k" = parcelix ] && continue
  [ -n "${times[$k]:-}" ] || continue
  if [ -z "$fastest" ] || python3 -c "import sys; sys.exit(0 if ${times[$k]} < ${times[$fastest]} else 1)"; then fastest="$k"; fi
done
python3 -c "print(f'ratio parcelix / {\"$fastest\"}: {${times[parcelix]} / ${times[$fastest]}:.2f}')"

rm -rf "$work/out"; mkdir -p "$work/out"
/usr/bin/time -v "$parcelix" extract "$jar" "$work/out" 2>"$work/rss" >/dev/null
awk -F: '/Maximum resident/ {printf "parcelix peak RSS: %.1f MB\n", $2 / 1024}' "$work/rss"
