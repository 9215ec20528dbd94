#!/usr/bin/env python3
"""Python's zipfile doing the checks of `parcelix check` over a folder of
JARs, for the check benchmark: every member decoded and CRC-checked, the
manifest's place and text, the MIDP attributes, classes and icons, and the
JAD beside each JAR. Prints "PATH: CODE" per finding.
    bench/check_zipfile.py DIR"""
import os
import re
import sys
import zipfile

REQUIRED = ["MIDlet-Name", "MIDlet-Version", "MIDlet-Vendor", "MIDlet-1", "MicroEdition-Profile",
            "MicroEdition-Configuration"]
VERSION = re.compile(r"^\d{1,2}\.\d{1,2}(\.\d{1,2})?$")
SPLIT = re.compile(rb"\r\n|\r|\n")


def attributes(text, main_only):
    attrs = {}
    for line in SPLIT.split(text):
        if not line:
            if main_only:
                break
            continue
        name, _, value = line.partition(b":")
        attrs.setdefault(name.strip().decode("utf-8", "replace"), value.strip().decode("utf-8", "replace"))
    return attrs


def check(path, out):
    try:
        z = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError):
        out.append("not-zip")
        return
    with z:
        infos = z.infolist()
        names = {i.filename for i in infos}
        manifest = None
        for info in infos:
            try:
                data = z.read(info)
            except (zipfile.BadZipFile, NotImplementedError, OSError, EOFError):
                out.append("bad-member")
                continue
            if info.filename == "META-INF/MANIFEST.MF":
                manifest = data
        if manifest is None:
            out.append("no-manifest")
            return
        first = [i.filename for i in infos[:2]]
        if first[0] != "META-INF/MANIFEST.MF" and first[:2] != ["META-INF/", "META-INF/MANIFEST.MF"]:
            out.append("manifest-not-first")
    lines = SPLIT.split(manifest)
    if manifest.startswith(b"\xef\xbb\xbf"):
        out.append("manifest-bom")
    if b"\0" in manifest:
        out.append("manifest-nul")
    if max(len(l) for l in lines) > 72:
        out.append("manifest-long-line")
    if not manifest.endswith((b"\n", b"\r")):
        out.append("manifest-no-final-newline")
    try:
        manifest.decode("utf-8")
    except UnicodeDecodeError:
        out.append("not-utf8")
    mf = attributes(manifest, True)
    jad_path = os.path.splitext(path)[0] + ".jad"
    jad = None
    if os.path.exists(jad_path):
        with open(jad_path, "rb") as f:
            jad = attributes(f.read(), False)
    for key in REQUIRED:
        if key not in mf and not (jad and key in jad):
            out.append("missing-attribute")
    if "MIDlet-Version" in mf and not VERSION.match(mf["MIDlet-Version"]):
        out.append("bad-version")
    for key, value in mf.items():
        if key == "MIDlet-Icon" and value and value.lstrip("/") not in names:
            out.append("missing-icon")
        if re.match(r"^MIDlet-\d+$", key):
            parts = [p.strip() for p in value.split(",")]
            if len(parts) < 3 or parts[2].replace(".", "/") + ".class" not in names:
                out.append("missing-class")
            if len(parts) >= 2 and parts[1] and parts[1].lstrip("/") not in names:
                out.append("missing-icon")
    if jad is not None:
        if jad.get("MIDlet-Jar-Size") != str(os.path.getsize(path)):
            out.append("jad-size-mismatch")
        if jad.get("MIDlet-Jar-URL") != os.path.basename(path):
            out.append("jad-url-mismatch")
        for key, code in [("MIDlet-Name", "jad-name-mismatch"), ("MIDlet-Version", "jad-version-mismatch"),
                          ("MIDlet-Vendor", "jad-vendor-mismatch")]:
            if jad.get(key) != mf.get(key):
                out.append(code)


def main():
    folder = sys.argv[1]
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            if name.lower().endswith(".jar"):
                path = os.path.join(root, name)
                found = []
                check(path, found)
                for code in found:
                    print(f"{path}: {code}")


if __name__ == "__main__":
    main()
