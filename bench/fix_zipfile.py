#!/usr/bin/env python3
"""Rewrites a ZIP by raw copies of its members (local header and data as
they are, read through python's zipfile directory), the manifest moved to
the front or, with --manifest-last, to the end; offsets and the directory
written anew. The peer of `parcelix fix` in bench/fix_bench.sh, and how it
makes its manifest-last JARs.
    bench/fix_zipfile.py IN OUT [--manifest-last]"""
import struct
import sys
import zipfile

MANIFEST = "META-INF/MANIFEST.MF"


def main():
    src, dst = sys.argv[1], sys.argv[2]
    last = "--manifest-last" in sys.argv[3:]
    with zipfile.ZipFile(src) as z:
        infos = z.infolist()
    infos.sort(key=lambda i: (i.filename == MANIFEST) if last else (i.filename != MANIFEST))
    central = bytearray()
    with open(src, "rb") as f, open(dst, "wb") as out:
        for info in infos:
            f.seek(info.header_offset)
            local = f.read(30)
            n, e = struct.unpack("<HH", local[26:30])
            offset = out.tell()
            out.write(local + f.read(n + e))
            left = info.compress_size
            while left > 0:
                chunk = f.read(min(left, 1 << 20))
                out.write(chunk)
                left -= len(chunk)
            name = info.filename.encode("utf-8")
            central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, info.create_version, info.extract_version,
                                   info.flag_bits, info.compress_type, *_dos(info.date_time), info.CRC,
                                   info.compress_size, info.file_size, len(name), 0, 0, 0, 0,
                                   info.external_attr, offset) + name
        start = out.tell()
        out.write(central)
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(infos), len(infos), len(central), start, 0))


def _dos(dt):
    y, mo, d, h, mi, s = dt
    return (h << 11) | (mi << 5) | (s // 2), ((y - 1980) << 9) | (mo << 5) | d


if __name__ == "__main__":
    main()
