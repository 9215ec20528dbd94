# The program as installed: the manual page renders and covers every command
# and option the program offers, the bash completion completes, the desktop
# metadata validates, and `cmake --install` and the Debian package carry all of it.
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

PROGRAM = os.environ.get("PARCELIX")
SRC = os.environ.get("PARCELIX_SRC")
if not PROGRAM or not SRC:
    sys.exit(77)
BUILD = os.path.dirname(PROGRAM)
if not os.path.exists(os.path.join(BUILD, "cmake_install.cmake")):
    print("no build tree next to", PROGRAM)
    sys.exit(77)
with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
    GUI = "PARCELIX_GUI:BOOL=ON" in f.read()
failures = []
tmp = tempfile.mkdtemp(prefix="parcelix-install-")


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, timeout=300, **kw)


def have(tool):
    return shutil.which(tool) is not None


# ---- the manual page: renders, and names every command and option there is ----
page = os.path.join(BUILD, "parcelix.1")
check(os.path.exists(page), "the manual page is built")
if have("man") and os.path.exists(page):
    r = run(["man", "-l", page], env=dict(os.environ, MANWIDTH="100", MAN_KEEP_FORMATTING="0"))
    text = re.sub(r".\x08", "", r.stdout.decode(errors="replace"))
    check(r.returncode == 0 and "PARCELIX(1)" in text, "man -l renders: %r" % r.stderr[:300])
    for section in ("SYNOPSIS", "COMMANDS", "OPTIONS", "EXIT STATUS", "FILES", "ENVIRONMENT", "EXAMPLES"):
        check("\n" + section in text, "section " + section)
    usage = run([PROGRAM, "--help"]).stdout.decode()
    commands = sorted(set(re.findall(r"^\s+parcelix (?:\[[^]]*\] )?([a-z]+)\b", usage, re.M)))
    check(len(commands) >= 10, "commands found in --help: %r" % commands)
    for c in commands:
        check(re.search(r"^\s+%s\b" % c, text, re.M), "the manual page describes `%s`" % c)
        r = run([PROGRAM, c, "--help"])
        if r.returncode != 0:
            continue  # a command without its own help
        for opt in set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]+)", r.stdout.decode())):
            check(opt in text, "the manual page names `%s %s`" % (c, opt))
    for word in ("Parcelix.ini", "AddVersion", "PARCELIX_INI", "/rename", "/jadgen"):
        check(word in text, "the manual page mentions " + word)
else:
    print("man is not installed: the rendering is not checked")

# ---- desktop metadata (sources) ----
desktop = os.path.join(SRC, "app/gui/parcelix.desktop")
metainfo = os.path.join(SRC, "app/gui/org.example.parcelix.metainfo.xml")
if have("appstreamcli"):
    r = run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo])
    check(r.returncode == 0, "appstreamcli validate: %s" % r.stdout.decode(errors="replace"))
if have("desktop-file-validate"):
    r = run(["desktop-file-validate", desktop])
    check(r.returncode == 0 and not r.stdout.strip(), "desktop-file-validate: %r" % r.stdout)
with open(metainfo, encoding="utf-8") as f:
    check("<launchable type=\"desktop-id\">parcelix.desktop</launchable>" in f.read(), "metainfo names the launcher")


# ---- cmake --install ----
def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


prefix = os.path.join(tmp, "prefix")
r = run(["cmake", "--install", BUILD, "--prefix", prefix])
check(r.returncode == 0, "cmake --install: %r" % r.stderr)
completion = os.path.join(prefix, "share/bash-completion/completions/parcelix")
expected = ["bin/parcelix", "share/man/man1/parcelix.1", "share/bash-completion/completions/parcelix",
            "lib/parcelix/parcelix-crypto.so"]
icon_sizes = (16, 22, 24, 32, 48, 64, 128, 256)
if GUI:
    expected += ["share/metainfo/org.example.parcelix.metainfo.xml", "share/applications/parcelix.desktop"]
    expected += ["share/icons/hicolor/%dx%d/apps/parcelix.png" % (s, s) for s in icon_sizes]
for rel in expected:
    check(os.path.isfile(os.path.join(prefix, rel)), "installed: " + rel)
if GUI:
    for s in icon_sizes:
        p = os.path.join(prefix, "share/icons/hicolor/%dx%d/apps/parcelix.png" % (s, s))
        if os.path.exists(p):
            check(png_size(p) == (s, s), "icon %d is a %dx%d PNG: %r" % (s, s, s, png_size(p)))

# ---- bash completion, sourced from the installed file ----
# Each case: the words typed (the last one being completed) and the replies
# expected (exactly, or at least these with "+").
jars = os.path.join(tmp, "jars")
os.makedirs(os.path.join(jars, "sub"))
for name in ("a.jar", "B.JAR", "notes.txt", "c d.jar"):
    open(os.path.join(jars, name), "w").close()
COMPLETIONS = [
    (["re"], {"rename"}),
    (["i"], {"integrate"}),
    (["-q", "ja"], {"jad"}),
    (["/ja"], {"/jadgen"}),
    (["--"], {"--help", "--version", "--open", "--quiet", "--verbose"}),
    (["jad", "--v"], {"--verbose"}),
    (["set", "--no-"], {"--no-backup", "--no-rename", "--no-jad"}),
    (["list", "--j"], {"--json"}),
    (["create", "--level", ""], {"1", "6", "9"}),
    (["integrate", ""], {"on", "off", "status"}),
    (["integrate", "on", ""], set()),
    (["list", ""], {"a.jar", "B.JAR", "c d.jar", "sub"}),
    (["/Rename", ""], {"a.jar", "B.JAR", "c d.jar", "sub"}),
    (["rename", "--", "-"], set()),
    (["extract", "a.jar", ""], {"sub"}),
]
# "COMMAND --" completes exactly the long options of the command's own help.
for c in re.findall(r"^  parcelix ([a-z]+)\b", run([PROGRAM, "--help"]).stdout.decode(), re.M):
    options = set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]+)", run([PROGRAM, c, "--help"]).stdout.decode()))
    COMPLETIONS.append(([c, "--"], options))
check(len(COMPLETIONS) >= 27, "every command's options are checked: %d cases" % len(COMPLETIONS))
if os.path.exists("/usr/share/bash-completion/bash_completion") and os.path.exists(completion):
    script = ['source /usr/share/bash-completion/bash_completion', 'source "$1"', 'complete -p parcelix || exit 3']
    for i, (words, _) in enumerate(COMPLETIONS):
        line = " ".join(["parcelix"] + [w.replace(" ", "\\ ") for w in words])
        script += [
            "COMP_WORDS=(parcelix %s)" % " ".join("'%s'" % w for w in words),
            "COMP_CWORD=%d; COMP_LINE='%s'; COMP_POINT=%d; COMPREPLY=()" % (len(words), line, len(line)),
            "_parcelix parcelix '%s' '%s'" % (words[-1], words[-2] if len(words) > 1 else "parcelix"),
            'printf "%d:%%s\\n" "${COMPREPLY[@]}"' % i,
        ]
    r = run(["bash", "-c", "\n".join(script), "bash", completion], cwd=jars)
    out = r.stdout.decode()
    check(r.returncode == 0 and "-F _parcelix parcelix" in out, "complete -p parcelix: %r %r" % (out[:200], r.stderr))
    for i, (words, want) in enumerate(COMPLETIONS):
        got = {l.split(":", 1)[1] for l in out.splitlines() if l.startswith("%d:" % i)} - {""}
        got = {g.rstrip("/") for g in got}
        check(got == want, "completion of %r: %r, not %r" % (words, sorted(got), sorted(want)))
else:
    print("bash-completion is not installed: completion is not checked")

# ---- the Debian package ----
if have("cpack") and have("dpkg-deb") and os.path.exists(os.path.join(BUILD, "CPackConfig.cmake")):
    r = run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", os.path.join(tmp, "pkg")],
            cwd=tmp)
    debs = [f for f in os.listdir(os.path.join(tmp, "pkg")) if f.endswith(".deb")] if r.returncode == 0 else []
    check(len(debs) == 1, "cpack makes one .deb: %r" % r.stderr[-500:])
    if debs:
        listing = run(["dpkg", "-c", os.path.join(tmp, "pkg", debs[0])]).stdout.decode()
        files = {l.split()[-1] for l in listing.splitlines() if l.split()}
        for rel in expected:
            check("./usr/" + rel in files, "in the package: /usr/" + rel)

shutil.rmtree(tmp, ignore_errors=True)
if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("ok")
