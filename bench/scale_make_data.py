#!/usr/bin/env python3
"""Writes N tiny MIDlet JARs (a deflated manifest and one class, about 1 KB
each) in folders of 1000, for the scale run of the batch benchmark.
    bench/scale_make_data.py DIR N"""
import io
import os
import sys
import zipfile


def main():
    out, count = sys.argv[1], int(sys.argv[2])
    stamp = (2009, 6, 1, 12, 0, 0)
    for i in range(count):
        folder = os.path.join(out, "f%03d" % (i // 1000))
        if i % 1000 == 0:
            os.makedirs(folder, exist_ok=True)
        manifest = ("Manifest-Version: 1.0\r\nMIDlet-Name: Tiny Game %d\r\nMIDlet-Version: 1.%d.%d\r\n"
                    "MIDlet-Vendor: Bench\r\nMIDlet-1: Tiny, /i.png, Main\r\n"
                    "MicroEdition-Profile: MIDP-2.0\r\nMicroEdition-Configuration: CLDC-1.1\r\n\r\n"
                    % (i, i % 10, i % 7))
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(zipfile.ZipInfo("META-INF/MANIFEST.MF", stamp), manifest, zipfile.ZIP_DEFLATED)
            z.writestr(zipfile.ZipInfo("Main.class", stamp), b"\xca\xfe\xba\xbe" + b"code%d" % i * 40,
                       zipfile.ZIP_DEFLATED)
        with open(os.path.join(folder, "t%06d.jar" % i), "wb") as f:
            f.write(buf.getvalue())


if __name__ == "__main__":
    main()
