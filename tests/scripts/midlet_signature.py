#!/usr/bin/env python3
"""Signed suites and JAD updates through the command line: a MIDP suite signed
with the openssl command line and a JAR signed by the JDK's jarsigner verify
as valid, are not saved without --break-signature, and verify as broken after
a save with it (openssl and jarsigner agree each time); `jad --update` is
checked by a MIDP JAD parser of this script's own. The signature checks run
through parcelix-signature-probe, built beside the program, which loads the
crypto module as the program does."""
import datetime
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import Checker, have, midlet_manifest, require_program, run, scratch, write_ini  # noqa: E402

require_program()
c = Checker()
PROBE = os.path.join(os.path.dirname(os.environ["PARCELIX"]), "parcelix-signature-probe")
if not os.access(PROBE, os.X_OK):
    print("parcelix-signature-probe is not built beside the program", file=sys.stderr)
    sys.exit(1)
work, ENV = scratch("parcelix-signature-")
write_ini(ENV["PARCELIX_INI"], rename=False, jad=False, backup=False)


def parse_jad(data):
    """The MIDP rules: lines end in CR, LF or CR LF; an attribute is a name, a
    colon and a value with white space around it trimmed."""
    attrs = []
    for line in data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n"):
        if line.startswith(b"\xef\xbb\xbf"):
            line = line[3:]
        if b":" in line:
            name, value = line.split(b":", 1)
            attrs.append((name.decode("latin-1"), value.strip(b" \t").decode("latin-1")))
    return attrs


def line_ends(data):
    ends, i = [], 0
    while i < len(data):
        if data[i:i + 2] == b"\r\n":
            ends.append(b"\r\n")
            i += 2
        elif data[i:i + 1] in (b"\r", b"\n"):
            ends.append(data[i:i + 1])
            i += 1
        else:
            i += 1
    return ends


def make_jar(path, name="Game"):
    import zipfile
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("META-INF/MANIFEST.MF", midlet_manifest(name, "1.0"))
        z.writestr("Game.class", b"\xca\xfe\xba\xbe" + bytes(300))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def tool(*args, **kw):
    return subprocess.run(list(args), capture_output=True, cwd=work, **kw)


def verdicts(jar):
    """The signature findings of a JAR: [(code, text)]."""
    p = subprocess.run([PROBE, jar], capture_output=True)
    c.eq(p.returncode, 0, f"probe on {jar}: {p.stderr!r}")
    found = []
    for line in p.stdout.decode("utf-8", "replace").splitlines():
        rest = line[len(jar) + 2:].split(": ", 2)
        found.append((rest[1], rest[2]))
    return found


def jarsigner_verifies(jar):
    """jarsigner's verdict on the signature (a self-signed signer is no failure here)."""
    r = tool("jarsigner", "-verify", jar)
    return r.returncode == 0 and b"jar verified." in r.stdout


def openssl_day(cert, which):
    """notBefore/notAfter of a certificate as openssl prints it, as YYYY-MM-DD."""
    out = tool("openssl", "x509", "-in", cert, "-noout", "-" + which, check=True).stdout.decode()
    when = datetime.datetime.strptime(out.split("=", 1)[1].strip(), "%b %d %H:%M:%S %Y %Z")
    return when.strftime("%Y-%m-%d")


# ---- jad --update: table of JADs, each checked by the parser above ----
# (name, JAD bytes, the URL wanted: None for the JAR's file name)
SIG = b"MIDlet-Jar-RSA-SHA1: c2lnbmF0dXJl\r\nMIDlet-Certificate-1-1: Y2VydA==\r\n"
CASES = [
    ("crlf", b"MIDlet-Name: Game\r\nMIDlet-Jar-Size: 1\r\nMIDlet-Jar-URL: old.jar\r\nMIDlet-Vendor: V\r\n" + SIG, None),
    ("lf_no_final_newline", b"MIDlet-Jar-URL: Game.jar\nMIDlet-Name: Game\nMIDlet-Jar-Size: 99", None),
    ("cr_only", b"MIDlet-Jar-Size: 5\rMIDlet-Name: Game\r", None),
    ("mixed_ends", b"MIDlet-Name: Game\r\nMIDlet-Jar-Size:7\nMIDlet-Vendor: V\r", None),
    ("missing_both", b"MIDlet-Name: Game\nMIDlet-Version: 1.0\n", None),
    ("empty_file", b"", None),
    ("absolute_url_kept", b"MIDlet-Jar-URL: http://example.org/g/Game.jar\r\nMIDlet-Jar-Size: 3\r\n",
     "http://example.org/g/Game.jar"),
    ("escaped_url_kept", b"MIDlet-Jar-URL: My%20Game.jar\r\nMIDlet-Jar-Size: 3\r\n", "My%20Game.jar"),
    ("url_with_folder", b"MIDlet-Jar-URL: games/Game.jar\r\nMIDlet-Jar-Size: 3\r\n", None),
    ("size_folded", b"MIDlet-Jar-Size: 12\r\n 34\r\nMIDlet-Name: Game\r\n", None),
    ("twice", b"MIDlet-Jar-Size: 1\r\nMIDlet-Jar-Size: 2\r\nMIDlet-Name: Game\r\n", None),
    ("bom", b"\xef\xbb\xbfMIDlet-Jar-Size: 1\r\nMIDlet-Name: Game\r\n", None),
    ("binary_junk_kept", b"MIDlet-Name: G\x00me\xff\r\nMIDlet-Jar-Size: 1\r\n", None),
]
for case, jad_bytes, want_url in CASES:
    d = os.path.join(work, "update-" + case)
    os.makedirs(d)
    jar_name = "My Game.jar" if case == "escaped_url_kept" else "Game.jar"
    jar = os.path.join(d, jar_name)
    make_jar(jar)
    jad = jar[:-4] + ".jad"
    write(jad, jad_bytes)
    code, out, err = run(["jad", "--update", jar], ENV)
    c.eq(code, 0, f"{case}: exit status ({err})")
    new = read(jad)
    attrs = parse_jad(new)
    sizes = [v for k, v in attrs if k == "MIDlet-Jar-Size"]
    urls = [v for k, v in attrs if k == "MIDlet-Jar-URL"]
    c.check(sizes and all(s == str(os.path.getsize(jar)) for s in sizes), f"{case}: sizes {sizes}")
    c.eq(urls, [want_url or jar_name], f"{case}: URL")
    def others(a):
        return [(k, v) for k, v in a if k not in ("MIDlet-Jar-Size", "MIDlet-Jar-URL")]
    c.eq(others(attrs), others(parse_jad(jad_bytes)), f"{case}: every other attribute, in its order")
    # Every line keeps its line end (a folded value loses its continuation line).
    want_ends = line_ends(jad_bytes)
    if case == "size_folded":
        del want_ends[1]
    c.eq(line_ends(new)[:len(want_ends)], want_ends, f"{case}: line ends")
    # A second run finds nothing to do and leaves the file alone.
    before = os.stat(jad)
    code, out, err = run(["jad", "--update", "--json", jar], ENV)
    obj = json.loads(out.splitlines()[0])
    c.eq((code, obj["result"]), (0, "unchanged"), f"{case}: second run")
    c.eq(os.stat(jad).st_ino, before.st_ino, f"{case}: the JAD was not rewritten")

# Signature attributes survive byte for byte.
c.check(SIG in read(os.path.join(work, "update-crlf", "Game.jad")), "signature lines kept")

# JARs without a JAD are passed over; a JAD named stands for its JAR; -n writes nothing.
d = os.path.join(work, "batch")
os.makedirs(os.path.join(d, "sub"))
for n in ("a.jar", "b.jar", "sub/c.jar"):
    make_jar(os.path.join(d, n))
write(os.path.join(d, "a.jad"), b"MIDlet-Jar-Size: 1\n")
write(os.path.join(d, "sub", "c.jad"), b"MIDlet-Jar-Size: 1\nMIDlet-Jar-URL: c.jar\n")
code, out, err = run(["jad", "--update", "-n", "-r", "--json", d], ENV)
results = {os.path.basename(json.loads(l)["path"]): json.loads(l)["result"] for l in out.splitlines()}
c.eq((code, results), (0, {"a.jar": "updated", "b.jar": "skipped", "c.jar": "updated"}), "dry run over a tree")
c.eq(read(os.path.join(d, "a.jad")), b"MIDlet-Jar-Size: 1\n", "the dry run wrote nothing")
c.check(not os.path.exists(os.path.join(d, "b.jad")), "no JAD was made for the JAR without one")
code, out, err = run(["jad", "--update", os.path.join(d, "sub", "c.jad")], ENV)
c.check(code == 0 and "c.jad (MIDlet-Jar-Size 1 -> " in out, f"a JAD named: {out!r}")
c.check("1 JAR: 1 JADs updated, 0 up to date, 0 without a JAD, 0 failed" in out, f"summary: {out!r}")

# A JAD far too large for one is refused and left as it was.
big = os.path.join(d, "b.jad")
write(big, b"MIDlet-Jar-Size: 1\n" + b"x" * (5 << 20))
code, out, err = run(["jad", "--update", os.path.join(d, "b.jar")], ENV)
c.check(code == 1 and "larger than" in out, f"a 5 MB JAD: {code} {out!r}")
c.eq(os.path.getsize(big), 19 + (5 << 20), "the large JAD is unchanged")

# ---- a MIDP suite signed with the openssl command line ----
if have("openssl"):
    d = os.path.join(work, "midp")
    os.makedirs(d)
    jar = os.path.join(d, "Game.jar")
    make_jar(jar)
    key, cert, sig = (os.path.join(d, n) for n in ("key.pem", "cert.pem", "sig.bin"))
    tool("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
         "-subj", "/O=Parcelix Tests/CN=Script Signer", "-days", "3650", check=True)
    der = tool("openssl", "x509", "-in", cert, "-outform", "DER", check=True).stdout
    tool("openssl", "dgst", "-sha1", "-sign", key, "-out", sig, jar, check=True)
    import base64
    jad = jar[:-4] + ".jad"
    jad_text = (b"MIDlet-Name: Game\r\nMIDlet-Jar-Size: 10\r\nMIDlet-Jar-URL: Game.jar\r\n"
                b"MIDlet-Certificate-1-1: " + base64.b64encode(der) + b"\r\n"
                b"MIDlet-Jar-RSA-SHA1: " + base64.b64encode(read(sig)) + b"\r\n")
    write(jad, jad_text)
    pub = os.path.join(d, "pub.pem")
    write(pub, tool("openssl", "x509", "-in", cert, "-pubkey", "-noout", check=True).stdout)

    def openssl_verifies():
        return tool("openssl", "dgst", "-sha1", "-verify", pub, "-signature", sig, jar).returncode == 0

    c.check(openssl_verifies(), "openssl verifies the suite as made")
    found = verdicts(jar)
    c.eq([code for code, _ in found], ["signature-valid"], f"the suite as made: {found}")
    text = found[0][1] if found else ""
    c.check("CN=Script Signer" in text and "O=Parcelix Tests" in text, f"the signer's subject: {text!r}")
    span = "valid from %s to %s" % (openssl_day(cert, "startdate"), openssl_day(cert, "enddate"))
    c.check(span in text, f"the validity as openssl reads it ({span}): {text!r}")
    # The JAD update touches the JAD only: the signature over the JAR still holds.
    code, out, err = run(["jad", "--update", jar], ENV)
    attrs = dict(parse_jad(read(jad)))
    c.eq(attrs["MIDlet-Jar-Size"], str(os.path.getsize(jar)), "signed JAD: size")
    c.eq(attrs["MIDlet-Jar-RSA-SHA1"], base64.b64encode(read(sig)).decode(), "signed JAD: signature kept")
    c.check(openssl_verifies(), "the JAR is unchanged by the JAD update")
    c.eq([code for code, _ in verdicts(jar)], ["signature-valid"], "valid after the JAD update")
    jar_bytes = read(jar)
    code, out, err = run(["set", jar, "MIDlet-Vendor=Other"], ENV)
    c.check(code == 1 and "Game.jad holds its MIDP signature" in err and "--break-signature" in err,
            f"set refuses a MIDP-signed JAR: {code} {err!r}")
    c.eq(read(jar), jar_bytes, "the refused save left the JAR byte for byte")
    code, out, err = run(["set", "--json", jar, "MIDlet-Vendor=Other"], ENV)
    c.eq(json.loads(out)["result"], "failed", "the refusal in JSON")
    code, out, err = run(["set", "--break-signature", jar, "MIDlet-Vendor=Other"], ENV)
    c.check(code == 0 and "signature will no longer hold" in err, f"set --break-signature: {code} {err!r}")
    c.check(not openssl_verifies(), "openssl no longer verifies the saved JAR")
    found = verdicts(jar)
    c.eq([code for code, _ in found], ["signature-broken"], f"broken after the save: {found}")
    # A certificate damaged in the JAD: a warning, not a verdict on the JAR.
    write(jad, read(jad).replace(b"MIDlet-Certificate-1-1: MII", b"MIDlet-Certificate-1-1: MIX"))
    c.eq([code for code, _ in verdicts(jar)], ["signature-unverifiable"], "a damaged certificate")
else:
    print("openssl is not installed: the MIDP suite is not checked")

# ---- a JAR signed by the JDK's jarsigner: unset and edit refuse too ----
if have("jarsigner") and have("keytool"):
    d = os.path.join(work, "java")
    os.makedirs(d)
    jar = os.path.join(d, "Signed.jar")
    make_jar(jar, "Signed")
    tool("keytool", "-genkeypair", "-keystore", os.path.join(d, "ks"), "-storepass", "secret1", "-keypass",
         "secret1", "-alias", "me", "-keyalg", "RSA", "-dname", "CN=Me", "-validity", "3650", check=True)
    tool("jarsigner", "-keystore", os.path.join(d, "ks"), "-storepass", "secret1", jar, "me", check=True)
    jar_bytes = read(jar)
    code, out, err = run(["unset", jar, "MIDlet-Version"], ENV)
    c.check(code == 1 and "META-INF/ME.SF signs the JAR" in err, f"unset refuses: {code} {err!r}")
    code, out, err = run(["edit", jar], dict(ENV, VISUAL="false", EDITOR="false"))
    c.check(code == 1 and "--break-signature" in err, f"edit refuses before the editor runs: {code} {err!r}")
    c.eq(read(jar), jar_bytes, "the refused saves left the JAR byte for byte")
    c.check(jarsigner_verifies(jar), "jarsigner still verifies it")
    found = verdicts(jar)
    c.eq([code for code, _ in found], ["signature-valid"], f"the jarsigner JAR: {found}")
    c.check(found and "META-INF/ME.SF" in found[0][1] and "SHA-256 manifest digest matches" in found[0][1],
            f"the digest checked is named: {found}")
    code, out, err = run(["unset", "--break-signature", jar, "MIDlet-Version"], ENV)
    c.eq(code, 0, f"unset --break-signature ({err})")
    c.check(not jarsigner_verifies(jar), "jarsigner no longer verifies it")
    c.eq([code for code, _ in verdicts(jar)], ["signature-broken"], "broken after the manifest save")
else:
    print("no JDK: the jarsigner JAR is not checked")

shutil.rmtree(work)
c.finish()
