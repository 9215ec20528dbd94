#!/usr/bin/env bash
# What reading manifests in their code pages costs `parcelix rename -n -r DIR`
# over N small MIDlet JARs (default 2000), side by side, medians of RUNS runs
# taken in turn (default 11): the collection of rename_bench.sh as it is
# (ASCII: no detection at all), and with every SHARE-th manifest (default 4)
# rewritten in a legacy code page (Russian, Chinese, Japanese, Polish, German
# names), read with detection (auto), with --codepage UTF-8 (no detection,
# the legacy bytes shown replaced) and with --codepage windows-1251 (a fixed
# page). Prints the median wall and CPU milliseconds of each and the ratio of
# auto to no detection. (bench/compare_builds.sh sets two builds side by side
# on the ASCII collection.)
#   bench/names_bench.sh [PARCELIX] [N] [RUNS] [SHARE]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
parcelix="${1:-$here/../build/parcelix}"
n="${2:-2000}"
runs="${3:-11}"
share="${4:-4}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$here/rename_make_data.py" "$work/ascii" "$n" >/dev/null
cp -r "$work/ascii" "$work/mixed"
python3 - "$work/mixed" "$share" <<'PY'
import os, sys, zipfile
folder, share = sys.argv[1], int(sys.argv[2])
names = [("Игра Змейка", "windows-1251"), ("Морской бой", "koi8-r"), ("俄罗斯方块", "gbk"),
         ("俄羅斯方塊", "big5"), ("テトリス", "shift_jis"), ("Łowienie ryb", "windows-1250"),
         ("Straßenrennen", "windows-1252")]
jars = sorted(os.listdir(folder))
for i, jar in enumerate(jars[::share]):
    name, cp = names[i % len(names)]
    mf = ("Manifest-Version: 1.0\r\nMIDlet-Name: %s %d\r\nMIDlet-Version: 1.0\r\n"
          "MIDlet-Vendor: Bench Games Ltd\r\nMIDlet-1: Game, /icon.png, Main\r\n"
          "MicroEdition-Profile: MIDP-2.0\r\n\r\n" % (name, i)).encode(cp)
    path = os.path.join(folder, jar)
    with zipfile.ZipFile(path) as z:
        members = [(info, z.read(info)) for info in z.infolist() if info.filename != "META-INF/MANIFEST.MF"]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("META-INF/MANIFEST.MF", mf)
        for info, data in members:
            z.writestr(info, data)
PY
printf '[Rename]\nAddVersion=1\n' >"$work/bench.ini"
export PARCELIX_INI="$work/bench.ini"
cat "$work"/ascii/*.jar "$work"/mixed/*.jar >/dev/null  # warm the page cache

labels=()
declare -A cmds
add() { labels+=("$1"); cmds[$1]="$2"; }
add "ascii:auto" "$parcelix rename -n -r $work/ascii"
add "mixed:no-detection" "$parcelix rename -n -r --codepage UTF-8 $work/mixed"
add "mixed:windows-1251" "$parcelix rename -n -r --codepage windows-1251 $work/mixed"
add "mixed:auto" "$parcelix rename -n -r $work/mixed"

# Every program names every JAR (the summary line counts them).
for k in "${labels[@]}"; do
  if ! ${cmds[$k]} 2>/dev/null | tail -1 | grep -q "^$n JARs: $n to rename"; then
    echo "warning: $k does not name every JAR" >&2
  fi
done

# Medians of wall and CPU (user + system) milliseconds, the programs run in
# turn so that a change in the machine's load falls on all of them alike.
args=()
for k in "${labels[@]}"; do args+=("$k" "${cmds[$k]}"); done
echo "rename -n -r over $n JARs, every ${share}th manifest in a legacy code page in mixed;" \
  "$runs runs each; load average $(cut -d' ' -f1 /proc/loadavg)"
python3 - "$runs" "${args[@]}" <<'PY'
import resource, statistics, subprocess, sys, time
runs = int(sys.argv[1])
pairs = list(zip(sys.argv[2::2], sys.argv[3::2]))
wall = {k: [] for k, _ in pairs}
cpu = {k: [] for k, _ in pairs}
for _ in range(runs):
    for k, cmd in pairs:
        r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
        t0 = time.perf_counter()
        subprocess.run(cmd.split(" "), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t1 = time.perf_counter()
        r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
        wall[k].append((t1 - t0) * 1000)
        cpu[k].append((r1.ru_utime - r0.ru_utime + r1.ru_stime - r0.ru_stime) * 1000)
med = {k: (statistics.median(wall[k]), statistics.median(cpu[k])) for k, _ in pairs}
print("%-20s %10s %10s" % ("run", "wall-ms", "cpu-ms"))
for k, _ in pairs:
    print("%-20s %10.0f %10.0f" % (k, *med[k]))
def ratio(a, b):
    return "wall %+.1f %%, cpu %+.1f %%" % tuple(100 * (med[a][i] / med[b][i] - 1) for i in (0, 1))
print("detection on the mixed collection (auto against no detection):", ratio("mixed:auto", "mixed:no-detection"))
PY
