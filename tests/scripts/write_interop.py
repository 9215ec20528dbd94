#!/usr/bin/env python3
"""Archives made by `parcelix create` are read by unzip, 7z, python's zipfile,
the JDK (jar tf and java.util.jar.JarFile) and by Parcelix's own reader, with
the same bytes; a create replaces its target only with a complete archive."""
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import zipfile
import zlib

PARCELIX = os.environ.get("PARCELIX")
if not PARCELIX or not os.path.exists(PARCELIX):
    print("PARCELIX is not set to the built program")
    sys.exit(77)

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def make_tree(root):
    """A tree with what collectors' JARs hold; returns {name: bytes} for files
    and the set of directory entries expected (empty directories)."""
    rnd = random.Random(4242)
    files = {}

    def put(rel, data):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        files[rel] = data

    text = b"".join(b"MIDlet-%d: Game %d, icon.png, Main\r\n" % (i, i) for i in range(120000))
    put("META-INF/MANIFEST.MF", b"Manifest-Version: 1.0\r\nMIDlet-Name: Interop\r\nMIDlet-Version: 1.0\r\n\r\n")
    for n in (0, 1, 255, 256, 257):
        put("sizes/rand%d.bin" % n, bytes(rnd.randrange(256) for _ in range(n)))
        put("sizes/text%d.txt" % n, text[:n])
    put("big/text.txt", text)  # several MB, compressible
    put("big/noise.bin", os.urandom(2 * 1024 * 1024))
    put("nested/a/b/c/deep.class", bytes(rnd.randrange(64) for _ in range(5000)))
    put("nested/file with spaces.txt", b"spaces in names\n")
    put("n\u00e4me/caf\u00e9 na\u00efve.txt", "unicode \u20ac\n".encode())
    put("\u65e5\u672c\u8a9e.txt", b"kanji\n")
    put("empty.txt", b"")
    # Archives inside are stored, whatever their case.
    inner = os.path.join(root, "..", "inner-src.zip")
    with zipfile.ZipFile(inner, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("inside.txt", text[:5000])
    put("lib/inner.jar", open(inner, "rb").read())
    put("lib/OTHER.ZIP", open(inner, "rb").read())
    os.remove(inner)
    for d in ("emptydir", "nested/deep/empty", "levels/one/two"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    # Names beginning with a dot are never archived.
    os.makedirs(os.path.join(root, ".git"), exist_ok=True)
    with open(os.path.join(root, ".git", "config"), "wb") as f:
        f.write(b"x")
    with open(os.path.join(root, ".hidden"), "wb") as f:
        f.write(b"x")
    dirs = set()
    for cur, subdirs, names in os.walk(root):
        subdirs[:] = [s for s in subdirs if not s.startswith(".")]
        rel = os.path.relpath(cur, root)
        if rel == ".":
            continue
        has_file = False
        for c2, s2, n2 in os.walk(cur):
            s2[:] = [s for s in s2 if not s.startswith(".")]
            if any(not n.startswith(".") for n in n2):
                has_file = True
                break
        if not has_file:
            dirs.add(rel.replace(os.sep, "/") + "/")
    return files, dirs


JAVA_READER = r"""
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.Enumeration;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.zip.CRC32;

public class ReadAll {
  public static void main(String[] args) throws Exception {
    try (JarFile jar = new JarFile(args[0], true)) {
      for (Enumeration<JarEntry> e = jar.entries(); e.hasMoreElements();) {
        JarEntry entry = e.nextElement();
        CRC32 crc = new CRC32();
        long n = 0;
        try (InputStream in = jar.getInputStream(entry)) {
          byte[] b = new byte[65536];
          int r;
          while ((r = in.read(b)) > 0) { crc.update(b, 0, r); n += r; }
        }
        StringBuilder hex = new StringBuilder();
        for (byte x : entry.getName().getBytes(StandardCharsets.UTF_8)) hex.append(String.format("%02x", x));
        System.out.println(hex + " " + n + " " + Long.toHexString(crc.getValue()));
      }
    }
  }
}
"""


def java_reader(work):
    if not shutil.which("javac") or not shutil.which("java"):
        return None
    src = os.path.join(work, "java")
    os.makedirs(src)
    with open(os.path.join(src, "ReadAll.java"), "w") as f:
        f.write(JAVA_READER)
    r = run(["javac", "-d", src, os.path.join(src, "ReadAll.java")])
    check(r.returncode == 0, "javac compiles the reader: " + r.stderr.decode(errors="replace"))
    return src if r.returncode == 0 else None


def verify(archive, files, dirs, work, java_dir, label):
    expected_names = set(files) | dirs
    # Info-ZIP and 7-Zip test every member.
    if shutil.which("unzip"):
        r = run(["unzip", "-tqq", archive])
        check(r.returncode == 0, "%s: unzip -t: %s" % (label, (r.stdout + r.stderr).decode(errors="replace")))
    if shutil.which("7z"):
        r = run(["7z", "t", archive])
        check(r.returncode == 0 and b"Everything is Ok" in r.stdout, "%s: 7z t" % label)
    # python's zipfile: test, names, bytes.
    with zipfile.ZipFile(archive) as z:
        check(z.testzip() is None, "%s: zipfile.testzip" % label)
        names = z.namelist()
        check(len(names) == len(set(names)), "%s: no duplicate names" % label)
        check(set(names) == expected_names, "%s: names %s" % (label, sorted(set(names) ^ expected_names)))
        for name, data in files.items():
            if name in names:
                check(z.read(name) == data, "%s: zipfile bytes of %s" % (label, name))
        for info in z.infolist():
            ext = os.path.splitext(info.filename)[1].lower()
            if ext in (".jar", ".zip"):
                check(info.compress_type == zipfile.ZIP_STORED, "%s: %s is stored" % (label, info.filename))
            if info.filename.endswith("/"):
                check(info.file_size == 0 and info.compress_type == zipfile.ZIP_STORED, "%s: directory entry" % label)
            try:
                info.filename.encode("ascii")
            except UnicodeEncodeError:
                check(info.flag_bits & 0x800, "%s: UTF-8 flag on %s" % (label, info.filename))
    # The JDK.
    if shutil.which("jar"):
        r = run(["jar", "tf", archive])
        listed = set(r.stdout.decode("utf-8").splitlines())
        check(r.returncode == 0 and listed == expected_names, "%s: jar tf lists every entry" % label)
    if java_dir:
        r = run(["java", "-cp", java_dir, "ReadAll", archive])
        check(r.returncode == 0, "%s: JarFile reads the archive: %s" % (label, r.stderr.decode(errors="replace")))
        seen = {}
        for line in r.stdout.decode().splitlines():
            hexname, size, crc = line.split(" ")
            seen[bytes.fromhex(hexname).decode("utf-8")] = (int(size), int(crc, 16))
        check(set(seen) == expected_names, "%s: JarFile sees every entry" % label)
        for name, data in files.items():
            check(seen.get(name) == (len(data), zlib.crc32(data)), "%s: JarFile bytes of %s" % (label, name))
    # Parcelix's own reader.
    out = os.path.join(work, "extract-" + label)
    r = run([PARCELIX, "extract", archive, out])
    check(r.returncode == 0, "%s: parcelix extract: %s" % (label, r.stderr.decode(errors="replace")))
    for name, data in files.items():
        path = os.path.join(out, name)
        got = open(path, "rb").read() if os.path.exists(path) else None
        check(got == data, "%s: parcelix extract bytes of %s" % (label, name))
    shutil.rmtree(out, ignore_errors=True)


def temp_files(d):
    return [n for n in os.listdir(d) if n.startswith("arx") and n.endswith(".tmp")]


def main():
    work = tempfile.mkdtemp(prefix="pxwrite")
    try:
        tree = os.path.join(work, "tree")
        os.makedirs(tree)
        files, dirs = make_tree(tree)
        java_dir = java_reader(work)
        out_dir = os.path.join(work, "out")
        os.makedirs(out_dir)

        for label, opts in (("default", []), ("store", ["--store"]), ("level1", ["--level", "1"]),
                            ("level9", ["--level=9"])):
            archive = os.path.join(out_dir, label + ".jar")
            r = run([PARCELIX, "create"] + opts + [archive, tree])
            check(r.returncode == 0, "%s: create exits 0: %s" % (label, r.stderr.decode(errors="replace")))
            listed = [l.strip()[len("adding: "):] for l in r.stdout.decode().splitlines() if "adding: " in l]
            check(set(listed) == set(files) | dirs, "%s: create prints every entry written" % label)
            verify(archive, files, dirs, work, java_dir, label)
            if label == "store":
                with zipfile.ZipFile(archive) as z:
                    check(all(i.compress_type == zipfile.ZIP_STORED for i in z.infolist()), "store: all stored")
        check(temp_files(out_dir) == [], "no temporary files left beside the archives")

        # Two trees in one archive: each stored relative to its own top.
        second = os.path.join(work, "second")
        os.makedirs(os.path.join(second, "extra"))
        with open(os.path.join(second, "extra", "more.txt"), "wb") as f:
            f.write(b"more\n")
        both = os.path.join(out_dir, "both.zip")
        r = run([PARCELIX, "create", both, tree, second])
        check(r.returncode == 0, "two trees: exit 0")
        with zipfile.ZipFile(both) as z:
            check("extra/more.txt" in z.namelist() and "META-INF/MANIFEST.MF" in z.namelist(), "two trees: names")

        # A create replaces an existing target (it does not update it).
        target = os.path.join(out_dir, "default.jar")
        r = run([PARCELIX, "create", target, second])
        check(r.returncode == 0, "replace: exit 0")
        with zipfile.ZipFile(target) as z:
            check(z.namelist() == ["extra/more.txt"], "replace: only the new tree is in the archive")

        # A create that cannot finish (file size limit: a full disk) leaves the
        # old archive exactly as it was and no temporary file.
        before = open(target, "rb").read()

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

        r = run([PARCELIX, "create", target, tree], preexec_fn=limit)
        check(r.returncode == 1, "disk full: exit 1")
        check(b"Disk full" in r.stderr, "disk full: reported: " + r.stderr.decode(errors="replace"))
        check(open(target, "rb").read() == before, "disk full: old archive unchanged")
        check(temp_files(out_dir) == [], "disk full: no temporary file left")

        # Nothing to write: exit 1 and no archive.
        empty = os.path.join(work, "empty")
        os.makedirs(empty)
        nothing = os.path.join(out_dir, "nothing.jar")
        r = run([PARCELIX, "create", nothing, empty])
        check(r.returncode == 1 and not os.path.exists(nothing), "nothing to write: exit 1, no archive")
        check(b"Nothing to do" in r.stderr, "nothing to write: reported")

        # Usage errors.
        check(run([PARCELIX, "create", nothing]).returncode == 2, "usage: one argument")
        check(run([PARCELIX, "create", "--level", "5", nothing, tree]).returncode == 2, "usage: bad level")
        r = run([PARCELIX, "create", nothing, os.path.join(work, "missing")])
        check(r.returncode == 1 and not os.path.exists(nothing), "missing directory: exit 1")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    tools = [t for t in ("unzip", "7z", "jar", "java") if shutil.which(t)]
    print("all interoperability checks passed (zipfile, parcelix extract, %s)" % ", ".join(tools))


main()
