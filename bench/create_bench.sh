#!/usr/bin/env bash
# Benchmark of `parcelix create` against the usual archivers on one ~100 MB tree:
# Info-ZIP `zip -r -6 -q`, the JDK's `jar cf`, `bsdtar --format zip` and python's
# zipfile at level 6, side by side in one run (best of N runs each).
#   bench/create_bench.sh [PARCELIX] [RUNS] [MEGABYTES]
# PARCELIX defaults to build/parcelix; the tree is made by create_make_tree.py
# in a private temporary directory and removed afterwards. If a build of the
# bench programs exists beside PARCELIX (bench/create_deflate), the time of raw
# Deflate alone on the same files is shown too.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="$(realpath "${1:-$here/../build/parcelix}")"
runs="${2:-3}"
megabytes="${3:-100}"
work="$(mktemp -d "${TMPDIR:-/tmp}/pxbench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

python3 "$here/create_make_tree.py" "$work/tree" "$megabytes"
du -sb "$work/tree" | awk '{printf "tree: %.1f MB\n", $1/1048576}'
# Warm the page cache so every tool reads from memory.
cat $(find "$work/tree" -type f) > /dev/null

best() {  # best wall and best CPU (user+sys) time of $runs runs of a command writing $out
  local name="$1" out="$2"; shift 2
  local wall cpu bestw="" bestc=""
  for _ in $(seq "$runs"); do
    if [ -n "${prepare:-}" ]; then eval "$prepare"; else rm -f "$out"; fi
    /usr/bin/time -o "$work/time" -f "%e %U %S" "$@" >/dev/null 2>&1
    read -r wall u sy < "$work/time"
    cpu=$(awk "BEGIN{print $u + $sy}")
    if [ -z "$bestw" ] || awk "BEGIN{exit !($wall < $bestw)}"; then bestw="$wall"; fi
    if [ -z "$bestc" ] || awk "BEGIN{exit !($cpu < $bestc)}"; then bestc="$cpu"; fi
  done
  local size; size=$(stat -c %s "$out")
  printf "%-10s wall %7.2f s  cpu %7.2f s  %12d bytes\n" "$name" "$bestw" "$bestc" "$size"
  echo "$name $bestw $bestc $size" >> "$work/results"
}

cd "$work/tree"
: > "$work/results"
best parcelix "$work/p.jar" "$parcelix" create "$work/p.jar" "$work/tree"
command -v zip >/dev/null && best zip "$work/z.zip" zip -r -6 -q "$work/z.zip" .
command -v jar >/dev/null && best jar "$work/j.jar" jar cf "$work/j.jar" -C "$work/tree" .
command -v bsdtar >/dev/null && best bsdtar "$work/b.zip" bsdtar --format zip -cf "$work/b.zip" .
best python "$work/y.zip" python3 -c '
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for d, dirs, files in os.walk("."):
        for f in files:
            z.write(os.path.join(d, f))
' "$work/y.zip"
"$parcelix" create --store "$work/s.jar" "$work/tree" >/dev/null
best "p-store" "$work/s.jar" "$parcelix" create --store "$work/s.jar" "$work/tree"

echo
awk '
  $1 == "parcelix" { pw = $2; pc = $3; ps = $4 }
  $1 == "zip" { zs = $4 }
  $1 != "parcelix" && $1 != "p-store" {
    if (fw == "" || $2 < fw) { fw = $2; fwn = $1 }
    if (fc == "" || $3 < fc) { fc = $3; fcn = $1 }
  }
  END {
    printf "parcelix / fastest peer, wall (%s): %.3f\n", fwn, pw / fw
    printf "parcelix / fastest peer, cpu  (%s): %.3f\n", fcn, pc / fc
    if (zs) printf "parcelix size / zip size: %.4f\n", ps / zs
  }' "$work/results"

update_bin="$(dirname "$parcelix")/bench/create_update"
if [ -x "$update_bin" ]; then
  # The manifest save's engine path: one new entry into the archive just
  # made, every other entry copied, against a plain cp of the same file.
  echo
  cp "$work/p.jar" "$work/u.jar"
  best cp-new "$work/c.jar" cp "$work/u.jar" "$work/c.jar"
  prepare='cp "$work/p.jar" "$work/c2.jar"' best cp-over "$work/c2.jar" cp "$work/u.jar" "$work/c2.jar"
  prepare='cp "$work/p.jar" "$work/u.jar"' best update "$work/u.jar" "$update_bin" "$work/u.jar"
  awk '$1 == "cp-new" { c = $2 } $1 == "cp-over" { o = $2 } $1 == "update" { u = $2 }
       END { printf "update / cp to a new file: %.2f; update / cp over the old file: %.2f (wall)\n", u / c, u / o }' "$work/results"
fi

deflate_bin="$(dirname "$parcelix")/bench/create_deflate"
if [ -x "$deflate_bin" ]; then
  echo
  "$deflate_bin" "$work/tree" 6
fi
