#!/usr/bin/python3
"""What `orvanta zip` and `orvanta sfx build` do to the files they read and
the file they replace: an output that is one of the inputs (by any name) or
no archive is refused; a failure, a refusal or a full disk leaves the old
file byte for byte and no temporary; pipes, devices, broken links and link
cycles are skipped with a word instead of hanging or failing; every
message says why. Also: control characters in what `sfx inspect` shows.
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import zipfile

from checks import check, finish, run, small_disk


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot(folder, leave_out=()):
    return {n: read(os.path.join(folder, n)) for n in os.listdir(folder) if n not in leave_out}


def changed(before, after):
    return sorted(n for n in set(before) | set(after) if before.get(n) != after.get(n))


def names(archive):
    with zipfile.ZipFile(archive) as z:
        return sorted(z.namelist())


def zip_refusals_and_failures(tool, work):
    """Each case leaves every file of its folder as it was, and nothing more."""
    cases = [  # label, setup(folder), arguments, words the message must hold
        ("output is the input", lambda d: None, ["zip", "notes.txt", "notes.txt"], ["is the input notes.txt"]),
        ("output links to the input", lambda d: os.symlink("notes.txt", os.path.join(d, "out.zip")),
         ["zip", "out.zip", "notes.txt"], ["is the input notes.txt"]),
        ("output is a hard link of the input", lambda d: os.link(os.path.join(d, "notes.txt"), os.path.join(d, "out.zip")),
         ["zip", "out.zip", "notes.txt"], ["is the input notes.txt"]),
        ("output is a file, not an archive", lambda d: None, ["zip", "other.txt", "notes.txt"],
         ["refusing to replace other.txt", "not a zip archive"]),
        ("missing input", lambda d: None, ["zip", "old.zip", "notes.txt", "missing.txt"],
         ["missing.txt", "No such file or directory"]),
        ("duplicate entry half-way", lambda d: None, ["zip", "old.zip", "notes.txt", "./notes.txt"],
         ["notes.txt", "duplicate"]),
        ("output in a missing folder", lambda d: None, ["zip", "no/old.zip", "notes.txt"],
         ["no/old.zip", "No such file or directory"]),
    ]
    for label, setup, args, words in cases:
        d = fresh(os.path.join(work, "refusals"))
        write(os.path.join(d, "notes.txt"), b"notes\n")
        write(os.path.join(d, "other.txt"), b"not an archive\n")
        with zipfile.ZipFile(os.path.join(d, "old.zip"), "w") as z:
            z.writestr("kept.txt", b"the old archive")
        setup(d)
        before = snapshot(d)
        rc, _, err = run([tool] + args, cwd=d, timeout=60)
        check(rc == 1, "zip, %s: exit %s: %s" % (label, rc, err))
        for w in words:
            check(w in err, "zip, %s: message lacks %r: %s" % (label, w, err))
        after = snapshot(d)
        check(not changed(before, after), "zip, %s: changed %s" % (label, changed(before, after)))

    # A rebuilt archive keeps the protection of the one it replaces.
    d = fresh(os.path.join(work, "mode"))
    write(os.path.join(d, "notes.txt"), b"notes\n")
    with zipfile.ZipFile(os.path.join(d, "private.zip"), "w") as z:
        z.writestr("old.txt", b"old")
    os.chmod(os.path.join(d, "private.zip"), 0o600)
    rc, _, err = run([tool, "zip", "private.zip", "notes.txt"], cwd=d)
    check(rc == 0 and names(os.path.join(d, "private.zip")) == ["notes.txt"], "zip over an archive: %s" % err)
    mode = stat.S_IMODE(os.stat(os.path.join(d, "private.zip")).st_mode)
    check(mode == 0o600, "zip over a 0600 archive made it %o" % mode)


def zip_skips(tool, work):
    """Inputs that are no regular files, and links a walk must not follow."""
    d = fresh(os.path.join(work, "skips"))
    tree = os.path.join(d, "tree")
    os.makedirs(os.path.join(tree, "sub"))
    write(os.path.join(tree, "a.txt"), b"a")
    write(os.path.join(tree, "sub", "b.txt"), b"b")
    os.mkfifo(os.path.join(d, "fifo"))
    os.mkfifo(os.path.join(tree, "pipe"))
    os.symlink("/dev/zero", os.path.join(tree, "zero"))
    os.symlink("nowhere", os.path.join(tree, "dangling"))
    os.symlink("..", os.path.join(tree, "sub", "loop"))
    # The archive, reached from inside the tree under other names: it would
    # grow while it is read.
    with zipfile.ZipFile(os.path.join(tree, "out.zip"), "w") as z:
        z.writestr("old.txt", b"old")
    os.link(os.path.join(tree, "out.zip"), os.path.join(tree, "alias.bin"))
    os.symlink("out.zip", os.path.join(tree, "sym.bin"))
    cases = [  # label, arguments, entries, skipped paths with their reasons
        ("fifo and device named", ["fifo", "/dev/zero", "tree/a.txt"], ["tree/a.txt"],
         [("fifo", "not a regular file"), ("/dev/zero", "not a regular file")]),
        ("a tree walked", ["-r", "tree"], ["tree/", "tree/a.txt", "tree/sub/", "tree/sub/b.txt"],
         [("tree/pipe", "not a regular file"), ("tree/zero", "not a regular file"),
          ("tree/dangling", "broken symbolic link"), ("tree/sub/loop", "link cycle")]),
        # Linux files whose size says 0 but that give text: exactly the
        # measured size is read, never more.
        ("a file larger than measured", ["/proc/self/status"], ["proc/self/status"], []),
    ]
    sizes = {}
    for label, args, entries, skipped in cases:
        out = os.path.join(tree, "out.zip") if "-r" in args else os.path.join(d, "out.zip")
        rc, _, err = run([tool, "zip", out] + args, cwd=d, timeout=30)
        if not check(rc == 0, "zip, %s: exit %s: %s" % (label, rc, err)):
            continue
        check(names(out) == entries, "zip, %s: entries %s" % (label, names(out)))
        for path, reason in skipped:
            check("orvanta zip: skipped %s: %s" % (path, reason) in err, "zip, %s: %s not reported: %s" % (label, path, err))
        check(err.count("skipped") == len(skipped), "zip, %s: other skips reported: %s" % (label, err))
        check(not [n for n in os.listdir(os.path.dirname(out)) if n.endswith(".tmp")], "zip, %s: temporary left" % label)
        with zipfile.ZipFile(out) as z:
            sizes.update((i.filename, i.file_size) for i in z.infolist())
    check(sizes.get("proc/self/status") == 0, "zip read more than the measured size: %s" % sizes)


def sfx_build(tool, work):
    d = fresh(os.path.join(work, "sfx"))
    archive = os.path.join(d, "in.zip")
    with zipfile.ZipFile(archive, "w") as z:
        z.writestr("hello.txt", b"hello")
    write(os.path.join(d, "not.zip"), b"plain text")
    write(os.path.join(d, "app.ico"), b"\0\0\1\0")  # a directory header and nothing more
    os.symlink("in.zip", os.path.join(d, "link.exe"))
    cases = [  # label, arguments, exit code, words on standard error
        ("over the zip", ["in.zip", "in.zip"], 1, ["Output file is the Zip file"]),
        ("over the zip, encrypted", ["in.zip", "in.zip", "--password", "pw"], 1, ["Output file is the Zip file"]),
        ("through a link to the zip", ["in.zip", "link.exe", "--password", "pw", "--run", "x"], 1,
         ["Output file is the Zip file"]),
        ("over the icon", ["in.zip", "app.ico", "--icon", "app.ico"], 1, ["Output file is the icon file"]),
        ("input no zip", ["not.zip", "out.exe"], 1, ["not.zip", "not a zip archive"]),
        ("input missing", ["gone.zip", "out.exe"], 1, ["gone.zip", "No such file or directory"]),
        ("icon missing", ["in.zip", "out.exe", "--icon", "gone.ico"], 0, ["warning", "gone.ico", "No such file"]),
        ("icon broken", ["in.zip", "out.exe", "--icon", "app.ico"], 0, ["warning", "app.ico"]),
    ]
    for label, args, want, words in cases:
        before = snapshot(d, ["out.exe"])
        rc, _, err = run([tool, "sfx", "build"] + args, cwd=d, timeout=120)
        check(rc == want, "sfx build, %s: exit %s: %s" % (label, rc, err))
        for w in words:
            check(w in err, "sfx build, %s: message lacks %r: %s" % (label, w, err))
        after = snapshot(d, ["out.exe"])
        check(not changed(before, after), "sfx build, %s: changed %s" % (label, changed(before, after)))
        check(os.path.exists(os.path.join(d, "out.exe")) == (want == 0), "sfx build, %s: output" % label)
        if os.path.exists(os.path.join(d, "out.exe")):
            os.remove(os.path.join(d, "out.exe"))


def sfx_inspect(tool, work):
    d = fresh(os.path.join(work, "inspect"))
    archive = os.path.join(d, "in.zip")
    with zipfile.ZipFile(archive, "w") as z:
        z.writestr("hello.txt", b"hello")
    exe = os.path.join(d, "evil.exe")
    rc, _, err = run([tool, "sfx", "build", archive, exe, "--title", "\x1b[2KSetup", "--run", "\r& evil.exe"])
    if not check(rc == 0, "sfx build with control characters: %s" % err):
        return
    rc, out, err = run([tool, "sfx", "inspect", exe])
    check(rc == 0, "sfx inspect: %s" % err)
    check("\x1b" not in out and "\r" not in out, "sfx inspect prints control characters: %r" % out)
    for shown in ("\\x1b[2KSetup", "\\r& evil.exe"):
        check(shown in out, "sfx inspect does not show %s: %r" % (shown, out))
    # The reason when a self-extractor cannot be read at all.
    os.makedirs(os.path.join(d, "folder.exe"))
    for verb in ("inspect", "extract"):
        for name, reason in (("gone.exe", "No such file or directory"), ("folder.exe", "Is a directory")):
            rc, _, err = run([tool, "sfx", verb, os.path.join(d, name)], cwd=d)
            check(rc == 1 and reason in err, "sfx %s %s: exit %s: %s" % (verb, name, rc, err))


def full_disk(tool, work):
    d = fresh(os.path.join(work, "full"))
    big = os.path.join(d, "big.bin")
    write(big, os.urandom(600 * 1024))
    # The self-extractor must outgrow the disk whatever the stub's size.
    archive = os.path.join(d, "in.zip")
    with zipfile.ZipFile(archive, "w") as z:
        z.write(big, "big.bin")
    with small_disk(d) as disk:
        if disk is None:
            print("SKIP: full-disk test needs root")
            return
        cases = [  # label, the output's name, arguments before and after it
            ("zip", "out.zip", ["zip", "-l", "0"], [big]),
            ("sfx build", "out.exe", ["sfx", "build", archive], []),
            ("sfx build --password", "out.exe", ["sfx", "build", archive], ["--password", "pw"]),
        ]
        for label, name, before, after in cases:
            out = os.path.join(disk, name)
            with zipfile.ZipFile(out, "w") as z:
                z.writestr("old.txt", b"the old file")
            old = read(out)
            rc, _, err = run([tool] + before + [out] + after, timeout=120)
            check(rc not in (0, None), "%s on a full disk: exit %s" % (label, rc))
            check("No space left on device" in err, "%s on a full disk: message: %s" % (label, err))
            check(os.path.exists(out) and read(out) == old, "%s on a full disk: the old file changed" % label)
            check(os.listdir(disk) == [name], "%s on a full disk: left %s" % (label, os.listdir(disk)))
            for n in os.listdir(disk):
                os.remove(os.path.join(disk, n))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    fresh(a.work)
    tool = os.path.abspath(a.tool)
    for step in (zip_refusals_and_failures, zip_skips, sfx_build, sfx_inspect, full_disk):
        step(tool, a.work)
    return finish("zip and sfx build: outputs replaced safely, inputs read safely")


if __name__ == "__main__":
    sys.exit(main())
