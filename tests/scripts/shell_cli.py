# Scenario table of the command line: each case gives the arguments, the
# fixture they run on, and the exit status, stdout and stderr expected; one
# runner runs them all. Archives written are checked with python's zipfile.
import os
import re
import shutil
import subprocess
import sys
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

USAGE = r"Warning! Usage:\s+Parcelix /rename FileName\s+or\s+Parcelix /jadgen FileName"
COMMANDS = ["rename", "jad", "set", "unset", "edit", "list", "test", "extract", "manifest", "create", "integrate",
            "sample"]
HELP_OF = {
    "create": ["Usage: parcelix create [OPTIONS] ARCHIVE DIR...", "--store", "--level", "--quiet", "--verbose"],
    "integrate": ["Usage: parcelix integrate [OPTIONS] ACTION", "on,off,status"],
    "sample": ["Usage: parcelix sample [OPTIONS]"],
}

# (arguments, exit status, stdout patterns, stderr patterns, archive written: its members)
# Patterns are regular expressions searched in the text; "" as the only
# pattern means the stream must be empty. {w} is the scratch directory.
CASES = [
    (["--help"], 0, ["Usage:", "man parcelix", "COMMAND --help"] + ["parcelix %s\\b" % c for c in COMMANDS], [""], None),
    (["help"], 0, ["parcelix /jadgen FILE.jar"], [""], None),
    (["--version"], 0, [r"^parcelix \d+\.\d+\n$"], [""], None),
    (["-q", "--help"], 0, ["Usage:"], [""], None),
    (["help", "create"], 0, [re.escape(p) for p in HELP_OF["create"]], [""], None),
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
    (["sample", "extra"], 2, [""], [r"^parcelix: sample: .*extra"], None),
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
print("ok: %d cases" % len(CASES))
