# Scenario table of the command line: each case gives the arguments, the
# fixture they run on, and the exit status, stdout and stderr expected; one
# runner runs them all. Archives written are checked with python's zipfile.
import os
import re
import shutil
import subprocess
import sys
import json
import tempfile
import zipfile

PROGRAM = os.environ.get("PARCELIX")
if not PROGRAM or not os.access(PROGRAM, os.X_OK):
    sys.exit(77)
failures = []
work = tempfile.mkdtemp(prefix="parcelix-cli-")
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
env.update(PARCELIX_INI=os.path.join(work, "settings.ini"), PARCELIX_REGISTRY=os.path.join(work, "registry"),
           XDG_DATA_HOME=os.path.join(work, "data"), TMPDIR=work, HOME=os.path.join(work, "home"))


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


# ---- fixtures: a tree to pack ----
tree = os.path.join(work, "tree")
os.makedirs(os.path.join(tree, "META-INF"))
os.makedirs(os.path.join(tree, "empty"))
with open(os.path.join(tree, "META-INF", "MANIFEST.MF"), "wb") as f:
    f.write(b"Manifest-Version: 1.0\r\nMIDlet-Name: Tree\r\n\r\n")
with open(os.path.join(tree, "a.txt"), "wb") as f:
    f.write(b"a" * 5000)
TREE_MEMBERS = {"META-INF/MANIFEST.MF", "a.txt", "empty/"}  # a directory with files is no entry of its own


# ---- fixtures: MIDlet JARs (one with a file name that is not UTF-8) and an
# archive whose member name is flagged UTF-8 but is not ----
def make_jar(path, name):
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-Name: %s\r\nMIDlet-Version: 1.0\r\n\r\n" % name)
        z.writestr("a/B.class", b"\xca\xfe\xba\xbe" * 50)


BAD_NAME = os.fsdecode(b"\xff\xfe.jar")  # bytes no UTF-8 decoder accepts
for folder in ("games", "dry", "jads"):
    os.makedirs(os.path.join(work, folder))
    make_jar(os.path.join(work, folder, "alpha.jar"), "Alpha")
    make_jar(os.path.join(work, folder, BAD_NAME), "Beta")
make_jar(os.path.join(work, "game.jar"), "Game")
make_jar(os.path.join(work, "set.jar"), "Settable")
with open(os.path.join(work, "notes.jar"), "wb") as f:
    f.write(b"no archive at all\n" * 20)
odd = os.path.join(work, "odd.zip")
with zipfile.ZipFile(odd, "w") as z:
    z.writestr("x", b"data")
    z.writestr("ok.txt", b"fine")
raw = bytearray(open(odd, "rb").read())
for sig, name_at, flags_at in ((b"PK\x03\x04", 30, 6), (b"PK\x01\x02", 46, 8)):
    pos = raw.find(sig)
    while pos >= 0:
        if raw[pos + name_at:pos + name_at + 1] == b"x":
            raw[pos + name_at] = 0xFF  # the name becomes the byte FF ...
            raw[pos + flags_at + 1] |= 0x08  # ... with the UTF-8 flag set
        pos = raw.find(sig, pos + 4)
open(odd, "wb").write(raw)

USAGE = r"Warning! Usage:\s+Parcelix /rename FileName\s+or\s+Parcelix /jadgen FileName"
COMMANDS = ["rename", "jad", "set", "unset", "edit", "fix", "list", "test", "extract", "manifest", "create", "integrate",
            "sample"]
HELP_OF = {
    "create": ["Usage: parcelix create [OPTIONS] ARCHIVE DIR...", "--store", "--level", "--quiet", "--verbose"],
    "integrate": ["Usage: parcelix integrate [OPTIONS] ACTION", "on,off,status"],
    "sample": ["Usage: parcelix sample [OPTIONS]"],
    "list": ["Usage: parcelix list [OPTIONS] ARCHIVE", "--json", "--quiet"],
    "test": ["Usage: parcelix test [OPTIONS] ARCHIVE", "--json", "CRC-32"],
    "extract": ["Usage: parcelix extract [OPTIONS] ARCHIVE DIR [MASK...]", "--verbose"],
    "manifest": ["Usage: parcelix manifest [OPTIONS] ARCHIVE"],
    "rename": ["Usage: parcelix rename [OPTIONS] PATH...", "-r,--recursive", "-n,--dry-run", "--json",
               "--version", "--no-version"],
    "jad": ["Usage: parcelix jad [OPTIONS] PATH...", "-r,--recursive", "-n,--dry-run", "--json"],
    "set": ["Usage: parcelix set [OPTIONS] JAR KEY=VALUE...", "--no-backup", "--no-rename", "--no-jad", "--json"],
    "unset": ["Usage: parcelix unset [OPTIONS] JAR KEY...", "--no-backup", "--no-rename", "--no-jad"],
    "edit": ["Usage: parcelix edit [OPTIONS] JAR", "--no-backup", "$VISUAL"],
    "fix": ["Usage: parcelix fix [OPTIONS] PATH...", "-r,--recursive", "-n,--dry-run", "--no-backup", "--salvage",
            "--deflate64-to-deflate", "--break-signature"],
}
# Every command: a missing argument, an unknown option or a word too many.
USAGE_ERRORS = [
    (["list"], "ARCHIVE is required"), (["test", "--bogus", "{w}/game.jar"], "unknown option --bogus"),
    (["list", "{w}/game.jar", "more"], "unexpected argument more"), (["extract", "{w}/game.jar"], "DIR is required"),
    (["manifest", "-x", "{w}/game.jar"], "unknown option -x"), (["rename"], "PATH is required"),
    (["rename", "--version", "--no-version", "{w}/game.jar"], "--version excludes --no-version"),
    (["jad", "-rz", "{w}/game.jar"], "unknown option -z"), (["set", "{w}/set.jar"], "KEY=VALUE is required"),
    (["unset", "--no-bak", "{w}/set.jar", "X"], "unknown option --no-bak"), (["unset", "{w}/set.jar"], "KEY is required"),
    (["edit", "{w}/set.jar", "more"], "unexpected argument more"), (["edit"], "JAR is required"),
    (["sample", "extra"], "unexpected argument extra"), (["fix"], "PATH is required"),
]

# (arguments, exit status, stdout patterns, stderr patterns, archive written: its members)
# Patterns are regular expressions searched in the text; "" as the only
# pattern means the stream must be empty. {w} is the scratch directory.
CASES = [
    (["--help"], 0, ["Usage:", "man parcelix", "COMMAND --help"] + ["parcelix %s\\b" % c for c in COMMANDS], [""], None),
    (["help"], 0, ["parcelix /jadgen FILE.jar"], [""], None),
    (["--version"], 0, [r"^parcelix \d+\.\d+\n$"], [""], None),
    (["-q", "--help"], 0, ["Usage:"], [""], None),
    (["help", "create"], 0, [re.escape(p) for p in HELP_OF["create"]], [""], None),
    (["help", "rename"], 0, [re.escape(p) for p in HELP_OF["rename"]], [""], None),
] + [([c, flag], 0, [re.escape(p) for p in patterns] + ["man parcelix"], [""], None)
     for c, patterns in HELP_OF.items() for flag in ("--help", "-h")] + [
    # Usage errors: one shape, the command named, exit 2, nothing written.
    (["create"], 2, [""], [r"^parcelix: create: ARCHIVE is required\nRun 'parcelix create --help'"], None),
    (["create", "{w}/one.jar"], 2, [""], [r"^parcelix: create: DIR is required"], None),
    (["create", "--level", "5", "{w}/bad.jar", "{w}/tree"], 2, [""], [r"^parcelix: create: --level: 5 not in"], None),
    (["create", "--bogus", "{w}/bad.jar", "{w}/tree"], 2, [""], [r"^parcelix: create: .*--bogus"], None),
    (["integrate"], 2, [""], [r"^parcelix: integrate: ACTION is required"], None),
    (["integrate", "sideways"], 2, [""], [r"^parcelix: integrate: .*sideways"], None),
    (["integrate", "on", "off"], 2, [""], [r"^parcelix: integrate: .*off"], None),
] + [(args, 2, [""], [r"^parcelix: %s: %s\nRun 'parcelix %s --help' for its usage\.\n$" % (args[0], text, args[0])],
       None) for args, text in USAGE_ERRORS] + [
    (["set", "{w}/set.jar", "X"], 2, [""], [r"^parcelix: set: 'X' is not KEY=VALUE"], None),
    (["set", "{w}/set.jar", "X=a\nb"], 2, [""], [r"^parcelix: set: the value of X holds a line break"], None),
    # Errors of a run: the file first, then what is wrong with it.
    (["list", "{w}/missing.jar"], 1, [""], [r"^parcelix: .*/missing\.jar: File not found\n$"], None),
    (["test", "{w}/notes.jar"], 1, [""], [r"^parcelix: .*/notes\.jar: not a ZIP archive\n$"], None),
    (["extract", "{w}/missing.jar", "{w}/out"], 1, [""], [r"^parcelix: .*/missing\.jar: File not found\n$"], None),
    (["unset", "--no-jad", "{w}/set.jar", "X-None"], 1, [""], [r"^parcelix: .*set\.jar: X-None is not in the manifest\n"],
     None),
    # "--" before a name that looks like an option; -q keeps only what failed.
    (["list", "--", "{w}/-x.jar"], 1, [""], [r"-x\.jar: File not found"], None),
    (["test", "-q", "{w}/game.jar"], 0, [""], [""], None),
    (["-q", "extract", "{w}/game.jar", "{w}/quiet-out"], 0, [""], [""], None),
    (["extract", "-v", "{w}/game.jar", "{w}/out", "*.MF"], 0, [r"^\S*/out/META-INF/MANIFEST\.MF\n$"], [""], None),
    (["jad", "-q", "{w}/game.jar", "{w}/notes.jar"], 1, [r"^\S*notes\.jar: no JAD \(no META-INF/MANIFEST\.MF\)\n$"],
     [""], None),
    (["rename", "-rn", "{w}/dry"], 0, [r"alpha\.jar -> \S*/Alpha 1\.0\.jar\n",
                                      r"\n2 JARs: 2 to rename, 0 already named, 0 kept \(dry run\)\n$"], [""], None),
    # A word that is no command: the usage message, and the command meant when one is close.
    (["renam", "x.jar"], 2, [""], [USAGE, r"parcelix: renam: not a command; did you mean 'parcelix rename'\?"], None),
    (["LIST"], 2, [""], [USAGE, r"did you mean 'parcelix list'\?"], None),
    (["-q", "extact"], 2, [""], [USAGE, r"did you mean 'parcelix extract'\?"], None),
    (["whatever"], 2, [""], [USAGE + r"\n$"], None),
    (["-h"], 2, [""], [USAGE + r"\n$"], None),
    (["-q"], 2, [""], [USAGE + r"\n$"], None),
    # create: its output per verbosity, "--" before a name that looks like an option.
    (["create", "{w}/plain.jar", "{w}/tree"], 0, [r"  adding: a\.txt\n", r"\n3 entries written to .*plain\.jar\n$"],
     [""], ("plain.jar", TREE_MEMBERS)),
    (["-q", "create", "--store", "{w}/quiet.jar", "{w}/tree"], 0, [""], [""], ("quiet.jar", TREE_MEMBERS)),
    (["create", "-v", "--level=9", "{w}/verbose.jar", "{w}/tree"], 0, [r"^Creating .*verbose\.jar: Deflate level 9",
                                                                     "adding: a.txt"], [""], ("verbose.jar", TREE_MEMBERS)),
    (["create", "--", "{w}/-dash.jar", "{w}/tree"], 0, ["3 entries"], [""], ("-dash.jar", TREE_MEMBERS)),
    (["create", "{w}/missing.jar", "{w}/no-such-dir"], 1, [""], [r"^parcelix: .*/no-such-dir: not a directory\n$"],
     ("missing.jar", None)),
    # integrate: on, status and off; -q keeps only errors.
    (["-q", "integrate", "on"], 0, [""], [""], None),
    (["integrate", "status"], 0, ["Verbs:\n  Parcelix: Rename: ", "Parcelix: Make JAD"], [""], None),
    (["integrate", "-v", "off"], 0, ["are off", r"Verbs: \(none\)"], [""], None),
]


def expand(a):
    return a.replace("{w}", work)


def matches(patterns, text, what):
    if patterns == [""]:
        check(text == "", "%s: empty, not %r" % (what, text[:300]))
        return
    for p in patterns:
        check(re.search(p, text, re.M), "%s: /%s/ not in %r" % (what, p, text[:600]))


for args, status, out_patterns, err_patterns, archive in CASES:
    argv = [expand(a) for a in args]
    r = subprocess.run([PROGRAM] + argv, env=env, capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
    out, err = r.stdout.decode(errors="replace"), r.stderr.decode(errors="replace")
    name = " ".join(args)
    check(r.returncode == status, "%s: exit %d, not %d (%r)" % (name, r.returncode, status, err[:300]))
    matches(out_patterns, out, name + ": stdout")
    matches(err_patterns, err, name + ": stderr")
    # Every error line of a command has the one shape.
    for line in err.splitlines():
        if line and not line.startswith(("Warning!", " Parcelix", "or", "Run 'parcelix")):
            check(line.startswith("parcelix: "), "%s: error line %r" % (name, line))
    if archive:
        path, members = os.path.join(work, archive[0]), archive[1]
        if members is None:
            check(not os.path.exists(path), "%s: no archive written" % name)
        else:
            with zipfile.ZipFile(path) as z:
                check(z.testzip() is None, "%s: zipfile finds a bad member" % name)
                check(set(z.namelist()) == members, "%s: members %r" % (name, sorted(z.namelist())))

# JSON output: each line of stdout is one JSON object (python's json module
# parses it); each expected object gives the keys it must have, with their
# values (lists must have the listed length). {w} is the scratch directory.
def path_hex(*parts):
    return os.fsencode(os.path.join(work, *parts)).hex()


JSON_CASES = [
    (["list", "--json", "{w}/odd.zip"], 0, [{
        "archive": "{w}/odd.zip", "type": "atZip", "findings": [],
        "members": [{"name": "\ufffd", "name_hex": "ff", "method": 0, "size": 4, "crc": "adf3f363", "flags": 2048},
                    {"name": "ok.txt", "compressed": 4}]}]),
    (["test", "--json", "{w}/game.jar"], 0, [{
        "archive": "{w}/game.jar", "ok": True, "findings": [],
        "members": [{"name": "META-INF/MANIFEST.MF", "ok": True}, {"name": "a/B.class", "size": 200, "ok": True}]}]),
    (["jad", "--json", "-n", "{w}/jads"], 0, [
        {"path": "{w}/jads/alpha.jar", "jad": "{w}/jads/alpha.jad", "result": "written", "message": "", "dry_run": True},
        {"path": "{w}/jads/\ufffd\ufffd.jar", "path_hex": path_hex("jads", BAD_NAME),
         "jad_hex": path_hex("jads", BAD_NAME[:-4] + ".jad"), "result": "written"}]),
    (["rename", "--json", "{w}/games"], 0, [
        {"path": "{w}/games/alpha.jar", "new_path": "{w}/games/Alpha 1.0.jar", "result": "renamed", "message": ""},
        {"path_hex": path_hex("games", BAD_NAME),
         "new_path": "{w}/games/Beta 1.0.jar", "result": "renamed"}]),
    (["rename", "--json", "{w}/games/Alpha 1.0.jar"], 0, [
        {"path": "{w}/games/Alpha 1.0.jar", "result": "unchanged", "message": "already named"}]),
    (["jad", "--json", "{w}/notes.jar", "{w}/nothing"], 1, [
        {"path": "{w}/nothing", "result": "failed", "message": "not found"},
        {"path": "{w}/notes.jar", "result": "failed"}]),
    (["set", "--json", "--no-backup", "--no-rename", "--no-jad", "{w}/set.jar", "X-Added=1"], 0, [
        {"path": "{w}/set.jar", "new_path": "{w}/set.jar", "result": "saved", "message": ""}]),
    (["set", "--json", "{w}/missing.jar", "X=1"], 1, [
        {"path": "{w}/missing.jar", "result": "failed", "message": "no such file"}]),
]


def expand_json(v):
    if isinstance(v, str):
        return v.replace("{w}", work)
    if isinstance(v, dict):
        return {k: expand_json(x) for k, x in v.items()}
    if isinstance(v, list):
        return [expand_json(x) for x in v]
    return v


def has(got, want, where):
    """True when got holds every key of want with its value (lists: same length)."""
    if isinstance(want, dict):
        return isinstance(got, dict) and all(k in got and has(got[k], v, where) for k, v in want.items())
    if isinstance(want, list):
        return isinstance(got, list) and len(got) == len(want) and all(has(g, w, where) for g, w in zip(got, want))
    return got == want


for args, status, objects in JSON_CASES:
    r = subprocess.run([PROGRAM] + [expand(a) for a in args], env=env, capture_output=True, timeout=120,
                       stdin=subprocess.DEVNULL)
    name = " ".join(args)
    check(r.returncode == status, "%s: exit %d, not %d (%r)" % (name, r.returncode, status, r.stderr[:300]))
    try:
        got = [json.loads(line) for line in r.stdout.decode("utf-8").splitlines()]
    except ValueError as e:
        check(False, "%s: not JSON lines (%s): %r" % (name, e, r.stdout[:300]))
        continue
    want = [expand_json(o) for o in objects]
    check(has(got, want, name), "%s: %r\n  wanted %r" % (name, got, want))

# What the JSON said was done, seen by python's zipfile and the file system.
with zipfile.ZipFile(os.path.join(work, "set.jar")) as z:
    check(b"\r\nX-Added: 1\r\n" in z.read("META-INF/MANIFEST.MF"), "set --json: the attribute is in the manifest")
check(sorted(os.listdir(os.path.join(work, "games"))) == ["Alpha 1.0.jar", "Beta 1.0.jar"], "rename --json: the files")
check(not os.path.exists(os.path.join(work, "jads", "alpha.jad")), "jad -n --json: nothing written")

# The sample: a JAR that zipfile reads, renamed after its suite, and its JAD.
r = subprocess.run([PROGRAM, "sample"], env=env, capture_output=True, timeout=120)
check(r.returncode == 0, "sample: exit %d %r" % (r.returncode, r.stderr))
m = re.search(r"working in (\S+)", r.stdout.decode())
if m:
    names = sorted(os.listdir(m.group(1)))
    check(names == ["Sample Game 1.0.2.jad", "Sample Game 1.0.2.jar"], "sample: files %r" % names)
    with zipfile.ZipFile(os.path.join(m.group(1), "Sample Game 1.0.2.jar")) as z:
        check(z.testzip() is None and z.namelist()[0] == "META-INF/MANIFEST.MF", "sample: JAR %r" % z.namelist())
else:
    check(False, "sample: no working directory in %r" % r.stdout)

shutil.rmtree(work, ignore_errors=True)
if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("ok: %d cases, %d JSON cases" % (len(CASES), len(JSON_CASES)))
