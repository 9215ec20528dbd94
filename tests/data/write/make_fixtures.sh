#!/usr/bin/env bash
# Rebuilds the writer's update fixtures from scratch with independent tools
# (the JDK's jar, Info-ZIP zip, python's zipfile). Run from anywhere; needs
# jar, zip and python3. The results are committed; rerunning changes dates.
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# A small MIDlet-like tree.
mkdir -p tree/res tree/META-INF
python3 - <<'PY'
import random
random.seed(7)
open('tree/hello.txt', 'w').write('Hello, collector!\n' * 120)
open('tree/res/icon.png', 'wb').write(bytes(random.randrange(256) for _ in range(600)))
open('tree/res/empty.txt', 'wb').close()
open('tree/META-INF/MANIFEST.MF', 'wb').write(b'Manifest-Version: 1.0\r\nMIDlet-Name: Old Game\r\nMIDlet-Version: 1.0\r\n\r\n')
PY

# 1. The JDK's jar: deflated entries with data descriptors (flag bit 3).
(cd tree && jar cfm "$work/jar_descriptors.jar" META-INF/MANIFEST.MF hello.txt res)

# 2. Info-ZIP zip without a manifest: directory entries, extra fields UT/ux.
(cd tree && zip -q -r -X- "$work/infozip_noman.zip" hello.txt res)

# 3. python writing to a stream it cannot seek: data descriptors with the
#    signature, one entry with zip64 sizes (24-byte descriptor).
python3 - <<'PY'
import zipfile, io
class Pipe(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open('pystream_zip64.zip', 'wb') as raw:
    with zipfile.ZipFile(Pipe(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        with z.open('META-INF/MANIFEST.MF', 'w') as m:
            m.write(open('tree/META-INF/MANIFEST.MF', 'rb').read())
        with z.open('big/hello.txt', 'w', force_zip64=True) as m:
            m.write(open('tree/hello.txt', 'rb').read())
        z.writestr(zipfile.ZipInfo('stored.bin'), open('tree/res/icon.png', 'rb').read())
PY

# 4. A stub in front (offsets not adjusted, as a plain `cat` makes them), an
#    entry comment and an archive comment.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile('commented.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('META-INF/MANIFEST.MF', open('tree/META-INF/MANIFEST.MF', 'rb').read())
    i = zipfile.ZipInfo('notes.txt'); i.comment = b'an entry comment'; i.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(i, 'notes ' * 50)
    z.comment = b'archive comment kept by updates'
PY
printf '#!/bin/sh\necho self-extracting stub\nexit 0\n' > stub
cat stub commented.zip > prefixed_comment.zip

# 5. The same with offsets adjusted to the stub (zip -A).
cp prefixed_comment.zip prefixed_adjusted.zip
zip -q -A prefixed_adjusted.zip

# 6. Hand-made: the central directory keeps the local-header offset in a
#    zip64 block (32-bit field 0xFFFFFFFF), as large archives do.
python3 - <<'PY'
import struct, zlib
entries = [('META-INF/MANIFEST.MF', open('tree/META-INF/MANIFEST.MF', 'rb').read()), ('a.txt', b'abc' * 40)]
out = bytearray(); central = bytearray()
for name, data in entries:
    off = len(out)
    crc = zlib.crc32(data); n = name.encode()
    out += struct.pack('<IHHHIIIIHH', 0x04034B50, 45, 0, 0, 0x00210000, crc, len(data), len(data), len(n), 0) + n + data
    extra = struct.pack('<HHQ', 1, 8, off)
    central += struct.pack('<IHHHHIIIIHHHHHII', 0x02014B50, 45, 45, 0, 0, 0x00210000, crc, len(data), len(data),
                           len(n), len(extra), 0, 0, 0, 0, 0xFFFFFFFF) + n + extra
cd = len(out); out += central
out += struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(entries), len(entries), len(central), cd, 0)
open('zip64_offsets.zip', 'wb').write(out)
PY

# 7. Entries far apart (tens of KiB of stored data each), with local extra
#    fields longer than a small header read and data descriptors with the
#    signature: the update reads each local header on its own.
python3 - <<'PY'
import random, struct, zlib
random.seed(11)
out = bytearray(); central = bytearray(); count = 0
def add(name, data, local_extra_len, streamed):
    global out, central, count
    off = len(out); n = name.encode(); crc = zlib.crc32(data)
    lextra = struct.pack('<HH', 0x7A7A, local_extra_len - 4) + bytes(random.randrange(256) for _ in range(local_extra_len - 4))
    flags = 8 if streamed else 0
    lcrc, lsize = (0, 0) if streamed else (crc, len(data))
    out += struct.pack('<IHHHIIIIHH', 0x04034B50, 20, flags, 0, 0x00210000, lcrc, lsize, lsize, len(n), len(lextra)) + n + lextra + data
    if streamed:
        out += struct.pack('<IIII', 0x08074B50, crc, len(data), len(data))
    central += struct.pack('<IHHHHIIIIHHHHHII', 0x02014B50, 20, 20, flags, 0, 0x00210000, crc, len(data), len(data),
                           len(n), 0, 0, 0, 0, 0, off) + n
    count += 1
add('META-INF/MANIFEST.MF', open('tree/META-INF/MANIFEST.MF', 'rb').read(), 8, False)
for i in range(5):
    add('res/blob%d.bin' % i, bytes(random.randrange(256) for _ in range(20000 + 3000 * i)), 600 + 300 * i, i % 2 == 0)
cd = len(out); out += central
out += struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), cd, 0)
open('far_apart.zip', 'wb').write(out)
PY

cp jar_descriptors.jar infozip_noman.zip pystream_zip64.zip prefixed_comment.zip prefixed_adjusted.zip zip64_offsets.zip \
  far_apart.zip "$out/"
