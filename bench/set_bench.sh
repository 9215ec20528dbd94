#!/usr/bin/env bash
# Set benchmark: setting one manifest attribute in a ~100 MB JAR with
# `parcelix set`, against a plain `cp` of the same JAR, a copy with the same
# flush as the save (`cp` to a temporary file beside the target, `sync -d`,
# `mv` over the target), the JDK's `jar ufm` and Info-ZIP `zip` updating the
# manifest member, in one run. Every program rewrites the whole archive; the
# page cache is warm for all of them.
#   bench/set_bench.sh [PARCELIX] [MB]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="${1:-$here/../build/parcelix}"
mb="${2:-100}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$here/set_make_data.py" "$work/big.jar" "$mb"
printf '[ManifestEditor]\nRenameAfterSave=0\nMakeJadAfterSave=0\nCreateBackup=0\n' >"$work/bench.ini"
export PARCELIX_INI="$work/bench.ini"
printf '[ManifestEditor]\nRenameAfterSave=0\nMakeJadAfterSave=0\nCreateBackup=1\n' >"$work/backup.ini"
mkdir -p "$work/zipdir/META-INF"
printf 'Manifest-Version: 1.0\r\nMIDlet-Name: Big Bench\r\nMIDlet-Version: 2.0\r\n\r\n' \
  >"$work/zipdir/META-INF/MANIFEST.MF"
printf 'X-Bench: 1\n' >"$work/add.mf"
cp "$work/big.jar" "$work/t.jar"
cp "$work/big.jar" "$work/peer.jar"
cat "$work/big.jar" >/dev/null

run_cp() { cp "$work/big.jar" "$work/copy.jar"; }
# The peer of the save: a copy that replaces a file the same durable way
# (its data flushed before the rename over the old file).
run_cp_sync_mv() {
  cp "$work/big.jar" "$work/.peer.jar.tmp" && sync -d "$work/.peer.jar.tmp" && mv "$work/.peer.jar.tmp" "$work/peer.jar"
}
run_parcelix() { "$parcelix" set --no-backup --no-rename --no-jad "$work/t.jar" "X-Bench=$RANDOM" >/dev/null; }
# The same with the backup the editor makes by default (t.bak beside t.jar).
run_parcelix_bak() {
  PARCELIX_INI="$work/backup.ini" "$parcelix" set --no-rename --no-jad "$work/t.jar" "X-Bench=$RANDOM" >/dev/null 2>&1
}
run_jar() { jar ufm "$work/t.jar" "$work/add.mf" 2>/dev/null; }
run_zip() { (cd "$work/zipdir" && zip -q "$work/t.jar" META-INF/MANIFEST.MF); }

# Wall times of 7 rounds in milliseconds; the programs take turns within
# each round, so a busy moment of the machine does not fall on one of them
# only. Best and median are shown: on this kind of file system the time of a
# replace depends on how much of the old file had reached the disk, so the
# median is the steadier figure.
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
echo "set one attribute in a $(du -m "$work/big.jar" | cut -f1) MB JAR; load average $(cut -d' ' -f1 /proc/loadavg)"
order=(run_cp run_cp_sync_mv run_parcelix run_parcelix_bak)
command -v jar >/dev/null && order+=(run_jar)
command -v zip >/dev/null && order+=(run_zip)
: >"$work/times"
for _ in 1 2 3 4 5 6 7; do
  for f in "${order[@]}"; do
    s=$(now_ms)
    "$f"
    echo "${f#run_} $(( $(now_ms) - s ))" >>"$work/times"
  done
done
python3 - "$work/times" "${order[@]#run_}" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    name, ms = line.split()
    times.setdefault(name, []).append(int(ms))
best = {k: min(v) for k, v in times.items()}
med = {k: statistics.median(v) for k, v in times.items()}
peer = "cp_sync_mv"
print(f"{'program':16} {'best-ms':>8} {'x cp':>6} {'median-ms':>10} {'x cp':>6} {'x peer':>7}")
for name in sys.argv[2:]:
    print(f"{name:16} {best[name]:8d} {best[name] / max(best['cp'], 1):6.2f} {med[name]:10.0f}"
          f" {med[name] / max(med['cp'], 1):6.2f} {med[name] / max(med[peer], 1):7.2f}")
print(f"set against the peer (median): {med['parcelix'] / max(med[peer], 1):.2f}")
PY
unzip -tq "$work/t.jar" >/dev/null && echo "the updated JAR passes unzip -t"
