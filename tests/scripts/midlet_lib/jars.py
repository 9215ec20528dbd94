"""Shared helpers of the midlet scenario scripts: JARs made by independent
tools (the JDK's jar, Info-ZIP zip, 7-Zip with Deflate64, python's zipfile),
damaged variants, and running the program."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

PARCELIX = os.environ.get("PARCELIX", "")


def require_program():
    if not PARCELIX or not os.access(PARCELIX, os.X_OK):
        print("PARCELIX is not set to the built program", file=sys.stderr)
        sys.exit(77)


class Checker:
    """Collects failures so that one run reports all of them."""

    def __init__(self):
        self.failures = []
        self.count = 0

    def check(self, cond, what):
        self.count += 1
        if not cond:
            self.failures.append(what)
            print("FAIL:", what, file=sys.stderr)
        return cond

    def eq(self, got, want, what):
        return self.check(got == want, f"{what}: got {got!r}, want {want!r}")

    def finish(self):
        print(f"{self.count - len(self.failures)}/{self.count} checks passed")
        sys.exit(1 if self.failures else 0)


def run(args, env_extra=None, cwd=None, input_text=None):
    env = dict(os.environ)
    if env_extra:
        env.update(env_extra)
    p = subprocess.run([PARCELIX] + list(args), capture_output=True, env=env, cwd=cwd,
                       input=input_text)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def write_ini(path, add_version=True, rename=True, jad=True, backup=True):
    with open(path, "w") as f:
        f.write("[Rename]\nAddVersion=%d\n[ManifestEditor]\nRenameAfterSave=%d\nMakeJadAfterSave=%d\n"
                "CreateBackup=%d\n[Other]\nAlwaysOnTop=1\n" % (add_version, rename, jad, backup))


def have(tool):
    return shutil.which(tool) is not None


def strace_parcelix(log, syscalls, args, env):
    """Runs parcelix under strace -f, its calls of the given kinds written to
    log. The leak checker of a sanitizer build cannot work under ptrace and
    would fail the run, so it is off for this one process."""
    env = dict(env)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS", ""), "detect_leaks=0"]))
    return subprocess.run(["strace", "-f", "-qq", "-o", log, "-e", "trace=" + syscalls, PARCELIX] + list(args),
                          capture_output=True, env=env)


# A MIDlet manifest; the long description makes members big enough that
# every tool really compresses them (Deflate64 included).
def midlet_manifest(name="Foo Bar", version="1.0.2", extra=(), eol="\r\n"):
    lines = ["Manifest-Version: 1.0"]
    if name is not None:
        lines.append("MIDlet-Name: " + name)
    if version is not None:
        lines.append("MIDlet-Version: " + version)
    lines += ["MIDlet-Vendor: Parcelix Tests", "MIDlet-1: Game, /i.png, GameMidlet",
              "MicroEdition-Profile: MIDP-2.0", "MicroEdition-Configuration: CLDC-1.1",
              "MIDlet-Description: " + "a quick game " * 4]
    lines += list(extra)
    return (eol.join(lines) + eol + eol).encode("utf-8")


def make_tree(root, manifest, with_manifest=True):
    """The files every maker packs: a manifest, a class, nested and hidden
    files, an empty directory and a stored archive member."""
    files = {
        "GameMidlet.class": b"\xca\xfe\xba\xbe" + bytes(range(256)) * 8,
        "res/level1.txt": b"".join(b"row %d ....##....##....\n" % i for i in range(400)),
        "res/deep/data.bin": os.urandom(3000),
        "i.png": b"\x89PNG\r\n\x1a\n" + os.urandom(200),
        ".hidden": b"hidden file\n",
        ".dir/inside.txt": b"below a hidden directory\n",
        "lib/inner.zip": b"PK\x05\x06" + b"\0" * 18,
        "empty.txt": b"",
    }
    if with_manifest:
        files["META-INF/MANIFEST.MF"] = manifest
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "emptydir"), exist_ok=True)
    return files


def make_jar(maker, jar, tree, manifest_first=True):
    """Packs tree into jar with the named tool. Returns False when the tool is missing."""
    jar = os.path.abspath(jar)
    if os.path.exists(jar):
        os.remove(jar)
    names = sorted(os.listdir(tree))
    if manifest_first and "META-INF" in names:
        names.remove("META-INF")
        names.insert(0, "META-INF")
    if maker == "jdk":
        if not have("jar"):
            return False
        mf = os.path.join(tree, "META-INF", "MANIFEST.MF")
        args = ["jar", "--create", "--file", jar]
        if os.path.exists(mf):
            # jar writes its own manifest from this one (folded at 72 bytes).
            tmp = jar + ".mf"
            shutil.copy(mf, tmp)
            args += ["--manifest", tmp]
        else:
            args += ["--no-manifest"]
        others = [n for n in names if n != "META-INF"]
        for n in others:
            args += ["-C", tree, n]
        subprocess.run(args, check=True, capture_output=True)
        if os.path.exists(jar + ".mf"):
            os.remove(jar + ".mf")
    elif maker == "infozip":
        if not have("zip"):
            return False
        subprocess.run(["zip", "-q", "-r", "-X", jar] + names, cwd=tree, check=True)
    elif maker == "7z-deflate64":
        if not have("7z"):
            return False
        subprocess.run(["7z", "a", "-tzip", "-mm=Deflate64", "-bd", "-bso0", jar] + names, cwd=tree,
                       check=True)
    elif maker in ("python", "python-zip64", "python-stored"):
        method = zipfile.ZIP_STORED if maker == "python-stored" else zipfile.ZIP_DEFLATED
        with zipfile.ZipFile(jar, "w", method) as z:
            for top in names:
                full = os.path.join(tree, top)
                entries = [full]
                if os.path.isdir(full):
                    entries = []
                    for dp, dns, fns in os.walk(full):
                        dns.sort()
                        entries.append(dp)
                        entries += [os.path.join(dp, f) for f in sorted(fns)]
                for e in entries:
                    arc = os.path.relpath(e, tree)
                    if os.path.isdir(e):
                        z.writestr(zipfile.ZipInfo(arc + "/"), b"")
                    else:
                        with open(e, "rb") as f:
                            data = f.read()
                        with z.open(zipfile.ZipInfo.from_file(e, arc), "w",
                                    force_zip64=(maker == "python-zip64")) as w:
                            w.write(data)
    else:
        raise ValueError(maker)
    return True


MAKERS = ["jdk", "infozip", "7z-deflate64", "python", "python-zip64"]


def new_jar(work, maker, manifest, folder, name="game.jar", with_manifest=True):
    """A JAR packed by maker from make_tree's files, at folder/name; None
    when the tool is missing. The tree is made below work and removed."""
    os.makedirs(folder, exist_ok=True)
    tree = tempfile.mkdtemp(dir=work, prefix="tree-")
    make_tree(tree, manifest, with_manifest)
    path = os.path.join(folder, name)
    ok = make_jar(maker, path, tree)
    shutil.rmtree(tree)
    return path if ok else None


def member_data_span(jar, name):
    """(offset, length) of a member's stored bytes, from its local header."""
    with zipfile.ZipFile(jar) as z:
        info = z.getinfo(name)
    with open(jar, "rb") as f:
        f.seek(info.header_offset)
        local = f.read(30)
        n, e = struct.unpack("<HH", local[26:30])
    return info.header_offset + 30 + n + e, info.compress_size


def raw_members(jar):
    """Name -> (method, crc, sizes, raw stored bytes) in directory order."""
    out = []
    with zipfile.ZipFile(jar) as z:
        infos = z.infolist()
    with open(jar, "rb") as f:
        data = f.read()
    for info in infos:
        local = data[info.header_offset:info.header_offset + 30]
        n, e = struct.unpack("<HH", local[26:30])
        start = info.header_offset + 30 + n + e
        out.append((info.filename, info.compress_type, info.CRC, info.compress_size, info.file_size,
                    data[start:start + info.compress_size]))
    return out


def flip_byte(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        b = f.read(1)
        f.seek(offset)
        f.write(bytes([b[0] ^ 0x55]))


def files_in(directory):
    return sorted(os.listdir(directory))


def read_member(jar, name):
    """A member's bytes through an independent reader: python's zipfile, or
    7-Zip for methods python lacks (Deflate64)."""
    with zipfile.ZipFile(jar) as z:
        info = z.getinfo(name)
        if info.compress_type in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            return z.read(name)
    return subprocess.run(["7z", "e", "-so", jar, name], capture_output=True, check=True).stdout


def scratch(prefix):
    """A scratch folder with a settings file (every option on) and a private
    TMPDIR; returns the folder and the environment that points at both."""
    work = tempfile.mkdtemp(prefix=prefix)
    ini = os.path.join(work, "settings.ini")
    write_ini(ini)
    env = dict(os.environ, PARCELIX_INI=ini, TMPDIR=os.path.join(work, "tmp"))
    os.makedirs(env["TMPDIR"])
    return work, env


def central_entries(data):
    """(central header position, local header offset) of every entry, by the end record."""
    end = data.rfind(b"PK\x05\x06")
    count, _, start = struct.unpack_from("<HII", data, end + 10)
    out, p = [], start
    for _ in range(count):
        n, m, k = struct.unpack_from("<HHH", data, p + 28)
        out.append((p, struct.unpack_from("<I", data, p + 42)[0]))
        p += 46 + n + m + k
    return out


def compile_java(work, class_name, source):
    """Compiles one Java class into a folder below work; the folder, or None
    when there is no JDK or the class does not compile."""
    if not (have("javac") and have("java")):
        return None
    folder = os.path.join(work, "java-" + class_name)
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, class_name + ".java")
    with open(path, "w") as f:
        f.write(source)
    return folder if subprocess.run(["javac", "-d", folder, path]).returncode == 0 else None
