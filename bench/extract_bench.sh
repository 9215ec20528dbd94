#!/usr/bin/env bash
# Extraction benchmark: one ~100 MB JAR of a few thousand mixed members
# extracted to a fresh directory by parcelix and, side by side in the same
# run, by bsdtar, 7z, python's zipfile and unzip. Prints the best wall time
# of each (of RUNS), the ratio of parcelix to the fastest other tool, and the
# peak RSS of parcelix.
#   bench/extract_bench.sh [PARCELIX] [RUNS] [SIZE_MB]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="${1:-$here/../build/parcelix}"
runs="${2:-5}"
size="${3:-100}"
work="$(mktemp -d)"
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

best() {  # best wall time in seconds of `runs` runs into fresh directories
  local cmd="$1" t bestt=999999
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    local c="${cmd//OUT/$work/out}"
    t=$( { /usr/bin/time -f '%e' bash -c "$c >/dev/null" ; } 2>&1 | tail -1 )
    bestt=$(python3 -c "print(min($bestt, $t))")
  done
  echo "$bestt"
}

declare -A times
for k in "${order[@]}"; do
  tool="${cmds[$k]%% *}"
  if ! command -v "$tool" >/dev/null 2>&1 && [ "$k" != parcelix ]; then
    echo "$k: not installed"; continue
  fi
  times[$k]="$(best "${cmds[$k]}")"
  printf '%-15s %6.2f s\n' "$k" "${times[$k]}"
done

# The same files from every tool: compare parcelix's tree with unzip's.
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
