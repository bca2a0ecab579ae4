#!/usr/bin/python3
"""Our archives against outside zip tools, both ways.

Ours to theirs: `orvanta zip` packs a tree (empty, text, compressible,
random and UTF-8-named files in nested folders) stored, at deflate levels
1, 6 and 9, with ZipCrypto and with AES-256; `unzip -t`, `7z t` and
python's zipfile must accept each archive (where they know the
encryption) and extract it byte-exact. An archive of more than 65535
entries (ZIP64 end records) is checked the same way.

Theirs to ours: archives made by `zip` (plain and with -P), by `7z a -tzip`
(plain, ZipCrypto, AES-256) and by python's zipfile (stored, deflated,
ZIP64 forced) must list with `orvanta list` and extract byte-exact with
`orvanta unzip`.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile

from checks import check, failures

PASSWORD = "s3cret pass"


def run(args, cwd=None):
    r = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def make_tree(root):
    """The sample tree; returns {relative path: bytes} of its files."""
    files = {
        "empty.txt": b"",
        "hello.txt": b"hello, world\n",
        "docs/compressible.txt": b"".join(b"line %d of a compressible text\n" % i for i in range(40000)),
        "docs/random.bin": os.urandom(300000),
        "docs/deep/er/one.bin": bytes(range(256)) * 3,
        "caf\u00e9/na\u00efve \u00fcber.txt": "Gr\u00fc\u00dfe\n".encode("utf-8"),
        "\u65e5\u672c/\u6f22\u5b57.txt": "\u6f22\u5b57\n".encode("utf-8"),
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "emptydir"), exist_ok=True)
    return files


def tree_files(root):
    out = {}
    for base, dirs, names in os.walk(root):
        for n in names:
            p = os.path.join(base, n)
            with open(p, "rb") as f:
                out[os.path.relpath(p, root).replace(os.sep, "/")] = f.read()
    return out


def same_tree(got_root, expected, what):
    got = tree_files(got_root)
    if not check(sorted(got) == sorted(expected), "%s: file list %s != %s" % (what, sorted(got), sorted(expected))):
        return False
    for rel, data in expected.items():
        if not check(got[rel] == data, "%s: %s differs" % (what, rel)):
            return False
    return True


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def ours_to_theirs(tool, work):
    src = fresh(os.path.join(work, "src"))
    files = make_tree(os.path.join(src, "tree"))
    expected = {"tree/" + k: v for k, v in files.items()}
    variants = [
        ("stored", ["-l", "0"], None),
        ("deflate1", ["-l", "1"], None),
        ("deflate6", [], None),
        ("deflate9", ["-l", "9"], None),
        ("zipcrypto", ["-p", PASSWORD, "--zipcrypto"], "zipcrypto"),
        ("aes256", ["-p", PASSWORD], "aes"),
    ]
    for name, opts, enc in variants:
        archive = os.path.join(work, "ours-%s.zip" % name)
        if os.path.exists(archive):
            os.remove(archive)
        # Options after the paths, as users type them too.
        rc, out, err = run([tool, "zip", archive, "tree", "-r"] + opts, cwd=src)
        if not check(rc == 0, "orvanta zip %s: rc %d %s" % (name, rc, err)):
            continue
        with zipfile.ZipFile(archive) as z:
            names = z.namelist()
            check("tree/emptydir/" in names, "%s: folder entry missing: %s" % (name, names))
            check(not any(n.startswith(("/", "./")) for n in names), "%s: bad names %s" % (name, names))
            for info in z.infolist():
                check(((info.flag_bits & 1) != 0) == (enc is not None and not info.is_dir()),
                      "%s: %s encryption flag %x" % (name, info.filename, info.flag_bits))
                if not info.filename.isascii():
                    check(info.flag_bits & 0x800, "%s: %s lacks the UTF-8 flag" % (name, info.filename))
                if enc == "aes" and not info.is_dir():
                    check(info.compress_type == 99, "%s: %s method %d" % (name, info.filename, info.compress_type))
                if name == "stored":
                    check(info.compress_type == 0, "stored: %s method %d" % (info.filename, info.compress_type))
            if enc != "aes":  # python's zipfile has no AES
                if enc:
                    z.setpassword(PASSWORD.encode())
                check(z.testzip() is None, "%s: python zipfile testzip" % name)
                out_py = fresh(os.path.join(work, "py-" + name))
                z.extractall(out_py)
                same_tree(out_py, expected, "%s: python zipfile" % name)
        # Info-ZIP unzip knows ZipCrypto but not AES. Our native tool
        # records the Unix host, so it keeps the UTF-8 names exactly (for a
        # host 0 archive it would turn them through its OEM table).
        if enc != "aes":
            pw = ["-P", PASSWORD] if enc else []
            rc, out, err = run(["unzip", "-t"] + pw + [archive])
            check(rc == 0 and "No errors detected" in out, "%s: unzip -t rc %d %s %s" % (name, rc, out[-300:], err))
            out_unzip = fresh(os.path.join(work, "unzip-" + name))
            rc, out, err = run(["unzip", "-o", "-q"] + pw + [archive, "-d", out_unzip])
            check(rc == 0, "%s: unzip rc %d %s" % (name, rc, err))
            same_tree(out_unzip, expected, "%s: unzip" % name)
        pw7 = ["-p" + PASSWORD] if enc else []
        rc, out, err = run(["7z", "t"] + pw7 + [archive])
        check(rc == 0 and "Everything is Ok" in out, "%s: 7z t rc %d %s %s" % (name, rc, out[-300:], err))
        out7 = fresh(os.path.join(work, "7z-" + name))
        rc, out, err = run(["7z", "x", "-y", "-o" + out7] + pw7 + [archive])
        check(rc == 0, "%s: 7z x rc %d %s" % (name, rc, err))
        same_tree(out7, expected, "%s: 7z" % name)
        # And back through our own reader.
        out_ours = fresh(os.path.join(work, "ours-back-" + name))
        rc, out, err = run([tool, "unzip", archive, "-d", out_ours] + (["-p", PASSWORD] if enc else []))
        check(rc == 0, "%s: orvanta unzip rc %d %s" % (name, rc, err))
        same_tree(out_ours, expected, "%s: orvanta unzip" % name)


def zip64_many_entries(tool, work):
    """More than 65535 entries: the count needs the ZIP64 end records."""
    src = fresh(os.path.join(work, "many"))
    count = 65600
    for d in range(41):
        os.makedirs(os.path.join(src, "m", "%02d" % d))
    expected = {}
    for i in range(count):
        rel = "m/%02d/%05d" % (i % 41, i)
        data = b"%d" % i
        with open(os.path.join(src, rel), "wb") as f:
            f.write(data)
        expected[rel] = data
    archive = os.path.join(work, "ours-many.zip")
    if os.path.exists(archive):
        os.remove(archive)
    rc, out, err = run([tool, "zip", "-r", "-l", "0", archive, "m"], cwd=src)
    if not check(rc == 0, "zip64 entries: orvanta zip rc %d %s" % (rc, err)):
        return
    with open(archive, "rb") as f:
        data = f.read()
    check(b"PK\x06\x06" in data[-200:] and b"PK\x06\x07" in data[-200:], "zip64 entries: no ZIP64 end records")
    with zipfile.ZipFile(archive) as z:
        files = [i for i in z.infolist() if not i.is_dir()]
        check(len(files) == count, "zip64 entries: python sees %d files" % len(files))
        check(z.read("m/08/65526") == b"65526", "zip64 entries: python reads the last entries")
    rc, out, err = run(["unzip", "-tq", archive])
    check(rc == 0, "zip64 entries: unzip -t rc %d %s %s" % (rc, out[-300:], err))
    rc, out, err = run(["7z", "t", archive])
    check(rc == 0 and "Everything is Ok" in out, "zip64 entries: 7z t rc %d %s" % (rc, out[-300:]))
    out7 = fresh(os.path.join(work, "many-7z"))
    rc, out, err = run(["7z", "x", "-y", "-o" + out7, archive])
    check(rc == 0, "zip64 entries: 7z x rc %d" % rc)
    same_tree(out7, expected, "zip64 entries: 7z")
    out_ours = fresh(os.path.join(work, "many-ours"))
    rc, out, err = run([tool, "unzip", archive, "-d", out_ours])
    check(rc == 0, "zip64 entries: orvanta unzip rc %d %s" % (rc, err[-500:]))
    same_tree(out_ours, expected, "zip64 entries: orvanta unzip")
    shutil.rmtree(src, ignore_errors=True)
    shutil.rmtree(out7, ignore_errors=True)
    shutil.rmtree(out_ours, ignore_errors=True)


def theirs_to_ours(tool, work):
    src = fresh(os.path.join(work, "their-src"))
    files = make_tree(os.path.join(src, "tree"))
    expected = {"tree/" + k: v for k, v in files.items()}
    made = []  # (name, archive, password)

    def add(name, args, password=None, cwd=src):
        archive = os.path.join(work, "theirs-%s.zip" % name)
        if os.path.exists(archive):
            os.remove(archive)
        rc, out, err = run([a.replace("@", archive) for a in args], cwd=cwd)
        if check(rc == 0, "%s: making the archive rc %d %s" % (name, rc, err)):
            made.append((name, archive, password))

    add("zip", ["zip", "-q", "-r", "@", "tree"])
    add("zip-P", ["zip", "-q", "-r", "-P", PASSWORD, "@", "tree"], PASSWORD)
    add("7z", ["7z", "a", "-tzip", "@", "tree"])
    add("7z-mx9", ["7z", "a", "-tzip", "-mx=9", "@", "tree"])
    add("7z-zipcrypto", ["7z", "a", "-tzip", "-mem=ZipCrypto", "-p" + PASSWORD, "@", "tree"], PASSWORD)
    add("7z-aes256", ["7z", "a", "-tzip", "-mem=AES256", "-p" + PASSWORD, "@", "tree"], PASSWORD)
    add("7z-aes128", ["7z", "a", "-tzip", "-mem=AES128", "-p" + PASSWORD, "@", "tree"], PASSWORD)

    for name, method, force in [("py-stored", zipfile.ZIP_STORED, False),
                                ("py-deflated", zipfile.ZIP_DEFLATED, False),
                                ("py-zip64", zipfile.ZIP_DEFLATED, True)]:
        archive = os.path.join(work, "theirs-%s.zip" % name)
        with zipfile.ZipFile(archive, "w", compression=method) as z:
            for rel in sorted(expected):
                with z.open(zipfile.ZipInfo(rel, (2024, 2, 29, 13, 14, 16)), "w", force_zip64=force) as f:
                    f.write(expected[rel])
        made.append((name, archive, None))

    for name, archive, password in made:
        pw = ["-p", password] if password else []
        # The names: Info-ZIP zip on Unix stores UTF-8 names without the
        # UTF-8 flag; python's zipfile reads them as code page 437, our
        # reader (as Info-ZIP unzip and 7-Zip on Linux) as the UTF-8 they
        # are, since the archive says it was made on Unix. The contents are
        # python's either way.
        their = {}
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                if info.is_dir():
                    continue
                try:
                    their[info.filename] = z.read(info, pwd=password.encode() if password else None)
                except NotImplementedError:  # AES: the original file of that name
                    their[info.filename] = expected[info.filename]
        check(sorted(their.values()) == sorted(expected.values()), "%s: python reads other contents" % name)
        if not name.startswith("zip"):  # 7-Zip and python flag UTF-8 names
            check(sorted(their) == sorted(expected), "%s: python reads names %s" % (name, sorted(their)))
        else:
            their = {rel.encode("cp437").decode("utf-8"): data for rel, data in their.items()}
        rc, out, err = run([tool, "list", archive] + pw)
        check(rc == 0, "%s: orvanta list rc %d %s" % (name, rc, err))
        for rel in their:
            check(rel in out, "%s: orvanta list lacks %s" % (name, rel))
        if password:
            check(out.count(" OK") == len(their), "%s: orvanta list -p checks %d of %d" % (
                name, out.count(" OK"), len(their)))
        target = fresh(os.path.join(work, "ours-from-" + name))
        rc, out, err = run([tool, "unzip", "-d", target] + pw + [archive])  # options before the archive
        check(rc == 0, "%s: orvanta unzip rc %d %s" % (name, rc, err))
        same_tree(target, their, "%s: orvanta unzip" % name)
        if password:
            target = fresh(os.path.join(work, "ours-wrong-" + name))
            rc, out, err = run([tool, "unzip", archive, "-d", target, "-p", "not it"])
            check(rc == 1, "%s: wrong password rc %d" % (name, rc))
            check(tree_files(target) == {}, "%s: wrong password wrote %s" % (name, sorted(tree_files(target))))
            check("tree/hello.txt" in err, "%s: wrong password message %s" % (name, err[:300]))

    # Times: python's entries say 2024-02-29 13:14:16 local time.
    target = os.path.join(work, "ours-from-py-stored", "tree", "hello.txt")
    if os.path.exists(target):
        import time
        t = time.localtime(os.stat(target).st_mtime)
        check(tuple(t[:6]) == (2024, 2, 29, 13, 14, 16), "py-stored: time %s" % (tuple(t[:6]),))


def cli_names(tool, work):
    """Entry names as the paths were given, as Info-ZIP's zip makes them:
    no leading "./" or "/". A ".." is resolved away (zip keeps it; our
    extractor refuses such names, so we never write them)."""
    src = fresh(os.path.join(work, "names"))
    make_tree(os.path.join(src, "tree"))
    os.makedirs(os.path.join(src, "here"))
    absolute = os.path.join(src, "tree", "hello.txt")
    ours, theirs = os.path.join(work, "names-ours.zip"), os.path.join(work, "names-zip.zip")
    for p in (ours, theirs):
        if os.path.exists(p):
            os.remove(p)
    cwd = os.path.join(src, "here")
    rc, out, err = run([tool, "zip", ours, "./../tree/empty.txt", "-l", "0", absolute, "--", "-r"], cwd=cwd)
    check(rc != 0 and "-r" in err, "a path after -- is a path: rc %d %s" % (rc, err))
    rc, out, err = run([tool, "zip", ours, "-l", "0", ".//../tree/empty.txt", absolute, "../tree/docs"], cwd=cwd)
    check(rc == 0, "names: orvanta zip rc %d %s" % (rc, err))
    rc, out, err = run(["zip", "-q", theirs, absolute], cwd=cwd)
    with zipfile.ZipFile(ours) as z, zipfile.ZipFile(theirs) as t:
        names = z.namelist()
        check(names == ["tree/empty.txt", t.namelist()[0], "tree/docs/"], "names: %s vs zip's %s" % (names, t.namelist()))
    rc, out, err = run([tool, "zip", ours, os.path.join(src, "missing"), absolute], cwd=cwd)
    check(rc == 1 and "missing" in err, "names: a missing input: rc %d %s" % (rc, err))


def unix_host(tool, work):
    """Made on Linux, our archives say Unix and carry the modes: Info-ZIP
    unzip keeps the UTF-8 names and restores the modes, zipinfo names the
    origin. A random file is stored (deflate would grow it), also when
    encrypted, and a text deflated."""
    src = fresh(os.path.join(work, "unix-src"))
    files = {"\u00dcn\u00efc\u00f6d\u00e9 file.txt": (b"caf\xc3\xa9\n" * 5000, 0o644),
             "run.sh": (b"#!/bin/sh\necho hi\n", 0o755),
             "locked.txt": (b"keep me\n", 0o444),
             "sub/random.bin": (os.urandom(200000), 0o600)}
    os.makedirs(os.path.join(src, "tree", "sub"))
    for rel, (data, mode) in files.items():
        path = os.path.join(src, "tree", rel)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
    os.chmod(os.path.join(src, "tree", "sub"), 0o750)
    modes = {"tree/" + rel: mode for rel, (data, mode) in files.items()}
    modes["tree/sub"] = 0o750
    utf8 = dict(os.environ, LC_ALL="C.UTF-8")
    archives = fresh(os.path.join(work, "unix-archives"))
    for name, opts, pw in [("plain", [], []), ("zipcrypto", ["-p", PASSWORD, "--zipcrypto"], ["-P", PASSWORD])]:
        archive = os.path.join(archives, name + ".zip")
        rc, out, err = run([tool, "zip", archive, "tree", "-r"] + opts, cwd=src)
        if not check(rc == 0, "unix %s: orvanta zip rc %d %s" % (name, rc, err)):
            continue
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                check(info.create_system == 3, "unix %s: %s made on host %d" % (name, info.filename, info.create_system))
            methods = {i.filename: i.compress_type for i in z.infolist()}
            check(methods["tree/sub/random.bin"] == zipfile.ZIP_STORED, "unix %s: random file not stored" % name)
            check(methods["tree/" + next(iter(files))] == zipfile.ZIP_DEFLATED, "unix %s: text not deflated" % name)
        r = subprocess.run(["unzip", "-Z", "-v", archive], stdout=subprocess.PIPE, env=utf8)
        origins = re.findall(r"file system or operating system of origin:\s+(.*)", r.stdout.decode("utf-8", "replace"))
        check(origins and set(origins) == {"Unix"}, "unix %s: zipinfo says origin %s" % (name, sorted(set(origins))))
        out_unzip = fresh(os.path.join(work, "unix-unzip-" + name))
        r = subprocess.run(["unzip", "-q"] + pw + [archive, "-d", out_unzip], stderr=subprocess.PIPE, env=utf8)
        check(r.returncode == 0, "unix %s: unzip rc %d %s" % (name, r.returncode, r.stderr[-300:]))
        same_tree(out_unzip, {"tree/" + rel: data for rel, (data, mode) in files.items()}, "unix %s: unzip" % name)
        for rel, mode in modes.items():
            path = os.path.join(out_unzip, rel)
            got = os.stat(path).st_mode & 0o7777 if os.path.exists(path) else None
            check(got == mode, "unix %s: unzip gives %s mode %s, not %o" % (name, rel, got and oct(got), mode))
    # Our own unzip: a read-only file stays read-only.
    out_ours = fresh(os.path.join(work, "unix-ours"))
    rc, out, err = run([tool, "unzip", os.path.join(archives, "plain.zip"), "-d", out_ours])
    check(rc == 0, "unix: orvanta unzip rc %d %s" % (rc, err))
    locked = os.path.join(out_ours, "tree", "locked.txt")
    check(os.path.exists(locked) and not os.stat(locked).st_mode & 0o222, "unix: orvanta unzip: locked.txt writable")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--skip-many", action="store_true")
    ap.add_argument("--only-many", action="store_true")
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    if not a.only_many:
        ours_to_theirs(a.tool, a.work)
        theirs_to_ours(a.tool, a.work)
        cli_names(a.tool, a.work)
        unix_host(a.tool, a.work)
    if not a.skip_many:
        zip64_many_entries(a.tool, a.work)
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("zip interop: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
