#!/usr/bin/env python3
"""Scenario tests of `parcelix check`: one JAR per finding code, made by the
JDK's jar, Info-ZIP zip, 7-Zip (Deflate64), python's zipfile or crafted
bytes; JADs judged by an independent reader of the MIDP JAD rules written
here; the text, JSON and CSV shapes; exit codes; duplicates and the Trash."""
import base64
import csv
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import urllib.parse
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import (Checker, member_data_span, midlet_manifest, new_jar, require_program, run,  # noqa: E402
                  scratch)

require_program()
c = Checker()
work, ENV = scratch("parcelix-check-")


def check(*args):
    code, out, err = run(["check"] + list(args), ENV)
    return code, out, err


def json_results(*args):
    code, out, err = check("--json", *args)
    return code, [json.loads(line) for line in out.splitlines()], err


def codes_of(path):
    code, results, err = json_results(path)
    c.eq(len(results), 1, f"{path}: one JSON object ({err.strip()})")
    return code, {f["code"] for f in results[0]["findings"]} if results else set(), results[0] if results else {}


def jar_from(maker, manifest, name, folder, with_manifest=True):
    return new_jar(work, maker, manifest, folder, name, with_manifest)


def zip_of(path, members, method=zipfile.ZIP_DEFLATED):
    """A JAR written by python's zipfile, members in the order given."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", method) as z:
        for name, data in members:
            z.writestr(name, data)
    return path


def suite_members(manifest):
    return [("META-INF/MANIFEST.MF", manifest), ("GameMidlet.class", b"\xca\xfe\xba\xbe" + b"x" * 500),
            ("i.png", b"\x89PNG" + b"p" * 100)]


def read_jad(path):
    """The MIDP JAD rules, independently: UTF-8 lines "Name: value" ending in
    CR LF, LF or CR, blanks around the value dropped; a line that begins with
    a space continues the one before (as in a manifest), which a phone may
    not accept."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    pairs, continued = [], False
    for line in re.split(r"\r\n|\r|\n", text):
        if not line:
            continue
        if line[0] == " " and pairs:
            continued = True
            pairs[-1][1] += line[1:]
            continue
        name, _, value = line.partition(":")
        pairs.append([name.strip(), value])
    attrs = {}
    for name, value in pairs:
        attrs.setdefault(name, value.strip(" \t"))
    return attrs, continued


def manifest_main(jar):
    with zipfile.ZipFile(jar) as z:
        text = z.read("META-INF/MANIFEST.MF").decode("utf-8")
    attrs = {}
    for line in re.split(r"\r\n|\r|\n", text):
        if not line:
            break
        name, _, value = line.partition(":")
        attrs.setdefault(name.strip(), value.strip())
    return attrs


def expected_jad_codes(jar, jad):
    """What the JAD beside the JAR should give, by the rules above."""
    attrs, continued = read_jad(jad)
    mf = manifest_main(jar)
    want = set()
    if attrs.get("MIDlet-Jar-Size") != str(os.path.getsize(jar)):
        want.add("jad-size-mismatch")
    url = attrs.get("MIDlet-Jar-URL", "")
    if "://" in url:
        want.add("jad-url-absolute")
    elif os.path.normpath(os.path.join(os.path.dirname(jad), urllib.parse.unquote(url))) != os.path.normpath(jar):
        want.add("jad-url-mismatch")
    for key, code in [("MIDlet-Name", "jad-name-mismatch"), ("MIDlet-Version", "jad-version-mismatch"),
                      ("MIDlet-Vendor", "jad-vendor-mismatch")]:
        if attrs.get(key) != mf.get(key):
            want.add(code)
    if continued:
        want.add("jad-continuation")
    return want


# ---------------------------------------------------------------- sound JARs of every maker
sound = os.path.join(work, "sound")
for maker in ["jdk", "infozip", "python", "python-zip64"]:
    jar = jar_from(maker, midlet_manifest("Foo Bar", "1.0.2"), maker + ".jar", sound)
    if jar is None:
        print("skipping", maker, "(tool missing)")
        continue
    code, codes, result = codes_of(jar)
    c.eq((code, codes), (0, set()), f"{maker}: a sound JAR has no findings")
    c.eq(list(result.keys()), ["path", "size", "name", "vendor", "version", "jad", "findings"],
         f"{maker}: JSON fields")
    c.eq((result.get("size"), result.get("name"), result.get("version"), result.get("vendor"), result.get("jad")),
         (os.path.getsize(jar), "Foo Bar", "1.0.2", "Parcelix Tests", None), f"{maker}: JSON values")
    # An independent reader agrees that the archive is sound.
    c.eq(subprocess.run(["unzip", "-tq", jar], capture_output=True).returncode, 0, f"{maker}: unzip -t")

# ---------------------------------------------------------------- one JAR per finding code
good_mf = midlet_manifest("Foo Bar", "1.0.2")
d = os.path.join(work, "codes")
cases = []  # (code, path)


def case(code, path):
    if path:
        cases.append((code, path))


base = zip_of(os.path.join(d, "base.jar"), suite_members(good_mf), zipfile.ZIP_STORED)


def variant(name, mutate):
    path = os.path.join(d, name)
    with open(base, "rb") as f:
        data = bytearray(f.read())
    with open(path, "wb") as f:
        f.write(mutate(data))
    return path


off, length = member_data_span(base, "GameMidlet.class")
case("not-zip", variant("notzip.jar", lambda b: b"This is no archive at all.\n" * 20))
case("truncated", variant("cut.jar", lambda b: b[:len(b) * 2 // 3]))
case("crc-error", variant("crc.jar", lambda b: b[:off + 10] + bytes([b[off + 10] ^ 0x55]) + b[off + 11:]))
case("prefix-bytes", variant("prefix.jar", lambda b: b"#!/bin/sh\nexit 0\n" + b))


def patch_all(data, sig, at, value, size):
    """Writes value into every record with that signature, at offset `at`."""
    pos = data.find(sig)
    while pos >= 0:
        data[pos + at:pos + at + size] = value.to_bytes(size, "little")
        pos = data.find(sig, pos + 4)
    return data


def method_14(b):
    # Every header says LZMA (method 14), which Java cannot read.
    start = b.find(b"PK\x03\x04", off - 60)
    b[start + 8:start + 10] = struct.pack("<H", 14)
    cen = b.rfind(b"GameMidlet.class") - 46
    b[cen + 10:cen + 12] = struct.pack("<H", 14)
    return b


case("bad-member", variant("method14.jar", method_14))


def wrong_offset(b):
    end = b.rfind(b"PK\x05\x06")
    b[end + 16:end + 20] = struct.pack("<I", struct.unpack("<I", b[end + 16:end + 20])[0] - 9)
    return b


case("bad-directory-offset", variant("offset.jar", wrong_offset))
# Bit 3 ("a data descriptor follows") set in every header, and none written.
case("descriptor-flag-without-descriptor",
     variant("nodesc.jar", lambda b: patch_all(patch_all(b, b"PK\x03\x04", 6, 8, 2), b"PK\x01\x02", 8, 8, 2)))
case("deflate64", jar_from("7z-deflate64", good_mf, "d64.jar", d))
case("no-manifest", jar_from("infozip", good_mf, "nomf.jar", d, with_manifest=False))
case("manifest-misnamed", zip_of(os.path.join(d, "misnamed.jar"),
                                 [("MANIFEST.MF", good_mf)] + suite_members(good_mf)[1:]))
case("manifest-not-first", zip_of(os.path.join(d, "late.jar"), list(reversed(suite_members(good_mf)))))
case("manifest-bom", zip_of(os.path.join(d, "bom.jar"), suite_members(b"\xef\xbb\xbf" + good_mf)))
case("manifest-nul", zip_of(os.path.join(d, "nul.jar"), suite_members(good_mf + b"X-A: \0\r\n")))
case("manifest-long-line", zip_of(os.path.join(d, "long.jar"),
                                  suite_members(good_mf.replace(b"Tests", b"Tests" + b"s" * 600))))
case("manifest-no-final-newline", zip_of(os.path.join(d, "noeol.jar"), suite_members(good_mf.rstrip(b"\r\n"))))
case("not-utf8", zip_of(os.path.join(d, "latin1.jar"), suite_members(good_mf.replace(b"Tests", b"T\xe9sts"))))
# A manifest in a legacy code page: name, vendor and version are shown as
# UTF-8 read in the page the detector picks, and the finding names it.
for page, name, vendor in [("windows-1251", "Игра Змейка", "Мобильные игры"), ("gbk", "贪吃蛇大作战", "北京游戏公司"),
                           ("shift_jis", "テトリス対戦", "東京ゲーム株式会社")]:
    legacy = midlet_manifest(None, "1.0").decode().replace("Parcelix Tests", vendor)
    legacy = legacy.replace("Manifest-Version: 1.0\r\n", "Manifest-Version: 1.0\r\nMIDlet-Name: " + name + "\r\n")
    jar_path = zip_of(os.path.join(d, "legacy-" + page + ".jar"), suite_members(legacy.encode(page)))
    code, results, err = json_results(jar_path)
    r = results[0] if results else {}
    c.eq((r.get("name"), r.get("vendor")), (name, vendor), f"check shows a {page} manifest's name and vendor in UTF-8")
    texts = [f["text"] for f in r.get("findings", []) if f["code"] == "not-utf8"]
    c.check(texts and f"likely {page}".lower() in texts[0].lower(), f"not-utf8 names {page}: {texts}")
case("missing-attribute", zip_of(os.path.join(d, "noname.jar"), suite_members(midlet_manifest(None, "1.0"))))
case("bad-version", zip_of(os.path.join(d, "version.jar"), suite_members(midlet_manifest("V", "1.0.0.1"))))
case("missing-class", zip_of(os.path.join(d, "noclass.jar"),
                             suite_members(good_mf.replace(b"GameMidlet", b"com.x.Lost"))))
case("missing-icon", zip_of(os.path.join(d, "noicon.jar"), suite_members(good_mf.replace(b"/i.png", b"/lost.png"))))

for code, path in cases:
    status, codes, result = codes_of(path)
    c.check(code in codes, f"{os.path.basename(path)}: {code} among {sorted(codes)}")
    severities = {f["severity"] for f in result.get("findings", [])}
    c.eq(status, 1 if "error" in severities else 0, f"{os.path.basename(path)}: exit status")

# The archive findings agree with Info-ZIP's unzip: every JAR it fails has an error.
for code, path in cases:
    if code in ("crc-error", "truncated", "not-zip", "bad-member", "descriptor-flag-without-descriptor"):
        c.check(subprocess.run(["unzip", "-tq", path], capture_output=True).returncode != 0,
                f"unzip -t also fails {os.path.basename(path)}")

# ---------------------------------------------------------------- JADs, judged by the reader above
jd = os.path.join(work, "jads")
jar = zip_of(os.path.join(jd, "Game.jar"), suite_members(good_mf))
size = os.path.getsize(jar)
good_jad = ("MIDlet-Name: Foo Bar\r\nMIDlet-Version: 1.0.2\r\nMIDlet-Vendor: Parcelix Tests\r\n"
            "MIDlet-Jar-URL: Game.jar\r\nMIDlet-Jar-Size: %d\r\n" % size)
jads = [
    ("as it should be", good_jad),
    ("LF line ends", good_jad.replace("\r\n", "\n")),
    ("size off by one", good_jad.replace(str(size), str(size + 1))),
    ("another JAR", good_jad.replace("Game.jar", "Other.jar")),
    ("escaped URL", good_jad.replace("Game.jar", "./Game%2Ejar")),
    ("absolute URL", good_jad.replace("Game.jar", "http://example.org/Game.jar")),
    ("other name", good_jad.replace("Foo Bar", "Foo Baz")),
    ("other version", good_jad.replace("1.0.2", "1.0.3")),
    ("other vendor", good_jad.replace("Parcelix Tests", "Someone")),
    ("continued", good_jad.replace("Parcelix Tests", "Parcelix\r\n  Tests")),
]
for what, text in jads:
    jad = os.path.join(jd, "Game.jad")
    with open(jad, "w", newline="") as f:
        f.write(text)
    status, codes, result = codes_of(jar)
    want = expected_jad_codes(jar, jad)
    c.eq(codes - {"missing-attribute"}, want, f"JAD {what}: codes")
    c.eq(result.get("jad"), jad, f"JAD {what}: its path in the JSON")
    c.eq(status, 1 if want - {"jad-url-absolute", "jad-continuation"} else 0, f"JAD {what}: exit status")
# --fix brings a stale JAD up to date (size and URL), every other line kept
# byte for byte; a JAD that fits is not touched.
for what, text in [("size off by one", good_jad.replace(str(size), str(size + 1))),
                   ("another JAR", good_jad.replace("Game.jar", "Other.jar")),
                   ("LF ends, stale size, extra line", good_jad.replace(str(size), "7").replace("\r\n", "\n")
                    + "MIDlet-Jar-RSA-SHA1: c2lnbmF0dXJl\n"),
                   ("as it should be", good_jad)]:
    jad = os.path.join(jd, "Game.jad")
    with open(jad, "w", newline="") as f:
        f.write(text)
    before = os.stat(jad)
    code, out, err = check("--fix", "--json", jar)
    result = json.loads(out.splitlines()[0]) if out.strip() else {}
    codes = {f["code"] for f in result.get("findings", [])}
    attrs, _ = read_jad(jad)
    c.eq(attrs.get("MIDlet-Jar-Size"), str(size), f"--fix, {what}: MIDlet-Jar-Size is the JAR's size")
    c.eq(attrs.get("MIDlet-Jar-URL"), "Game.jar", f"--fix, {what}: MIDlet-Jar-URL names the JAR")
    c.check(not codes & {"jad-size-mismatch", "jad-url-mismatch"}, f"--fix, {what}: no mismatch left ({codes})")
    with open(jad, newline="") as f:
        after = f.read()
    kept = [l for l in text.splitlines(True) if not l.startswith(("MIDlet-Jar-Size", "MIDlet-Jar-URL"))]
    c.eq([l for l in after.splitlines(True) if not l.startswith(("MIDlet-Jar-Size", "MIDlet-Jar-URL"))], kept,
         f"--fix, {what}: every other line kept as it was")
    if what == "as it should be":
        c.eq((os.stat(jad).st_ino, os.stat(jad).st_mtime_ns), (before.st_ino, before.st_mtime_ns),
             "--fix: a JAD that fits is not written")
        c.check("jad-fixed" not in codes, "--fix: nothing to say for a JAD that fits")
    else:
        c.check("jad-fixed" in codes, f"--fix, {what}: says the JAD was fixed")
with open(os.path.join(jd, "Game.jad"), "wb") as f:
    f.write(good_jad.encode() + b"MIDlet-Description: caf\xe9\r\n")
c.check("not-utf8" in codes_of(jar)[1], "JAD not UTF-8")

# ---------------------------------------------------------------- output shapes
code, out, err = check(d)
lines = out.splitlines()
summary_at = next((i for i, l in enumerate(lines) if re.match(r"^\d+ JARs checked: ", l)), None)
c.check(summary_at is not None, "text: summary line")
finding_re = re.compile(r"^(.+\.jar): (error|warning|info): ([a-z0-9-]+): .+$")
for line in lines[:summary_at]:
    c.check(finding_re.match(line) is not None, f"text: finding line shape: {line!r}")
counted = {}
for line in lines[:summary_at]:
    m = finding_re.match(line)
    if m:
        counted[m.group(3)] = counted.get(m.group(3), 0) + 1
summary = {}
for line in lines[summary_at + 1:] if summary_at is not None else []:
    m = re.match(r"^  ([a-z0-9-]+): (\d+)$", line)
    c.check(m is not None, f"text: summary row shape: {line!r}")
    if m:
        summary[m.group(1)] = int(m.group(2))
c.eq(summary, counted, "text: the summary counts the lines per code")
c.eq(code, 1, "text: exit 1 with errors")

code, out, err = check("--csv", d)
rows = list(csv.reader(io.StringIO(out)))
c.eq(rows[0], ["path", "size", "sha256", "name", "vendor", "version", "jad", "errors", "warnings", "codes"],
     "csv: header")
c.eq(len(rows) - 1, len([f for f in os.listdir(d) if f.endswith(".jar")]), "csv: one row per JAR")
by_path = {r[0]: r for r in rows[1:]}
row = by_path.get(os.path.join(d, "noicon.jar"), [])
c.eq(row[3:6] + row[7:], ["Foo Bar", "Parcelix Tests", "1.0.2", "0", "1", "missing-icon"], "csv: a row")

code, out, err = check("-q", d)
c.check(all(" error: " in l for l in out.splitlines()), "-q: only the errors")

# ---------------------------------------------------------------- usage
for args, what in [([], "no PATH"), (["--json", "--csv", d], "--json with --csv"), (["--fixx", d], "unknown option")]:
    code, out, err = check(*args)
    c.eq(code, 2, f"usage: {what}")
code, out, err = check(os.path.join(work, "missing.jar"))
c.eq(code, 1, "a path that does not exist")
c.check("parcelix: " in err and "not found" in err, "a path that does not exist is told")
code, out, err = check("-r", sound)
c.eq(code, 0, "-r over sound JARs")

# ---------------------------------------------------------------- duplicates and the Trash
dd = os.path.join(work, "dups")
a = zip_of(os.path.join(dd, "b.jar"), suite_members(good_mf))
shutil.copy(a, os.path.join(dd, "a.jar"))
shutil.copy(a, os.path.join(dd, "Foo Bar 1.0.2.jar"))  # rename's name: the one kept
zip_of(os.path.join(dd, "c.jar"), suite_members(good_mf + b"X-Other: 1\r\n"))
code, results, err = json_results("--duplicates", dd)
if "not available" in err:
    print("skipping duplicates (no digests in this build)")
else:
    found = {os.path.basename(r["path"]): {f["code"] for f in r["findings"]} for r in results}
    c.eq(found, {"Foo Bar 1.0.2.jar": {"duplicate", "same-suite"}, "a.jar": {"duplicate", "same-suite"},
                 "b.jar": {"duplicate", "same-suite"}, "c.jar": {"same-suite"}}, "duplicates: groups")
    c.check(all(len(r.get("sha256", "")) == 64 for r in results), "duplicates: sha256 in the JSON")
    trash = os.path.join(work, "xdg")
    env = dict(ENV, XDG_DATA_HOME=trash)
    code, out, err = run(["check", "--trash-duplicates", dd], env)
    c.eq(sorted(os.listdir(dd)), ["Foo Bar 1.0.2.jar", "c.jar"], "trash: rename's name kept")
    c.eq(sorted(os.listdir(os.path.join(trash, "Trash", "files"))), ["a.jar", "b.jar"], "trash: the others moved")
    c.eq(sorted(os.listdir(os.path.join(trash, "Trash", "info"))), ["a.jar.trashinfo", "b.jar.trashinfo"],
         "trash: restorable")

# ---------------------------------------------------------------- signatures
# Both kinds of signature, made here with OpenSSL and the JDK's tools, hold
# on the JAR as signed and break when the JAR or its manifest changes. The
# digests come from the same module as the signature checks: without them
# this build has no signature checks either.
def sign_midp(jar, jad, key, cert_der):
    """The MIDP way: SHA1withRSA over the JAR's bytes, the signature and the
    certificate base64 in the JAD."""
    sig = subprocess.run(["openssl", "dgst", "-sha1", "-sign", key, jar], capture_output=True, check=True).stdout
    with open(cert_der, "rb") as f:
        cert = f.read()
    with open(jad, "w", newline="") as f:
        f.write("MIDlet-Name: Foo Bar\r\nMIDlet-Version: 1.0.2\r\nMIDlet-Vendor: Parcelix Tests\r\n"
                "MIDlet-Jar-URL: %s\r\nMIDlet-Jar-Size: %d\r\nMIDlet-Certificate-1-1: %s\r\n"
                "MIDlet-Jar-RSA-SHA1: %s\r\n" % (os.path.basename(jar), os.path.getsize(jar),
                                                   base64.b64encode(cert).decode(), base64.b64encode(sig).decode()))


def midp_signature_holds(jar, jad):
    """OpenSSL's verdict on the JAD's signature over the JAR's bytes."""
    attrs, _ = read_jad(jad)
    cert = os.path.join(work, "jad-cert.der")
    with open(cert, "wb") as f:
        f.write(base64.b64decode(attrs["MIDlet-Certificate-1-1"]))
    pub = subprocess.run(["openssl", "x509", "-inform", "DER", "-in", cert, "-pubkey", "-noout"],
                         capture_output=True, check=True).stdout
    with open(cert + ".pub", "wb") as f:
        f.write(pub)
    with open(cert + ".sig", "wb") as f:
        f.write(base64.b64decode(attrs["MIDlet-Jar-RSA-SHA1"]))
    return subprocess.run(["openssl", "dgst", "-sha1", "-verify", cert + ".pub", "-signature", cert + ".sig", jar],
                          capture_output=True).returncode == 0


def rewrite_manifest(jar, extra):
    """The JAR again, members in their order, the manifest with a line more."""
    with zipfile.ZipFile(jar) as z:
        members = [(i, z.read(i)) for i in z.infolist()]
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in members:
            if info.filename == "META-INF/MANIFEST.MF":
                data = data.replace(b"\r\n\r\n", b"\r\n" + extra + b"\r\n\r\n", 1)
            z.writestr(info, data)


sd = os.path.join(work, "signed")
os.makedirs(sd)
code, out, err = check("--duplicates", zip_of(os.path.join(sd, "probe.jar"), suite_members(good_mf)))
os.remove(os.path.join(sd, "probe.jar"))
if "not available" in err or not shutil.which("openssl"):
    print("skipping signatures (no signature checks in this build, or no openssl)")
else:
    key, pem, der = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "cert.der"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", pem,
                    "-subj", "/CN=Parcelix Test Signer", "-days", "365"], capture_output=True, check=True)
    subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER", "-out", der], check=True)
    midp = zip_of(os.path.join(sd, "Midp.jar"), suite_members(good_mf))
    sign_midp(midp, os.path.join(sd, "Midp.jad"), key, der)
    c.eq(midp_signature_holds(midp, os.path.join(sd, "Midp.jad")), True, "OpenSSL verifies the MIDP signature made")
    c.check("signature-valid" in codes_of(midp)[1], "MIDP signature: valid as signed")
    with zipfile.ZipFile(midp, "a") as z:
        z.writestr("extra.txt", b"added after signing")
    c.eq(midp_signature_holds(midp, os.path.join(sd, "Midp.jad")), False, "OpenSSL: broken after the change")
    c.check("signature-broken" in codes_of(midp)[1], "MIDP signature: broken after the JAR changed")
    if shutil.which("jarsigner") and shutil.which("keytool"):
        store = os.path.join(work, "store.p12")
        subprocess.run(["keytool", "-genkeypair", "-keystore", store, "-storetype", "PKCS12", "-storepass", "secret",
                        "-keypass", "secret", "-alias", "t", "-dname", "CN=Parcelix Test", "-keyalg", "RSA",
                        "-validity", "365"], capture_output=True, check=True)
        java = zip_of(os.path.join(sd, "Java.jar"), suite_members(good_mf))
        subprocess.run(["jarsigner", "-keystore", store, "-storepass", "secret", java, "t"], capture_output=True,
                       check=True)
        verified = subprocess.run(["jarsigner", "-verify", java], capture_output=True, text=True)
        c.check("jar verified" in verified.stdout, "jarsigner -verify agrees the JAR is signed")
        c.check("signature-valid" in codes_of(java)[1], "Java signature: intact as signed")
        rewrite_manifest(java, b"X-Changed: 1")
        c.check("signature-broken" in codes_of(java)[1], "Java signature: broken after the manifest changed")

# Workers examine the JARs, the report keeps the path order: any number of
# threads prints the same bytes as one, over every JAR made above (damaged,
# signed, duplicated, with and without JADs).
outputs = {}
for jobs in ("1", "2", "7"):
    for form in ("--json", "--csv", "--duplicates"):
        outputs[(jobs, form)] = check("-r", "-j", jobs, form, work)
for form in ("--json", "--csv", "--duplicates"):
    one = outputs[("1", form)]
    c.check(len(one[1].splitlines()) > 30, f"check -r {form}: the whole corpus was reported")
    for jobs in ("2", "7"):
        c.eq(outputs[(jobs, form)], one, f"check -r -j {jobs} {form} prints what -j 1 prints")
code, out, err = check("-j", "0", work)
c.eq(code, 2, f"-j 0 is refused as a usage error ({err.strip()})")

c.finish()
