#!/usr/bin/env bash
# Rebuilds the midlet fixtures with Info-ZIP zip (run from this directory).
set -euo pipefail
t="$(mktemp -d)"
trap 'rm -rf "$t"' EXIT
crlf() { printf '%s\r\n' "$@"; }

mkdir -p "$t/game/META-INF" "$t/game/res" "$t/game/emptydir"
{ crlf "Manifest-Version: 1.0" "MIDlet-Name: Foo" "MIDlet-Version: 1.0" "MIDlet-Vendor: Tests" \
       "MIDlet-1: Foo, /i.png, FooMidlet" "MIDlet-Description: A long description that the JDK's" \
       "  jar tool would fold" "MicroEdition-Profile: MIDP-2.0" "MicroEdition-Configuration: CLDC-1.1" ""; } \
  > "$t/game/META-INF/MANIFEST.MF"
printf '\xca\xfe\xba\xbe class bytes' > "$t/game/FooMidlet.class"
seq 1 500 > "$t/game/res/numbers.txt"
echo hidden > "$t/game/.hidden"
(cd "$t/game" && TZ=UTC zip -q -X -r - META-INF FooMidlet.class res .hidden emptydir) > game.jar

mkdir -p "$t/plain"
echo "no manifest here" > "$t/plain/a.txt"
(cd "$t/plain" && TZ=UTC zip -q -X - a.txt) > nomanifest.jar

mkdir -p "$t/signed/META-INF"
{ crlf "Manifest-Version: 1.0" "MIDlet-Name: Signed" "MIDlet-Version: 2" "" \
       "Name: FooMidlet.class" "SHA-256-Digest: AAAA=" "" "Name: res/numbers.txt" "SHA-256-Digest: BBBB=" ""; } \
  > "$t/signed/META-INF/MANIFEST.MF"
cp "$t/game/FooMidlet.class" "$t/signed/"
(cd "$t/signed" && TZ=UTC zip -q -X -r - META-INF FooMidlet.class) > signed.jar

mkdir -p "$t/nested/lib" "$t/nested/META-INF"
{ crlf "Manifest-Version: 1.0" "MIDlet-Name: Inner Library" ""; } > "$t/nested/lib/MANIFEST.MF"
{ crlf "Manifest-Version: 1.0" "MIDlet-Name: Outer" "MIDlet-Version: 3" ""; } > "$t/nested/META-INF/MANIFEST.MF"
(cd "$t/nested" && TZ=UTC zip -q -X - lib/MANIFEST.MF META-INF/MANIFEST.MF) > nested.jar

# The manifest stored (zip -0) with one byte of its data changed: fails its CRC check.
(cd "$t/game" && TZ=UTC zip -q -X -0 - META-INF/MANIFEST.MF FooMidlet.class) > crc.jar
python3 - <<'PY'
import zipfile, struct
with zipfile.ZipFile("crc.jar") as z:
    info = z.getinfo("META-INF/MANIFEST.MF")
data = bytearray(open("crc.jar", "rb").read())
n, e = struct.unpack("<HH", data[info.header_offset + 26:info.header_offset + 30])
data[info.header_offset + 30 + n + e + 20] ^= 0x20
open("crc.jar", "wb").write(data)
PY
