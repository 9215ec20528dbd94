# Scenario: `parcelix integrate on|off|status` and its desktop entries, each started the way its file manager starts it.
#
# The program is copied to a folder named with blanks, quotes, $ and a backtick
# and registered from there; then the copy is replaced by a recorder, and every
# entry is run on JAR paths with blanks, quotes, $, backticks, tabs and line
# breaks. The recorder must see each path unchanged, once per JAR.
#   GNOME Files: the script, with file names as arguments or $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS.
#   Nemo: Exec read by GLib's key-file parser, %F expanded as Nemo does with
#         Quote=double, the line split by GLib's shell parser (what Nemo spawns with).
#   Dolphin: desktop-file-validate, the desktop-entry quoting rules checked
#         strictly, and the Exec launched by GLib (`gio launch`).
# Then: "off" leaves nothing, an unwritable registry gives the Part's message,
# and a failing /rename started from an entry reaches the desktop.
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

try:
    import gi
    gi.require_version("GLib", "2.0")
    from gi.repository import GLib
except Exception:  # noqa: BLE001 - the system python may have GLib when this one does not
    GLib = None
    if os.path.exists("/usr/bin/python3") and not os.environ.get("PARCELIX_SHELL_REEXEC") \
            and subprocess.run(["/usr/bin/python3", "-c", "import gi"], capture_output=True).returncode == 0:
        os.environ["PARCELIX_SHELL_REEXEC"] = "1"
        os.execv("/usr/bin/python3", ["/usr/bin/python3", os.path.abspath(__file__)])

PROGRAM = os.environ.get("PARCELIX")
if not PROGRAM or not os.access(PROGRAM, os.X_OK):
    sys.exit(77)
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


tmp = tempfile.mkdtemp(prefix="parcelix-shell-")
data = os.path.join(tmp, "da ta \"q\" $x 'a'")
fakebin = os.path.join(tmp, "fakebin")
notify_log = os.path.join(tmp, "notify.log")
os.makedirs(fakebin)
with open(os.path.join(fakebin, "notify-send"), "w") as f:
    f.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done >> '" + notify_log + "'\n")
os.chmod(os.path.join(fakebin, "notify-send"), 0o755)
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
env.update(XDG_DATA_HOME=data, PARCELIX_REGISTRY=os.path.join(tmp, "registry"), HOME=os.path.join(tmp, "home"),
           PATH=fakebin + ":" + os.environ.get("PATH", "/usr/bin:/bin"))


def run(argv, e=None, **kw):
    return subprocess.run(argv, env=e or env, capture_output=True, timeout=120, **kw)


def leftovers():
    return sorted(os.path.relpath(os.path.join(r, n), data) for r, ds, fs in os.walk(data) for n in ds + fs)


def take(path):
    text = open(path, "rb").read() if os.path.exists(path) else b""
    if os.path.exists(path):
        os.remove(path)
    return text


# ---- on and status, from a program at an awkward path ----
program = os.path.join(tmp, "bin dir \"q\" $y `z`", "parcelix")
os.makedirs(os.path.dirname(program))
shutil.copy2(PROGRAM, program)
r = run([program, "integrate", "on"])
check(r.returncode == 0, "integrate on: %r" % r.stderr)
status = run([program, "integrate", "status"]).stdout.decode()
quoted_program = '"%s"' % program.replace('"', '\\"')  # a quote inside the quoted path is escaped
check(("Parcelix: Rename: %s /rename \"%%1\"" % quoted_program) in status, "status lists the rename verb: " + status)
check(("Parcelix: Make JAD: %s /jadgen \"%%1\"" % quoted_program) in status, "status lists the JAD verb")
check("File type of .jar: jarfile" in status and "(missing)" not in status, "status: type and entries")

dolphin = os.path.join(data, "kio/servicemenus/parcelix-jar.desktop")
scripts = {op: os.path.join(data, "nautilus/scripts", v) for op, v in (("/rename", "Parcelix: Rename"), ("/jadgen", "Parcelix: Make JAD"))}
nemo = {op: os.path.join(data, "nemo/actions", n) for op, n in (("/rename", "parcelix-rename.nemo_action"), ("/jadgen", "parcelix-make-jad.nemo_action"))}
r = run(["desktop-file-validate", dolphin])
check(r.returncode == 0 and not r.stdout.strip(), "desktop-file-validate: %r" % (r.stdout + r.stderr))

# ---- the registered program becomes a recorder ----
log = os.path.join(tmp, "calls.log")
os.remove(program)
with open(program, "w") as f:
    f.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done >> '" + log + "'\nprintf '\\001\\n' >> '" + log + "'\n")
os.chmod(program, 0o755)


def calls(expected_count=0):
    for _ in range(100):  # gio returns before what it started ends
        if not os.path.exists(log) or open(log, "rb").read().count(b"\x01\n") >= expected_count:
            break
        subprocess.run(["sleep", "0.1"])
    return [[a.decode() for a in c.split(b"\0")[:-1]] for c in take(log).split(b"\x01\n")[:-1]]


jardir = os.path.join(tmp, "jars & more")
os.makedirs(jardir)
jars = [os.path.join(jardir, n) for n in ("Game One.jar", "it's \"quoted\".jar", "$HOME and `id`.JAR", "back\\slash.jar",
                                          "-dash.jar", "tab\there.jar", "semi;colon|pipe.Jar", "100% done.jar", "line\nbreak.jar")]

# GNOME Files: names as arguments (in the folder), or the selection variable alone (one path a line).
r = run([scripts["/rename"]] + [os.path.basename(j) for j in jars] + ["notes.txt"], cwd=jardir)
check(r.returncode == 0 and calls() == [["/rename", os.path.basename(j)] for j in jars], "GNOME Files arguments")
plain = [j for j in jars if "\n" not in j]
r = run([scripts["/jadgen"]], dict(env, NAUTILUS_SCRIPT_SELECTED_FILE_PATHS="\n".join(plain + [jardir + "/x.zip"]) + "\n"))
check(r.returncode == 0 and calls() == [["/jadgen", j] for j in plain], "GNOME Files selection variable")

# Nemo: each path in double quotes with " \ $ ` escaped, %% a percent, then GLib's shell parser.
if GLib is None:
    print("note: no GLib for python; Nemo actions not run")
for op, action in nemo.items() if GLib else []:
    kf = GLib.KeyFile()
    kf.load_from_file(action, GLib.KeyFileFlags.NONE)
    check(kf.get_string("Nemo Action", "Quote") == "double" and kf.get_string("Nemo Action", "Selection") == "notnone",
          "Nemo keys")
    check(kf.get_string("Nemo Action", "Mimetypes") == "application/java-archive;application/x-java-archive;", "Nemo MIME")
    paths = " ".join('"' + "".join("\\" + c if c in '"\\$`' else c for c in j) + '"' for j in jars)
    line = kf.get_string("Nemo Action", "Exec").replace("%F", paths).replace("%%", "%")
    r = run(list(GLib.shell_parse_argv(line)[1]))
    check(r.returncode == 0 and calls() == [[op, j] for j in jars], "Nemo action " + op)


def desktop_exec_args(line):
    """Splits an Exec value by the desktop-entry rules, strictly: inside double
    quotes " ` $ \\ must be escaped (KIO hands a line with bare ones to a shell);
    outside quotes no reserved character may appear."""
    args, cur, quoted, inarg, i = [], "", False, False, 0
    while i < len(line):
        c = line[i]
        if quoted and c == "\\":
            if line[i + 1:i + 2] not in ('"', "`", "$", "\\"):
                return None
            cur, i = cur + line[i + 1], i + 2
            continue
        if quoted and c in "`$":
            return None
        if c == '"':
            quoted, inarg = not quoted, True
        elif quoted:
            cur += c
        elif c == " ":
            args, cur, inarg = (args + [cur] if inarg else args), "", False
        elif c in "\t\n'\\><~|&;$*?#()`":
            return None
        else:
            cur, inarg = cur + c, True
        i += 1
    return None if quoted else args + ([cur] if inarg else [])


# Dolphin: one action per verb; its Exec by the rules, then launched by GLib with every path (%F).
text = open(dolphin, encoding="utf-8").read()
check("\nMimeType=application/java-archive;application/x-java-archive;\n" in text, "Dolphin MIME types")
for op, action, verb in (("/rename", "parcelix-rename", "Parcelix: Rename"), ("/jadgen", "parcelix-make-jad", "Parcelix: Make JAD")):
    group = text.split("[Desktop Action %s]\n" % action, 1)[-1].split("\n[")[0].split("\n")
    check("Name=" + verb in group, "Dolphin label " + verb)
    raw = [ln for ln in group if ln.startswith("Exec=")][0]
    check(desktop_exec_args(raw[5:].replace("\\\\", "\\")) == [os.path.join(data, "parcelix/menu", action + ".sh"), "%F"],
          "Dolphin Exec follows the quoting rules: " + raw)
    launcher = os.path.join(tmp, action + ".desktop")
    with open(launcher, "w", encoding="utf-8") as f:
        f.write("[Desktop Entry]\nType=Application\nName=t\n" + raw + "\n")
    r = run(["gio", "launch", launcher] + jars)
    check(r.returncode == 0 and calls(len(jars)) == [[op, j] for j in jars], "Dolphin action %s: %r" % (op, r.stderr))

# ---- off leaves nothing; .jar and its type stay; the Part's failure message ----
r = run([PROGRAM, "integrate", "off"])
check(r.returncode == 0 and leftovers() == [], "off leaves nothing: %r %r" % (r.stderr, leftovers()))
r = run([PROGRAM, "integrate", "status"])
check(b"File type of .jar: jarfile" in r.stdout and b"Verbs: (none)" in r.stdout, "status after off: %r" % r.stdout)
open(os.path.join(tmp, "blocker"), "w").close()
r = run([PROGRAM, "integrate", "on"], dict(env, PARCELIX_REGISTRY=os.path.join(tmp, "blocker", "registry")))
check(r.returncode == 1 and b"Failed to set data for ''" in r.stderr and leftovers() == [], "unwritable: %r" % r.stderr)
check(run([PROGRAM, "integrate", "sideways"]).returncode == 2, "usage")

# ---- /rename and /jadgen started from an entry reach the desktop (no display to open: notify-send) ----
check(run([PROGRAM, "integrate", "on"]).returncode == 0, "on with the real program")
desk = dict(env, DISPLAY=":2147483")
missing = os.path.join(jardir, "gone \"q\" $x.jar")
message = "Error!|File '%s' not exists!|" % missing
r = run([scripts["/rename"], missing], desk, stdin=subprocess.DEVNULL)
check(r.returncode == 1 and message.replace("|", " ", 1)[:-1] in r.stderr.decode(), "stderr: %r" % r.stderr)
check(take(notify_log).decode().endswith(message), "the desktop hears of the failure")
# Also when the file manager itself runs on a terminal.
run(["script", "-qec", " ".join("'" + a.replace("'", "'\\''") + "'" for a in (scripts["/rename"], missing)), "/dev/null"],
    desk, stdin=subprocess.DEVNULL)
check(message in take(notify_log).decode(), "desktop message with a terminal")
jar = os.path.join(jardir, "Space $Game 'x'.jar")
with zipfile.ZipFile(jar, "w") as z:
    z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMIDlet-Name: Space Game\r\nMIDlet-Version: 1.0\r\n\r\n")
r = run([scripts["/jadgen"], jar], desk, stdin=subprocess.DEVNULL)
check(r.returncode == 0 and os.path.exists(jar[:-4] + ".jad"), "JAD from the entry: %r" % r.stderr)
check(take(notify_log).decode() == "-a|Parcelix|--|Parcelix: Make JAD|%s: done|" % os.path.basename(jar), "success told")
check(run([PROGRAM, "integrate", "off"]).returncode == 0 and leftovers() == [], "final off")

shutil.rmtree(tmp, ignore_errors=True)
print("%d check(s) failed" % len(failures) if failures else "ok")
sys.exit(1 if failures else 0)
